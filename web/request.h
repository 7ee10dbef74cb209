// The program's HTTP request routine: one request through the internet layer
// (platform/inet), the body back as bytes, and on demand the header text it
// sent, the cookies, the redirect address and the raw response header block.
//
// Owns: WebRequest. Does not own: taking the address apart (web/url.h), the
// agent choice, the default request lines and the response header scan
// (web/headers.h), folding cookies together (web/cookies.h), or anything the
// internet layer does on its own (following redirects, its cookie store,
// time-outs).
//
// Every call opens its own root handle, connection and request and closes all
// three before it returns; nothing lives on between calls except what the
// caller keeps in its cookie variable. No failure is reported as such: it
// shows in the result (the empty byte string) and in the out-parameters.
//
// Example:
//   Bytes page = WebRequest("http://search.music.example/ws/NSearch?type=all&key=x");
//
//   Text cookies = "sid=1";                 // supplied: sent, then merged
//   Text received, raw, where;
//   Bytes body = WebRequest(url, 1, "a=1", &cookies, &received, nullptr, &where,
//                           true, nullptr, std::nullopt, &raw);
#pragma once

#include <cstdint>
#include <optional>

#include "text/text.h"

namespace qelvaro {

// Performs one request and returns the response body (empty when nothing
// could be read). A null pointer stands for an absent argument: an absent
// in-out parameter starts from its default (empty) and an absent
// out-parameter's value is discarded.
//
//   url              the address (web/url.h reads host, port and path).
//   method           1: "POST"; any other value "GET". Every value but 0
//                    sends a body (see bodyBytes).
//   bodyText         the body as text, used when *bodyBytes is empty.
//   cookies          in-out; null means absent. Supplied (even empty): the
//                    request neither sends nor stores cookies of the shared
//                    store (INTERNET_FLAG_NO_COOKIES), a non-empty value goes
//                    out as the Cookie line, and afterwards the variable holds
//                    MergeCookies of it and the received cookies.
//   receivedCookies  out: the name=value pairs of the Set-Cookie lines, joined
//                    by "; " (without spaces when cookies was supplied).
//   headers          in-out: extra request lines separated by CR LF; the
//                    default lines (CompleteRequestHeaders) are appended and
//                    the variable receives the completed text.
//   redirectAddress  in-out, not cleared at the start: the value of the last
//                    response line containing "Location:"; when still empty
//                    at the end, a copy of the raw header block.
//   noRedirect       stops the layer from following redirects: the redirect
//                    answer's body and Location come back.
//   bodyBytes        in-out: the body as bytes. When a body is sent and this
//                    is empty, it becomes the bytes of bodyText.
//   proxy            supplied (even empty): proxy access with the list
//                    "http=" + *proxy; absent: direct access.
//   rawHeaders       out: the response header block as the layer reports it
//                    (status line and header lines ended by CR LF, then an
//                    empty line), read into a 5000-byte buffer of spaces; a
//                    block that does not fit with its zero byte, or a request
//                    that got no answer, leaves the 5000 spaces.
//
// The agent is AgentFor(headers) (the layer drops CR and LF from it, so an
// agent taken from several header lines never splits the request). The body
// is read in pieces of 1024 bytes until a read delivers nothing.
//
// Failures:
//   - the root handle, the connection or the request cannot be opened: the
//     empty byte string, and no parameter is written. A port outside 0..65535
//     (UrlPort reads any number) counts as a connection that cannot be
//     opened, never as another port; 0 is the scheme's default port.
//   - the request cannot be sent (name not resolved, connection refused,
//     time-out, a reply that is not HTTP): the empty byte string; headers,
//     bodyBytes, receivedCookies (empty), cookies (merged with nothing),
//     rawHeaders (5000 spaces) and redirectAddress are written as usual.
//   - a read that fails in mid-body ends the body with the bytes so far.
//
// The Referer line carries the address with CR and LF written as "%0D" and
// "%0A", like the request line, so that an address holding a line break (an
// id taken from a page) cannot add header lines of its own.
//
//   Text h;  Bytes b = WebRequest("http://h.example/x", 0, Text(), nullptr,
//                                 nullptr, &h);
//   h == "Referer: http://h.example/x\r\nAccept: */*\r\nAccept-Language: zh-cn"
//        "\r\nContent-Type: application/x-www-form-urlencoded"
Bytes WebRequest(const Text& url, std::int32_t method = 0, const Text& bodyText = Text(),
                 Text* cookies = nullptr, Text* receivedCookies = nullptr,
                 Text* headers = nullptr, Text* redirectAddress = nullptr,
                 bool noRedirect = false, Bytes* bodyBytes = nullptr,
                 const std::optional<Text>& proxy = std::nullopt, Text* rawHeaders = nullptr);

}  // namespace qelvaro
