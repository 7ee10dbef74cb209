// The text and byte-string primitives, and TextBetween.
//
// Owns: measuring, cutting, searching, replacing, splitting, trimming, case
// changes, number conversions, concatenation of Text and Bytes. Does not own:
// code-page conversion (text/encodings.h).
//
// Conventions: positions are 1-based byte positions and -1 means "not found";
// every routine returns a new value and never changes its arguments; no
// routine fails: out-of-range positions and counts give the empty text, the
// empty byte string, -1 or 0.
//
// Characters: routines marked "walks characters" treat every byte from 0x80
// up as the lead byte of a two-byte character and step over the byte after
// it, so they never match or change a trail byte (in code page 936 a trail
// byte may look like "\\", "|" or a letter). A lead byte that is the last byte
// of a text is a dangling lead byte. Routines marked "raw bytes" count and cut
// bytes and may split a character.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "text/text.h"

namespace qelvaro {

// ---- Measuring and cutting (raw bytes) ------------------------------------

//   TextLength("ab") == 2
std::int32_t TextLength(const Text& t);
//   TextLeft("abc", 5) == "abc";  TextLeft("abc", 0) == ""
Text TextLeft(const Text& t, std::int32_t n);
//   TextRight("abc", 2) == "bc";  TextRight("abc", 0) == ""
Text TextRight(const Text& t, std::int32_t n);
// Bytes s to min(s + n - 1, length); empty when s < 1, s > length or n <= 0.
//   TextMid("abc", 2, 5) == "bc";  TextMid("abc", 0, 2) == ""
Text TextMid(const Text& t, std::int32_t start, std::int32_t n);
// The one-byte text of the low byte of c; 0 gives the empty text.
//   CharFromCode(65) == "A";  CharFromCode(0) == ""
Text CharFromCode(int c);
// The byte at position p as a signed value (-128..127); 0 out of range.
//   CharCode("\xC4") == -60;  CharCode("a", 2) == 0
int CharCode(const Text& t, std::int32_t p = 1);
//   BlankText(3) == "   ";  BlankText(-1) == ""
Text BlankText(std::int32_t n);

// ---- Searching (walks characters) -----------------------------------------

// First occurrence at or after start (below 1 counts as 1), found only at
// character starts counted from start. The search ignores ASCII case only when
// caseInsensitive is exactly 1. An empty needle gives 1 when the searched
// region is not empty, else -1.
//   FindText("abcabc", "bc") == 2;  FindText("abcabc", "bc", 3) == 5
//   FindText("abcabc", "bc", 7) == -1
std::int32_t FindText(const Text& t, const Text& needle, std::int32_t start = 1,
                      int caseInsensitive = 0);
// Last occurrence that lies wholly inside the first start - 1 bytes (the whole
// text when start is absent), found at character starts counted from the
// beginning of the text.
//   FindTextReverse("abcabc", "bc") == 5;  FindTextReverse("abcabc", "bc", 6) == 2
std::int32_t FindTextReverse(const Text& t, const Text& needle,
                             std::optional<std::int32_t> start = std::nullopt,
                             int caseInsensitive = 0);

// ---- Transforming (walks characters) --------------------------------------

// ASCII a-z to A-Z at character starts; trail bytes never change.
//   ToUpper("ab\xB0x") == "AB\xB0x"... (the byte after 0xB0 is a trail byte)
Text ToUpper(const Text& t);
// ASCII A-Z to a-z at character starts.
Text ToLower(const Text& t);
// Without the spaces (0x20 and the full-width 0xA1 0xA1) at both ends; tab,
// CR and LF are not spaces. A dangling lead byte at the end is cut off instead
// of the trailing spaces before it.
//   TrimBoth("  a b  ") == "a b"
Text TrimBoth(const Text& t);
// Without any space (0x20, or 0xA1 0xA1 at a character start) and without a
// dangling lead byte.
//   RemoveSpaces(" a b ") == "ab"
Text RemoveSpaces(const Text& t);
// Replaces sub by replacement from start on, at most count times (all when
// absent; a count of 0 changes nothing). Compares exactly when caseSensitive,
// else ignoring ASCII case.
//   ReplaceText("a#b#", "#", "-") == "a-b-"
//   ReplaceText("aXa", "x", "y", 1, std::nullopt, false) == "aya"
Text ReplaceText(const Text& t, const Text& sub, const Text& replacement = Text(),
                 std::int32_t start = 1, std::optional<std::int32_t> count = std::nullopt,
                 bool caseSensitive = true);
// Splits at delimiter (always case-sensitive); no trailing empty element; at
// most maximum elements (absent: unlimited; below 0 counts as 0). An empty
// text gives no element, an empty delimiter the whole text.
//   SplitText("a;;b", ";") == {"a", "", "b"};  SplitText("a;b;", ";") == {"a", "b"}
TextArray SplitText(const Text& t, const Text& delimiter = ",",
                    std::optional<std::int32_t> maximum = std::nullopt);

// Concatenation; always a new text.
//   ConcatText({"a", "", "b"}) == "ab"
Text ConcatText(std::initializer_list<std::string_view> parts);
template <class... T>
Text ConcatText(const T&... parts) {
  return ConcatText({std::string_view(parts)...});
}

// The marker extraction: the text between the first left marker at or after
// start and the first right marker after it; empty when either is missing.
// "#引号" in a marker stands for a double quote.
//   TextBetween("<name>abc</name>", "<name>", "</name>") == "abc"
Text TextBetween(const Text& subject, const Text& left, const Text& right,
                 std::int32_t start = 1, bool caseInsensitive = false);

// ---- Converting ------------------------------------------------------------

// The decimal integer at the start of t (walks characters): full-width digits,
// signs and spaces are narrowed first, leading white space skipped, an
// optional sign read. No digits give 0; values beyond 32 bits saturate.
//   TextToInt(" -12x") == -12;  TextToInt("abc") == 0
std::int32_t TextToInt(const Text& t);
// Upper-case hexadecimal without leading zeros ("%X").
//   ToHexText(10) == "A";  ToHexText(-60) == "FFFFFFC4"
Text ToHexText(std::int32_t v);
//   ToText(t) == t
Text ToText(const Text& t);
// The bytes of t without a terminator.
Bytes TextToBytes(const Text& t);
// The bytes up to the first zero byte.
//   BytesToText(Bytes("ab\0c")) == "ab"
Text BytesToText(const Bytes& b);
// The first four bytes as a little-endian signed integer (missing high bytes 0).
//   BytesToInt(Bytes("\x7f")) == 127
std::int32_t BytesToInt(const Bytes& b);
std::int32_t BitOr(std::int32_t a, std::int32_t b);

// ---- Byte strings (raw bytes) ---------------------------------------------

std::int32_t BytesLength(const Bytes& b);
Bytes BytesLeft(const Bytes& b, std::int32_t n);
Bytes BytesRight(const Bytes& b, std::int32_t n);
//   BlankBytes(2) == Bytes("\0\0")
Bytes BlankBytes(std::int32_t n);
// First exact occurrence at or after start (below 1 counts as 1); an empty
// needle gives -1.
std::int32_t FindBytes(const Bytes& b, const Bytes& needle, std::int32_t start = 1);
Bytes ConcatBytes(std::initializer_list<std::string_view> parts);
template <class... T>
Bytes ConcatBytes(const T&... parts) {
  return ConcatBytes({parts.view()...});
}

}  // namespace qelvaro
