// Drives the encoding routines with fuzzed bytes: pages, keywords, UTF-8 and
// UTF-16 data of any shape.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "text/encodings.h"
#include "text/primitives.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qelvaro;
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const Text text(in);
  const Bytes bytes(in);

  (void)DecodePage(text);
  const Text encoded = UrlEncodeKeyword(text);
  // Every byte of an encoded keyword is ASCII.
  for (char c : encoded.view()) {
    if (static_cast<unsigned char>(c) >= 0x80) std::abort();
  }
  const Bytes wide = AnsiToUtf16(text);
  if (wide.size() % 2 != 0 || wide.size() < 2) std::abort();
  const Bytes utf8 = AnsiToUtf8(text);
  if (utf8.empty() || utf8.view().back() != '\0') std::abort();
  (void)Utf8ToAnsi(bytes);
  (void)Utf16ToAnsi(bytes);
  (void)Utf16ToAnsi(wide);
  return 0;
}
