#include "demo/catalogue.h"

#include <algorithm>
#include <cctype>

namespace qelvaro::demo {
namespace {

struct Entry {
  const char* id;
  const char* title;  // HTML
  const char* singer;
  const char* album;
  const char* mp3_path;
  const char* picture;  // file under /star/240/ and the embedded picture
  const char* picture_asset;
  const char* mp3_asset;
};

// The pictures belong to singers: 1 高远, 2 林小川, 3 陈默, 4 苏晴, 5 周子航,
// 6 Blue Harbor (animated), 7 王一帆, 8 Lily Chen (make_assets.cpp draws them).
constexpr Entry kEntries[] = {
    {"3071527", "我的好兄弟", "高远", "兄弟", "n1/58/71/3071527.mp3", "1.jpg", "singer-1.jpg",
     "tone-01.mp3"},
    {"5502168", "我的好兄弟", "林小川、陈默", "老朋友", "n3/21/68/5502168.mp3", "2.jpg",
     "singer-2.jpg", "tone-02.mp3"},
    {"3071530", "我的好兄弟 (Live)", "高远", "高远 2012 演唱会", "n1/58/71/3071530.mp3", "1.jpg",
     "singer-1.jpg", "tone-03.mp3"},
    {"1189243", "后来的我们", "苏晴", "晴天", "n2/11/92/1189243.mp3", "4.jpg", "singer-4.jpg",
     "tone-04.mp3"},
    {"2284611", "晴天的约定", "周子航", "约定", "n2/22/84/2284611.mp3", "5.jpg", "singer-5.jpg",
     "tone-05.mp3"},
    {"6620017", "Rock &amp; Roll Tonight", "Blue Harbor", "Harbor Lights",
     "n3/66/20/6620017.mp3", "6.gif", "singer-6.gif", "tone-06.mp3"},
    {"4410952", "Summer Rain", "Lily Chen", "Seasons", "n1/44/10/4410952.mp3", "8.gif",
     "singer-8.gif", "tone-07.mp3"},
    {"1023388", "月亮代表我的心", "王一帆", "经典老歌", "n2/10/23/1023388.mp3", "7.jpg",
     "singer-7.jpg", "tone-08.mp3"},
    {"3300714", "兄弟情深", "陈默", "老朋友", "n3/33/00/3300714.mp3", "3.jpg", "singer-3.jpg",
     "tone-09.mp3"},
    {"7719405", "Café 旧时光", "苏晴", "晴天", "n1/77/19/7719405.mp3", "4.jpg", "singer-4.jpg",
     "tone-10.mp3"},
    {"2090866", "一路向北", "周子航", "约定", "n2/20/90/2090866.mp3", "5.jpg", "singer-5.jpg",
     "tone-11.mp3"},
    {"8801234", "Hello, 世界", "Lily Chen", "Seasons", "n3/88/01/8801234.mp3", "8.gif",
     "singer-8.gif", "tone-12.mp3"},
};

// The few character references the titles use.
std::string Unescape(std::string_view html) {
  std::string out;
  for (std::size_t i = 0; i < html.size();) {
    static constexpr std::pair<std::string_view, char> kRefs[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
    bool replaced = false;
    for (const auto& [ref, c] : kRefs) {
      if (html.substr(i, ref.size()) == ref) {
        out += c;
        i += ref.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out += html[i++];
  }
  return out;
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace

Catalogue::Catalogue(std::string_view picture_host) {
  for (const Entry& e : kEntries) {
    Song s;
    s.id = e.id;
    s.title = e.title;
    s.name = Unescape(e.title);
    s.singer = e.singer;
    s.album = e.album;
    s.mp3_path = e.mp3_path;
    s.picture_path = std::string("/star/240/") + e.picture;
    s.picture_url = "http://" + std::string(picture_host) + s.picture_path;
    s.mp3_asset = e.mp3_asset;
    s.picture_asset = e.picture_asset;
    songs_.push_back(std::move(s));
  }
}

const Song* Catalogue::Find(std::string_view id) const {
  for (const Song& s : songs_) {
    if (s.id == id) return &s;
  }
  return nullptr;
}

const Song* Catalogue::FindByMp3Path(std::string_view mp3_path) const {
  for (const Song& s : songs_) {
    if (s.mp3_path == mp3_path) return &s;
  }
  return nullptr;
}

const Song* Catalogue::FindByPicturePath(std::string_view path) const {
  for (const Song& s : songs_) {
    if (s.picture_path == path) return &s;
  }
  return nullptr;
}

std::vector<const Song*> Catalogue::Search(std::string_view key) const {
  const std::string needle = AsciiLower(key);
  std::vector<const Song*> found;
  for (const Song& s : songs_) {
    if (AsciiLower(s.name).find(needle) != std::string::npos ||
        AsciiLower(s.singer).find(needle) != std::string::npos) {
      found.push_back(&s);
    }
  }
  return found;
}

}  // namespace qelvaro::demo
