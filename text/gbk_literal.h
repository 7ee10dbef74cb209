// The literal helper: Chinese texts are written in UTF-8 source and become
// code-page-936 Text at run time.
//
// Owns: operator""_gbk. Does not own: conversions of data (text/encodings.h).
//
// Example:
//   Text caption = "歌曲名："_gbk;   // the bytes B8 E8 C7 FA C3 FB A3 BA
#pragma once

#include <cstddef>

#include "text/text.h"

namespace qelvaro {

// Converts UTF-8 source text to code page 936 (characters 936 lacks become
// "?"). Meant for literals; every call converts anew.
Text Gbk(std::string_view utf8);

inline namespace literals {
inline Text operator""_gbk(const char* s, std::size_t n) { return Gbk(std::string_view(s, n)); }
}  // namespace literals

}  // namespace qelvaro
