#include "demo/pages.h"

#include <iconv.h>

#include <cstdio>
#include <utility>

#include "demo/embedded_files.h"

namespace qelvaro::demo::internal {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// The name and singer link of one song, as the search page lists it: all of
// the result markup on one line.
std::string ResultItem(const Song& s, const ServiceOptions& o) {
  const std::string site = "http://" + o.site_host;
  std::string li = "<li><input type=\"checkbox\" name=\"musicid\" value=\"MUSIC_" + s.id + "\">";
  li += "<p class=\"m_name\"><a href=\"" + site + "/yinyue/" + s.id + "/\" title=\"" + s.title +
        "\" target=\"_blank\">" + s.title + "</a></p>";
  li += "<p class=\"s_name\"><a href=\"" + site + "/geshou/" + PercentEncode(s.singer) +
        "/\" title=\"" + HtmlEscape(s.singer) + "\" target=\"_blank\">" + HtmlEscape(s.singer) +
        "</a></p>";
  li += "<p class=\"a_name\"><a href=\"" + site + "/album/" + PercentEncode(s.album) +
        "/\" target=\"_blank\">" + HtmlEscape(s.album) + "</a></p>";
  li += "<p class=\"m_play\"><a href=\"javascript:;\" onclick=\"play('MUSIC_" + s.id +
        "')\">试听</a></p></li>\n";
  return li;
}

std::string SongPageHtml(const Song& s, const ServiceOptions& o) {
  return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" + s.title + " - " +
         HtmlEscape(s.singer) + " - 音乐盒</title>\n</head>\n<body>\n<h1>" + s.title +
         "</h1>\n<p>歌手：<a href=\"http://" + o.site_host + "/geshou/" + PercentEncode(s.singer) +
         "/\">" + HtmlEscape(s.singer) + "</a></p>\n<p>专辑：" + HtmlEscape(s.album) +
         "</p>\n<p><img src=\"" + s.picture_url + "\" width=\"120\" height=\"120\" alt=\"\"></p>\n"
         "<p><a href=\"http://" + o.download_host + "/resource/" + s.mp3_path +
         "\">下载</a></p>\n</body>\n</html>\n";
}

std::string SiteHomeHtml(const Catalogue& c, const ServiceOptions& o) {
  std::string html =
      "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>音乐盒</title>\n"
      "</head>\n<body>\n<h1>音乐盒</h1>\n<ul>\n";
  for (const Song& s : c.songs()) {
    html += "<li><a href=\"http://" + o.site_host + "/yinyue/" + s.id + "/\">" + s.title +
            "</a> - " + HtmlEscape(s.singer) + "</li>\n";
  }
  return html + "</ul>\n</body>\n</html>\n";
}

std::string StartPageHtml(const ServiceOptions& o) {
  return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>Qelvaro</title>\n"
         "</head>\n<body>\n<h1>Qelvaro</h1>\n<p>找歌、看歌手、下载 MP3 的小工具。</p>\n"
         "<p><a href=\"http://" + o.maker_host + "/tool/notice.txt\">最新公告</a></p>\n"
         "</body>\n</html>\n";
}

Response File(std::string_view bytes, const char* content_type) {
  return Response::Text(std::string(bytes), content_type);
}

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

}  // namespace

