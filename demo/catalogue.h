// The demo music service's catalogue: a dozen songs with their singers,
// track ids, MP3 paths and singer pictures.
//
// Owns: the song table and the searches over it. Does not own: the pages
// and records built from it (demo/music_service.h serves them) or the bytes
// of the files (embedded in the library, reached through MusicService).
//
// Example:
//   Catalogue c("img.music.example");
//   c.Search("我的好兄弟").size();   // 3: two singers and a live take
//   c.Find("3071527")->singer;        // "高远"
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qelvaro::demo {

// One song. All texts are UTF-8.
struct Song {
  std::string id;            // track id, digits: "3071527"
  std::string title;         // as the search page writes it, HTML: "Rock &amp; Roll Tonight"
  std::string name;          // plain, as the track record writes it: "Rock & Roll Tonight"
  std::string singer;        // "高远"; a duet names both: "林小川、陈默"
  std::string album;
  std::string mp3_path;      // under /resource/ on the download host: "n1/58/71/3071527.mp3"
  std::string picture_path;  // on the pictures' host: "/star/240/1.jpg"
  std::string picture_url;   // "http://img.music.example/star/240/1.jpg"
  std::string mp3_asset;     // embedded file names: "tone-01.mp3"
  std::string picture_asset; //                      "singer-1.jpg"
};

class Catalogue {
 public:
  // The picture addresses name `picture_host`.
  explicit Catalogue(std::string_view picture_host);

  const std::vector<Song>& songs() const { return songs_; }

  // The song of a track id; null when there is none.
  const Song* Find(std::string_view id) const;
  // The song whose MP3 lies at `mp3_path` ("n1/58/71/3071527.mp3"), or null.
  const Song* FindByMp3Path(std::string_view mp3_path) const;
  // A song whose picture lies at `path` ("/star/240/1.jpg"), or null.
  const Song* FindByPicturePath(std::string_view path) const;

  // The songs whose plain name or singer contains `key` (UTF-8; ASCII
  // letters match either case), in catalogue order. An empty key gives all.
  //   Search("") .size() == 12;  Search("rock")[0]->id == "6620017"
  std::vector<const Song*> Search(std::string_view key) const;

 private:
  std::vector<Song> songs_;
};

}  // namespace qelvaro::demo
