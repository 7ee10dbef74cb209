// Page makers shared by the benchmarks: HTML-like pages of a given size,
// mostly ASCII markup with about one byte in ten belonging to Chinese text,
// and percent-escapes in the links.
#pragma once

#include <cstddef>
#include <string>

namespace qelvaro::bench {

// A page in UTF-8 (as the service sends it) of about `size` bytes.
std::string MakeUtf8Page(std::size_t size);

// The same kind of page in code page 936 (as the program holds text).
std::string MakeGbkPage(std::size_t size);

}  // namespace qelvaro::bench
