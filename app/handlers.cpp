// The window's three handlers: the search, the track details and the
// download. Each runs on the GUI thread to its end, one at a time.
#include "app/handlers.h"

#include "app/main_window.h"
#include "app/program.h"
#include "app/service_hosts.h"
#include "platform/gui/runtime.h"
#include "regex/regex_object.h"
#include "text/encodings.h"
#include "text/gbk_literal.h"
#include "text/primitives.h"
#include "web/fetch.h"
#include "web/request.h"

namespace qelvaro {

const Text& SearchAddressPrefix() {
  static const Text prefix = ConcatText("http://", kSearchHost, "/ws/NSearch?type=all&key=");
  return prefix;
}

const Text& ResultPattern() {
  static const Text pattern =
      ConcatText("<p class=\"m_name\"><a href=\"http://", kServiceSiteHost,
                 "/yinyue/(.*?)/\" title=\"(.*?)\" target=\"_blank\">");
  return pattern;
}

const Text& RecordAddress() {
  static const Text address =
      ConcatText("http://", kRecordHost, "/webmusic/st/getNewMuiseByRid?rid=MUSIC_");
  return address;
}

const Text& EmptyRecord() {
  static const Text record = "<Song>\n</Song>\n";
  return record;
}

void MainWindow::SearchSongs() {
  const Text name = 编辑框1.GetText();
  const Text encoded = UrlEncodeKeyword(name);
  const Text address = ConcatText(SearchAddressPrefix(), encoded);
  const Bytes body = WebRequest(address);
  Text page = DecodePage(BytesToText(body));
  // The previous page goes before the new one takes its place.
  PageText = Text();
  PageText = std::move(page);

  SharedRegex->Create(ResultPattern(), PageText);
  const std::int32_t n = SharedRegex->MatchCount();
  for (std::int32_t i = 1; i <= n; ++i) {
    const int row = 超级列表框1.AppendRow();
    超级列表框1.SetCell(row, 0, SharedRegex->SubMatchText(i, 2));
    超级列表框1.SetCell(row, 1, SharedRegex->SubMatchText(i, 1));
  }
}

void MainWindow::ShowTrackDetails() {
  const int row = 超级列表框1.CurrentSelection();
  const Text id = 超级列表框1.Cell(row, 1);
  const Text address = ConcatText(RecordAddress(), id);
  const Text record = DecodePage(BytesToText(WebRequest(address)));

  标签4.SetCaption(ConcatText("歌曲名："_gbk, TextBetween(record, "<name>", "</name>")));
  标签5.SetCaption(ConcatText("歌手："_gbk, TextBetween(record, "<artist>", "</artist>")));
  标签3.SetCaption(ConcatText("歌曲大小："_gbk, TextBetween(record, "<mp3size>", "</mp3size>")));

  编辑框6.SetText(record);
  if (编辑框6.GetText() == EmptyRecord()) {
    标签2.SetVisible(false);
    编辑框4.SetVisible(false);
    按钮2.SetVisible(false);
    图片框1.SetVisible(false);
    gui::ShowMessage("请点击列表中的歌曲名字选择歌曲"_gbk, "提示"_gbk);
    return;
  }

  编辑框2.SetText(TextBetween(record, "<mp3dl>", "</mp3dl>"));
  编辑框3.SetText(TextBetween(record, "<mp3path>", "</mp3path>"));
  编辑框4.SetText(ConcatText("http://", 编辑框2.GetText(), "/resource/", 编辑框3.GetText()));
  编辑框5.SetText(TextBetween(record, "<artist_pic240>", "</artist_pic240>"));
  图片框1.SetPicture(FetchResource(编辑框5.GetText()));

  标签2.SetVisible(true);
  编辑框4.SetVisible(true);
  按钮2.SetVisible(true);
  图片框1.SetVisible(true);
}

void MainWindow::StartDownload() {
  if (编辑框4.GetText().empty()) {
    gui::ShowMessage("你没选择歌曲，无法下载，请先在列表选择歌曲。"_gbk, "提示"_gbk);
    return;
  }
  超文本浏览框1.SetAddress(编辑框4.GetText());
}

}  // namespace qelvaro
