// Internal to demo/: the asset files compiled into the library (generated
// from demo/assets/files/ by embed_files.cmake).
//
// Owns: the lookup by file name. Does not own: the files' contents or their
// making (demo/assets/make-assets.sh).
#pragma once

#include <cstddef>
#include <string_view>

namespace qelvaro::demo::internal {

struct EmbeddedFile {
  const char* name;  // "tone-01.mp3"
  const unsigned char* data;
  std::size_t size;
};

extern const EmbeddedFile kEmbeddedFiles[];
extern const std::size_t kEmbeddedFileCount;

// The bytes of an embedded file; empty when there is none of that name.
//   FindEmbeddedFile("singer-1.jpg").substr(0, 2) == "\xFF\xD8"
std::string_view FindEmbeddedFile(std::string_view name);

}  // namespace qelvaro::demo::internal