std::string PercentDecode(std::string_view s, bool plus_is_space) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
      i += 2;
    } else if (s[i] == '+' && plus_is_space) {
      out += ' ';
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string PercentEncode(std::string_view s) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string HtmlEscape(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string FormatSize(std::size_t bytes) {
  char buf[32];
  if (bytes < 1024 * 1024) {
    std::snprintf(buf, sizeof buf, "%.1f KB", static_cast<double>(bytes) / 1024);
  } else {
    std::snprintf(buf, sizeof buf, "%.2f MB", static_cast<double>(bytes) / (1024 * 1024));
  }
  return buf;
}

std::string Utf8ToGbk(std::string_view utf8) {
  Iconv cd("CP936", "UTF-8");
  if (!cd.ok()) return {};
  std::string out(utf8.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t in_left = utf8.size();
  char* dst = out.data();
  std::size_t out_left = out.size();
  if (iconv(cd.get(), &in, &in_left, &dst, &out_left) == static_cast<std::size_t>(-1)) return {};
  out.resize(out.size() - out_left);
  return out;
}

std::string SearchPageHtml(const Catalogue& catalogue, const ServiceOptions& o,
                           std::string_view key) {
  const std::vector<const Song*> found = catalogue.Search(key);
  const std::string shown = HtmlEscape(key);
  const std::string encoded = PercentEncode(key);
  const std::string search = "http://" + o.search_host + "/ws/NSearch?type=";
  std::string html =
      "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
      "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
      "<html xmlns=\"http://www.w3.org/1999/xhtml\">\n<head>\n"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />\n<title>" +
      shown + " - 歌曲搜索 - 音乐盒</title>\n"
      "<link rel=\"stylesheet\" type=\"text/css\" href=\"http://" + o.site_host +
      "/css/search.css?v=20120301\" />\n</head>\n<body>\n"
      "<div id=\"header\"><a class=\"logo\" href=\"http://" + o.site_host + "/\">音乐盒</a>\n"
      "<form action=\"http://" + o.search_host + "/ws/NSearch\" method=\"get\">"
      "<input type=\"hidden\" name=\"type\" value=\"all\" />"
      "<input type=\"text\" name=\"key\" value=\"" + shown + "\" />"
      "<input type=\"submit\" value=\"搜索\" /></form></div>\n"
      "<div class=\"tab\"><a class=\"on\" href=\"" + search + "all&amp;key=" + encoded +
      "\">全部</a> | <a href=\"" + search + "music&amp;key=" + encoded + "\">歌曲</a> | "
      "<a href=\"" + search + "artist&amp;key=" + encoded + "\">歌手</a> | "
      "<a href=\"" + search + "album&amp;key=" + encoded + "\">专辑</a></div>\n";
  if (found.empty()) {
    html += "<p class=\"tip\">抱歉，没有找到与“" + shown + "”相关的歌曲。</p>\n";
  } else {
    html += "<p class=\"tip\">共找到 <b>" + std::to_string(found.size()) + "</b> 首与“" + shown +
            "”相关的歌曲</p>\n<ul class=\"m_list\">\n";
    for (const Song* s : found) html += ResultItem(*s, o);
    html += "</ul>\n<div class=\"page\"><span class=\"current\">1</span></div>\n";
  }
  html +=
      "<div id=\"footer\">&copy; 2012 音乐盒 <a href=\"http://" + o.site_host +
      "/help/%E5%B8%AE%E5%8A%A9.html\">帮助</a></div>\n"
      "<script type=\"text/javascript\">function play(rid){window.open('http://" + o.site_host +
      "/play/?rid='+rid);}</script>\n</body>\n</html>\n";
  return html;
}

std::string TrackRecordText(const Catalogue& catalogue, const ServiceOptions& o,
                            std::string_view id) {
  const Song* s = id.empty() ? nullptr : catalogue.Find(id);
  if (s == nullptr) return std::string(kEmptyRecord);
  return "<Song>\n<rid>MUSIC_" + s->id + "</rid>\n<name>" + s->name + "</name>\n<artist>" +
         s->singer + "</artist>\n<album>" + s->album + "</album>\n<mp3size>" +
         FormatSize(FindEmbeddedFile(s->mp3_asset).size()) + "</mp3size>\n<mp3dl>" +
         o.download_host + "</mp3dl>\n<mp3path>" + s->mp3_path + "</mp3path>\n<artist_pic240>" +
         s->picture_url + "</artist_pic240>\n<format>mp3</format>\n</Song>\n";
}

std::string NoticeText() {
  return Utf8ToGbk(
      "欢迎使用 Qelvaro 演示版！\r\n"
      "输入歌名点“搜索”，点列表中的歌曲看详情。\r\n"
      "演示里的歌曲都是程序生成的提示音。\r\n");
}

std::string NotFoundHtml(std::string_view host, std::string_view path) {
  return "<!DOCTYPE html>\n<html>\n<head><title>404 Not Found</title></head>\n<body>\n"
         "<h1>404 Not Found</h1>\n<p>" + HtmlEscape(host) + HtmlEscape(path) +
         " 不存在。</p>\n</body>\n</html>\n";
}

Response BuiltInResponse(const Request& r, const Catalogue& c, const ServiceOptions& o,
                         const std::string& notice) {
  const std::string_view path = r.path;
  if (r.host == o.search_host && path == "/ws/NSearch") {
    return Response::Html(SearchPageHtml(c, o, r.Param("key")));
  }
  if (r.host == o.record_host && path == "/webmusic/st/getNewMuiseByRid") {
    std::string rid = r.Param("rid");
    std::string id = rid.starts_with("MUSIC_") ? rid.substr(6) : std::string();
    return Response::Text(TrackRecordText(c, o, id));
  }
  if (r.host == o.picture_host) {
    if (const Song* s = c.FindByPicturePath(path)) {
      return File(FindEmbeddedFile(s->picture_asset),
                  EndsWith(s->picture_asset, ".gif") ? "image/gif" : "image/jpeg");
    }
  }
  if (r.host == o.download_host && path.starts_with("/resource/")) {
    if (const Song* s = c.FindByMp3Path(path.substr(10))) {
      return File(FindEmbeddedFile(s->mp3_asset), "audio/mpeg");
    }
  }
  if (r.host == o.maker_host) {
    if (path == "/" || path == "/index.html") return Response::Html(StartPageHtml(o));
    if (path == "/tool/notice.txt") return Response::Text(notice, "text/plain; charset=GBK");
  }
  if (r.host == o.site_host) {
    if (path == "/" || path == "/index.html") return Response::Html(SiteHomeHtml(c, o));
    if (path.starts_with("/yinyue/") && path.size() > 9 && path.back() == '/') {
      if (const Song* s = c.Find(path.substr(8, path.size() - 9))) {
        return Response::Html(SongPageHtml(*s, o));
      }
    }
  }
  return Response::Html(NotFoundHtml(r.host, r.path), 404);
}

std::string_view FindEmbeddedFile(std::string_view name) {
  for (std::size_t i = 0; i < kEmbeddedFileCount; ++i) {
    if (name == kEmbeddedFiles[i].name) {
      return {reinterpret_cast<const char*>(kEmbeddedFiles[i].data), kEmbeddedFiles[i].size};
    }
  }
  return {};
}

}  // namespace qelvaro::demo::internal
