# Build helpers shared by every folder: warnings per target, sanitizer and
# fuzzer instrumentation, and test registration.

set(QELVARO_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
    -Wimplicit-fallthrough -Wmissing-declarations)

if(QELVARO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(QELVARO_FUZZ)
  # Libraries get coverage instrumentation; only the fuzz executables link the
  # libFuzzer driver (see qelvaro_fuzzer).
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined
                      -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# qelvaro_library(NAME ALIAS SOURCES... ) — a static library with warnings on.
function(qelvaro_warnings target)
  target_compile_options(${target} PRIVATE ${QELVARO_WARNINGS})
endfunction()

# qelvaro_test(NAME SOURCES... LIBS ...) — a GoogleTest binary registered with ctest.
function(qelvaro_test name)
  if(QELVARO_FUZZ)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(QELVARO_SANITIZE)
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/sanitizer_options.cpp)
  endif()
  qelvaro_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# qelvaro_fuzzer(NAME SOURCES... LIBS ...) — a libFuzzer executable.
function(qelvaro_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  qelvaro_warnings(${name})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()
