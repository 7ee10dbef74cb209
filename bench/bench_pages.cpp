#include "bench/bench_pages.h"

#include <cstdint>
#include <vector>

#include "text/gbk_literal.h"

namespace qelvaro::bench {

namespace {

const std::vector<std::string> kUtf8Words = {"我的好兄弟", "歌曲", "下载", "音乐", "歌手"};

std::string MakePage(std::size_t size, const std::vector<std::string>& words) {
  std::string page;
  page.reserve(size + 256);
  std::uint32_t n = 0;
  while (page.size() < size) {
    const std::string& word = words[n % 5];
    page += "<li class=\"item\"><p class=\"m_name\"><a href=\"http://www.music.example/yinyue/";
    page += std::to_string(100000 + n);
    page += "/?k=%E6%88%91%20x\" title=\"";
    page += word;
    page += "\" target=\"_blank\">";
    page += word;
    page += "</a></p><span class=\"singer\">";
    page += words[(n + 2) % 5];
    page += "</span></li>\r\n";
    ++n;
  }
  page.resize(size);
  return page;
}

}  // namespace

std::string MakeUtf8Page(std::size_t size) { return MakePage(size, kUtf8Words); }
std::string MakeGbkPage(std::size_t size) {
  std::vector<std::string> words;
  for (const std::string& w : kUtf8Words) words.push_back(Gbk(w).str());
  return MakePage(size, words);
}

}  // namespace qelvaro::bench
