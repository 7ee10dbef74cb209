// The constants of the window's handlers: the addresses they request and the
// pattern and record they read.
//
// Owns: SearchAddressPrefix, ResultPattern, RecordAddress, EmptyRecord. Does
// not own: the handlers themselves (MainWindow's SearchSongs,
// ShowTrackDetails and StartDownload, app/main_window.h).
#pragma once

#include "text/text.h"

namespace qelvaro {

// "http://" + the search server + "/ws/NSearch?type=all&key="; the encoded
// song name is appended to it as it is.
const Text& SearchAddressPrefix();

// One result of the search page. The main web site's host goes in as the
// result links spell it, its dots unescaped (each matches any character).
// Group 1 is the track id, group 2 the title.
//   <p class="m_name"><a href="http://www.music.example/yinyue/(.*?)/" title="(.*?)" target="_blank">
const Text& ResultPattern();

// "http://" + the track-record server + "/webmusic/st/getNewMuiseByRid?rid=MUSIC_";
// the track id is appended unchanged.
const Text& RecordAddress();

// The record the service sends when no song was chosen: "<Song>\n</Song>\n".
const Text& EmptyRecord();

}  // namespace qelvaro
