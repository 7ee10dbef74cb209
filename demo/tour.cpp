#include "demo/tour.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>

#include <cstdio>

#include "app/fatal_error.h"
#include "app/main_window.h"
#include "app/program.h"
#include "platform/gui/qt_access.h"
#include "platform/gui/runtime.h"
#include "regex/regex_object.h"

namespace qelvaro::demo {
namespace {

constexpr int kPatienceMs = 60000;

int Fail(const std::string& why) {
  std::fprintf(stderr, "qelvaro-demo --tour: %s\n", why.c_str());
  return 1;
}

// Lets the window draw and the box report, for a moment.
void Settle(int ms = 100) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// A left click on a point of a widget, as the mouse makes it.
void Click(QWidget* w, QPoint at) {
  const QPointF local(at);
  const QPointF global(w->mapToGlobal(at));
  QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(w, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(w, &release);
}

void Press(const gui::Button& button) {
  auto* w = static_cast<QPushButton*>(gui::NativeWidget(button));
  Click(w, w->rect().center());
}

bool Picture(const gui::窗口& window, const QString& path) {
  Settle();
  return gui::SaveWindowPicture(window, QFile::encodeName(path).constData());
}

}  // namespace

int RunTour(ProgramService& service, const std::string& dirName) {
  const QString dir = QDir(QString::fromLocal8Bit(dirName.c_str())).absolutePath();
  if (!QDir().mkpath(dir)) return Fail("cannot make " + dirName);
  auto at = [&dir](const char* name) { return dir + QLatin1Char('/') + QLatin1String(name); };

  // As start-up does.
  CreateSharedRegex();
  RegisterExitHook(ReleaseGlobals);
  MainWindow window;
  if (!window.Load()) FatalError(0, WindowLoadFailure());

  // The save dialog is answered with the tour's folder.
  QString saved;
  gui::SetSaveDialogRunner([&](const gui::SaveDialogQuestion& q) {
    saved = dir + QLatin1Char('/') + q.fileName;
    return gui::SaveDialogAnswer{true, saved, QFileInfo::exists(saved)};
  });

  // 1. The window as it opens.
  if (!Picture(window.窗口, at("01-window.png"))) return Fail("cannot write the pictures");

  // 2. Search for the initial text.
  Press(window.按钮1);
  if (window.超级列表框1.RowCount() == 0) return Fail("the search found nothing");
  Picture(window.窗口, at("02-search.png"));

  // 3. Click the first result.
  auto* list = static_cast<QTreeWidget*>(gui::NativeWidget(window.超级列表框1));
  Click(list->viewport(), list->visualItemRect(list->topLevelItem(0)).center());
  if (!window.按钮2.Visible()) return Fail("the song's details did not show");
  const std::string id = window.超级列表框1.Cell(0, 1).str();
  Picture(window.窗口, at("03-details.png"));

  // 4. Press 下载 and wait for the download.
  Press(window.按钮2);
  QElapsedTimer waited;
  waited.start();
  auto done = [&] {
    const auto rows = gui::Downloads(window.超文本浏览框1);
    return !rows.empty() && rows.back().finished;
  };
  while (!done() && waited.elapsed() < kPatienceMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  Settle();
  gui::SaveDownloadsWindowPicture(window.超文本浏览框1, QFile::encodeName(at("04-downloads.png")));
  gui::SetSaveDialogRunner({});
  if (!done()) return Fail("the download did not finish in time");
  const gui::DownloadStatus row = gui::Downloads(window.超文本浏览框1).back();
  if (!row.succeeded) return Fail("the download failed: " + row.outcome.toStdString());

  // 5. The file holds what the service served.
  QFile file(saved);
  if (!file.open(QIODevice::ReadOnly)) return Fail("cannot read " + saved.toStdString());
  const QByteArray bytes = file.readAll();
  const std::string served = service.service().Mp3Bytes(id);
  if (served.empty() || bytes.toStdString() != served) {
    return Fail("the saved file differs from the MP3 the service served");
  }
  std::printf("qelvaro-demo --tour: %s (%lld bytes) and the pictures are in %s\n",
              QFileInfo(saved).fileName().toUtf8().constData(), static_cast<long long>(bytes.size()),
              dir.toUtf8().constData());
  return 0;
}

}  // namespace qelvaro::demo
