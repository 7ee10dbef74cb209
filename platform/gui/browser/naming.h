// The browser box's decisions about an answer, as plain routines over
// strings: whether it is a page or a file, which file name to propose for a
// file, where a redirect leads, and the header values they read.
//
// Owns: the page-or-file rule, the file-name choice and its sanitising,
// address resolution, header lookup in a raw header block. Does not own:
// fetching (platform/gui/browser/engine.h), the file on disk
// (platform/gui/browser/part_file.h).
//
// File names are UTF-8. Header blocks are as HttpQueryInfoA's
// HTTP_QUERY_RAW_HEADERS_CRLF gives them: the status line, header lines, each
// ended by CR LF.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qelvaro::gui::browser {

// A page is shown, anything else is a file to save: text/html or any other
// text/* type, unless Content-Disposition says attachment. No type at all is
// a file.
//   IsPageAnswer("text/html; charset=utf-8", "")        == true
//   IsPageAnswer("text/plain", "attachment; filename=a") == false
//   IsPageAnswer("audio/mpeg", "inline")                 == false
bool IsPageAnswer(std::string_view contentType, std::string_view contentDisposition);

// The file name Content-Disposition names: filename* (UTF-8 or ISO-8859-1,
// percent-encoded) when it is usable, else filename (quoted or a token; bytes
// that are not UTF-8 are read as code page 936). Empty when it names none.
// Not sanitised.
//   DispositionFileName("attachment; filename=\"a b.mp3\"")          == "a b.mp3"
//   DispositionFileName("attachment; filename*=UTF-8''%E6%AD%8C.mp3") == "歌.mp3"
std::string DispositionFileName(std::string_view contentDisposition);

// The last path segment of an address (no query, no fragment),
// percent-decoded; read as code page 936 when the bytes are not UTF-8. Empty
// when the path ends with "/".
//   LastPathSegment("http://h/resource/n1/%E6%AD%8C.mp3?x=1") == "歌.mp3"
std::string LastPathSegment(std::string_view address);

// A name safe to create in a folder: "/" and "\" become "_"; control
// characters (C0, DEL, C1) and invisible format characters (bidirectional
// overrides, zero-width marks) are dropped; leading dots and spaces and
// trailing spaces go; Chinese and every other character stay. Longer than
// 200 bytes, the stem is cut at a character boundary so that the extension
// (up to 16 bytes) is kept. Empty when nothing is left.
//   SanitizeFileName("../../etc/passwd") == "_.._etc_passwd"
//   SanitizeFileName("..")               == ""
std::string SanitizeFileName(std::string_view name);

// The name the save dialog proposes: the sanitised Content-Disposition name,
// else the sanitised last path segment of the final address, else
// "download".
std::string ProposedFileName(std::string_view contentDisposition, std::string_view finalAddress);

// Where a redirect's Location leads from base (an absolute http or https
// address): absolute, scheme-relative, absolute-path, relative and
// query-only references, with "." and ".." resolved. The fragment is dropped.
// Empty when the reference or the base is unusable.
//   ResolveAddress("http://h/a/b/c", "../d?x") == "http://h/a/d?x"
//   ResolveAddress("http://h/a", "//g.example/x") == "http://g.example/x"
std::string ResolveAddress(std::string_view base, std::string_view reference);

// The value of the first header line of that name (any case), trimmed.
std::optional<std::string> HeaderValue(std::string_view rawHeaders, std::string_view name);

// A Content-Length value: digits only, at most 18 of them.
std::optional<std::uint64_t> ParseContentLength(std::string_view value);

}  // namespace qelvaro::gui::browser
