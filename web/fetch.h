// Fetching one whole resource (a picture, a notice text) by a plain GET.
//
// Owns: FetchResource and the one root handle it keeps for the run
// (ReleaseFetchRoot). Does not own: what the bytes mean (no decoding, no
// status check), or anything the internet layer does on its own (following
// redirects, its cookie store, time-outs).
//
// Example:
//   Bytes picture = FetchResource("http://img.music.example/star/120/a.jpg");
//   if (picture.empty()) { ... }   // no answer, or an empty body
#pragma once

#include "text/text.h"

namespace qelvaro {

// The body of the response to a GET of url, as received, or the empty byte
// string when there is none:
//   - an empty url gives the empty byte string at once, without opening
//     anything;
//   - the address is canonicalised without percent-encoding and split into
//     host (at most 255 bytes), port, user name and password (127 each) and
//     object path with its query (2047); one that cannot be split, or whose
//     scheme is neither http nor https, gives the empty byte string;
//   - the path is cut at its first "#": a fragment is never sent;
//   - the request is "GET" path "HTTP/1.0" with the agent
//     "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)", one line
//     "Accept: */*", the desktop's proxy setting (on Linux the environment),
//     redirects followed and the shared cookie store used;
//   - the body is read in pieces of n + 1 bytes (at most 102400) when the
//     response announces a Content-Length n of at least 1, otherwise of 10240
//     bytes, until a read delivers nothing; a read that fails in mid-body
//     ends the fetch with the bytes so far.
// HTTP error statuses are not examined: a 404 page comes back like any body.
//
// All calls share one root handle, made by the first call that gets as far
// as needing it; when making it fails, that call gives the empty byte string
// and the next call tries again.
//   FetchResource("http://h.example/a.txt#top")   // sends GET /a.txt
Bytes FetchResource(const Text& url);

// Closes the root handle FetchResource keeps, for the exit path of the
// program (and tests). A later FetchResource makes a new one. Harmless when
// there is none.
void ReleaseFetchRoot();

}  // namespace qelvaro
