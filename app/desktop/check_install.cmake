# Installs the build into a fresh prefix and checks the layout a desktop
# expects: the programs in bin/, the entries in share/applications/, the icon
# in share/icons/hicolor/.
#   cmake -DBUILD_DIR=... -DPREFIX=... -P check_install.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(path bin/qelvaro bin/qelvaro-demo
             share/applications/qelvaro.desktop share/applications/qelvaro-demo.desktop
             share/icons/hicolor/scalable/apps/qelvaro.svg
             share/icons/hicolor/128x128/apps/qelvaro.png)
  if(NOT EXISTS ${PREFIX}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
foreach(program qelvaro qelvaro-demo)
  execute_process(COMMAND test -x ${PREFIX}/bin/${program} RESULT_VARIABLE runnable)
  if(NOT runnable EQUAL 0)
    message(FATAL_ERROR "not executable: bin/${program}")
  endif()
  file(STRINGS ${PREFIX}/share/applications/${program}.desktop exec REGEX "^Exec=")
  if(NOT exec STREQUAL "Exec=${program}")
    message(FATAL_ERROR "${program}.desktop runs '${exec}'")
  endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
