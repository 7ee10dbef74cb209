// Reading a response body in pieces of a fixed size into one byte string.
// Internal to web/ (the request routine and the whole-resource fetch).
//
// Owns: the read loop and the growth of the body. Does not own: the piece
// size each routine chooses, or the request handle.
#pragma once

#include <cstdint>

#include "platform/inet/inet.h"
#include "text/text.h"

namespace qelvaro::web_internal {

// The announced body length (Content-Length, read into a 32-byte buffer as
// the decimal number it spells), or 0 when there is none or it is not a
// positive number. Values too large for 32 bits saturate.
std::int64_t AnnouncedLength(platform::HINTERNET request);

// Reads pieces of pieceSize bytes with InternetReadFile and appends what each
// delivers, until a read delivers 0 bytes (the end, or a failed read: the
// bytes so far are the body). expected (e.g. AnnouncedLength) only sizes the
// storage up front, so that a body of the announced length is never copied
// while it grows; it does not limit what is read.
Bytes ReadBody(platform::HINTERNET request, platform::DWORD pieceSize, std::int64_t expected);

}  // namespace qelvaro::web_internal
