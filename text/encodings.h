// The conversions between the program's code-page-936 texts, UTF-16, UTF-8
// and percent-encoding.
//
// Owns: UrlEncodeKeyword, DecodePage and the four code-page conversions under
// them. Does not own: the platform conversions themselves
// (platform/codepage/codepage.h). None of them fails: malformed UTF-8 becomes
// U+FFFD and characters 936 cannot hold become "?".
//
// "ANSI" is the platform's CP_ACP, which is code page 936 here.
#pragma once

#include "text/text.h"

namespace qelvaro {

// Percent-encodes a song name as UTF-8 for the search address (walks
// characters: a byte from 0x80 up is converted together with the byte after
// it, even when that trail byte looks like ASCII). Letters, digits, the space
// and control bytes other than TAB, CR and LF pass unchanged; all ASCII
// punctuation is escaped.
//   UrlEncodeKeyword("a-b c") == "a%2Db c"
//   UrlEncodeKeyword("\xCE\xD2") == "%E6%88%91"
Text UrlEncodeKeyword(const Text& keyword);

// The text in UTF-16LE followed by one zero unit.
//   AnsiToUtf16("ab") == Bytes("a\0b\0\0\0")
Bytes AnsiToUtf16(const Text& t);
// The text in UTF-8 followed by one zero byte.
//   AnsiToUtf8("ab") == Bytes("ab\0")
Bytes AnsiToUtf8(const Text& t);

// Undoes every percent-escape of a fetched page (raw bytes; either digit case;
// %00 adds nothing; a "%" without two hex digits after it stays as it is),
// then converts the result from UTF-8.
//   DecodePage("%e6%88%91") == "\xCE\xD2";  DecodePage("a+b") == "a+b"
Text DecodePage(const Text& page);
// UTF-8 data, up to its first zero byte, converted.
//   Utf8ToAnsi(Bytes("ab")) == "ab"
Text Utf8ToAnsi(const Bytes& data);
// UTF-16LE data, up to its first zero unit, converted.
//   Utf16ToAnsi(Bytes("a\0\0\0b\0")) == "a"
Text Utf16ToAnsi(const Bytes& data);

}  // namespace qelvaro
