// The code-page conversions of the platform: MultiByteToWideChar and
// WideCharToMultiByte with the Windows calling contract, for the ANSI code
// page, code page 936 and UTF-8.
//
// Owns: the two conversion calls and their constants. Code page 936 goes
// through glibc iconv ("CP936"), with ASCII runs copied directly; UTF-8 is
// converted by hand. Does not own: any notion of Text or Bytes (see text/).
//
// The contract the callers rely on:
//   - dstLen == 0 asks for the size only: the result is the number of units
//     the conversion needs, and dst is not touched (it may be null).
//   - srcLen == -1 means "up to and including the terminating zero"; the zero
//     is converted and counted in the result. srcLen == 0, or below -1, fails.
//   - The result is the number of units written (or needed); 0 means failure:
//     bad parameters, an unknown code page, or a dst too small for the whole
//     conversion (nothing useful is promised in dst then).
//   - Malformed input never fails a conversion: malformed UTF-8 and invalid
//     936 byte pairs become U+FFFD; characters that 936 cannot represent
//     (lone surrogates included) become "?" (0x3F).
//   - flags must be 0; WideCharToMultiByte also accepts WC_COMPOSITECHECK.
//     Any other flag fails.
//   - On Linux there is no active ANSI code page, so CP_ACP means 936.
//
// Example:
//   char16_t out[8];
//   int n = MultiByteToWideChar(CP_UTF8, 0, "ab", -1, out, 8);  // 3: 'a' 'b' 0
#pragma once

#include <cstdint>

namespace qelvaro::platform {

using UINT = unsigned int;
using DWORD = std::uint32_t;
using WCHAR = char16_t;
using BOOL = int;

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_GBK = 936;
inline constexpr UINT CP_UTF8 = 65001;

// Accepted and ignored: the conversions never decompose or compose.
inline constexpr DWORD WC_COMPOSITECHECK = 0x00000200;

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLen,
                        WCHAR* dst, int dstLen);

// defaultChar and usedDefaultChar are accepted for the Windows shape; "?" is
// always the replacement and usedDefaultChar, when given, is set to whether
// any character was replaced.
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* src, int srcLen,
                        char* dst, int dstLen, const char* defaultChar = nullptr,
                        BOOL* usedDefaultChar = nullptr);

}  // namespace qelvaro::platform
