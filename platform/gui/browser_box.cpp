// The browser box's Qt side: the save dialog and the downloads window.
#include "platform/gui/browser_box.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <chrono>
#include <map>
#include <mutex>

#include "platform/gui/runtime.h"
#include "text/gbk_literal.h"

namespace qelvaro::gui {

namespace {

std::mutex g_runnerMutex;
SaveDialogRunner g_runner;

SaveDialogAnswer RunFileDialog(const SaveDialogQuestion& q) {
  const QString chosen = QFileDialog::getSaveFileName(
      q.parent, ToQString("保存文件"_gbk), QDir(q.folder).filePath(q.fileName));
  if (chosen.isEmpty()) return {};
  // The dialog has asked before it let an existing file be chosen.
  return {true, chosen, QFileInfo::exists(chosen)};
}

SaveDialogAnswer AskUser(const SaveDialogQuestion& q) {
  SaveDialogRunner runner;
  {
    std::lock_guard lock(g_runnerMutex);
    runner = g_runner;
  }
  return runner ? runner(q) : RunFileDialog(q);
}

QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// "512 B", "11.8 KB", "3.2 MB", "1.0 GB".
QString Amount(double bytes) {
  if (bytes < 1024) return QStringLiteral("%1 B").arg(static_cast<qint64>(bytes));
  const char* units[] = {"KB", "MB", "GB", "TB"};
  int unit = 0;
  bytes /= 1024;
  while (bytes >= 1024 && unit < 3) {
    bytes /= 1024;
    ++unit;
  }
  return QStringLiteral("%1 %2").arg(bytes, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

}  // namespace

SaveDialogRunner SetSaveDialogRunner(SaveDialogRunner runner) {
  std::lock_guard lock(g_runnerMutex);
  SaveDialogRunner previous = std::move(g_runner);
  g_runner = std::move(runner);
  return previous;
}

namespace internal {

using Clock = std::chrono::steady_clock;

// The downloads window: one row per download, newest last. Not modal; it
// does not keep the program running when the main window closes.
class DownloadsWindow final : public QWidget {
 public:
  DownloadsWindow(QWidget* parent, std::function<void(browser::DownloadId)> cancel)
      : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
        cancel_(std::move(cancel)) {
    setObjectName(QStringLiteral("下载"));
    setWindowTitle(ToQString("下载"_gbk));
    setAttribute(Qt::WA_QuitOnClose, false);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* inner = new QWidget(scroll);
    rows_ = new QVBoxLayout(inner);
    rows_->setContentsMargins(8, 8, 8, 8);
    rows_->setSpacing(6);
    rows_->addStretch(1);
    scroll->setWidget(inner);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
    resize(440, 170);
    // The rate of a download that waits for data falls to nothing.
    tick_.setInterval(500);
    QObject::connect(&tick_, &QTimer::timeout, this, [this] {
      for (auto& [id, row] : entries_) {
        if (!row.status.finished) Sample(row);
      }
    });
    tick_.start();
  }

  void Add(browser::DownloadId id, const browser::DownloadStart& start) {
    Entry& e = entries_[id];
    e.status.fileName = FromUtf8(start.fileName);
    e.status.path = QFile::decodeName(QByteArray::fromStdString(start.path));
    e.status.total = start.total ? static_cast<qint64>(*start.total) : -1;
    e.started = Clock::now();

    e.frame = new QFrame();
    e.frame->setObjectName(QStringLiteral("download-%1").arg(id));
    e.frame->setFrameShape(QFrame::StyledPanel);
    auto* grid = new QGridLayout(e.frame);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setVerticalSpacing(2);
    e.name = new QLabel(e.status.fileName);
    e.name->setTextFormat(Qt::PlainText);
    e.name->setObjectName(QStringLiteral("name"));
    e.bar = new QProgressBar();
    e.bar->setObjectName(QStringLiteral("progress"));
    e.bar->setTextVisible(false);
    e.bar->setFixedHeight(12);
    e.bytes = new QLabel();
    e.bytes->setObjectName(QStringLiteral("bytes"));
    e.rate = new QLabel();
    e.rate->setObjectName(QStringLiteral("rate"));
    e.outcome = new QLabel();
    e.outcome->setObjectName(QStringLiteral("outcome"));
    e.outcome->setTextFormat(Qt::PlainText);
    e.cancel = new QPushButton(ToQString("取消"_gbk));
    e.cancel->setObjectName(QStringLiteral("cancel"));
    e.open = new QPushButton(ToQString("打开文件夹"_gbk));
    e.open->setObjectName(QStringLiteral("openFolder"));
    e.open->setVisible(false);
    grid->addWidget(e.name, 0, 0, 1, 3);
    grid->addWidget(e.cancel, 0, 3);
    grid->addWidget(e.open, 0, 3);
    grid->addWidget(e.bar, 1, 0, 1, 4);
    grid->addWidget(e.bytes, 2, 0);
    grid->addWidget(e.rate, 2, 1);
    grid->addWidget(e.outcome, 2, 2, 1, 2);
    grid->setColumnStretch(2, 1);
    QObject::connect(e.cancel, &QPushButton::clicked, this, [this, id] { cancel_(id); });
    const QString folder = QFileInfo(e.status.path).absolutePath();
    QObject::connect(e.open, &QPushButton::clicked, this,
                     [folder] { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); });
    rows_->insertWidget(rows_->count() - 1, e.frame);
    Sample(e);
    Show(e);
  }

  void Update(browser::DownloadId id, std::uint64_t received) {
    auto it = entries_.find(id);
    if (it == entries_.end() || it->second.status.finished) return;
    it->second.status.received = static_cast<qint64>(received);
    Sample(it->second);
    Show(it->second);
  }

  void Finish(browser::DownloadId id, std::uint64_t received, const browser::Outcome& outcome) {
    auto it = entries_.find(id);
    if (it == entries_.end() || it->second.status.finished) return;
    Entry& e = it->second;
    e.status.received = static_cast<qint64>(received);
    e.status.finished = true;
    e.status.succeeded = outcome.failure == browser::Failure::kNone;
    e.status.outcome = ToQString(browser::OutcomeText(outcome));
    e.finishedAt = Clock::now();
    Show(e);
  }

  std::vector<DownloadStatus> Statuses() const {
    std::vector<DownloadStatus> out;
    for (const auto& [id, e] : entries_) out.push_back(e.status);
    return out;
  }

 private:
  struct Entry {
    DownloadStatus status;
    Clock::time_point started;
    Clock::time_point finishedAt;
    std::deque<std::pair<Clock::time_point, qint64>> samples;  // the last 3 s
    QFrame* frame = nullptr;
    QLabel* name = nullptr;
    QProgressBar* bar = nullptr;
    QLabel* bytes = nullptr;
    QLabel* rate = nullptr;
    QLabel* outcome = nullptr;
    QPushButton* cancel = nullptr;
    QPushButton* open = nullptr;
  };

  static void Sample(Entry& e) {
    const Clock::time_point now = Clock::now();
    e.samples.emplace_back(now, e.status.received);
    while (e.samples.size() > 2 && now - e.samples.front().first > std::chrono::seconds(3)) {
      e.samples.pop_front();
    }
    if (e.rate != nullptr && e.samples.size() >= 2) {
      const double seconds =
          std::chrono::duration<double>(e.samples.back().first - e.samples.front().first).count();
      const double bytes = static_cast<double>(e.samples.back().second - e.samples.front().second);
      if (seconds > 0.05) e.rate->setText(Amount(bytes / seconds) + QStringLiteral("/s"));
    }
  }

  static void Show(Entry& e) {
    const DownloadStatus& s = e.status;
    if (s.total > 0) {
      e.bar->setRange(0, 1000);
      e.bar->setValue(static_cast<int>(std::min<qint64>(1000, s.received * 1000 / s.total)));
      e.bytes->setText(Amount(static_cast<double>(s.received)) + QStringLiteral(" / ") +
                       Amount(static_cast<double>(s.total)));
    } else if (s.finished) {
      e.bar->setRange(0, 1000);
      e.bar->setValue(s.succeeded ? 1000 : 0);
      e.bytes->setText(Amount(static_cast<double>(s.received)));
    } else {
      e.bar->setRange(0, 0);  // busy: the total is unknown
      e.bytes->setText(Amount(static_cast<double>(s.received)));
    }
    if (s.finished) {
      if (s.succeeded) e.bar->setValue(1000);
      e.outcome->setText(s.outcome);
      // The rate over the whole download.
      const double seconds = std::chrono::duration<double>(e.finishedAt - e.started).count();
      if (s.received > 0 && seconds > 0) {
        e.rate->setText(Amount(static_cast<double>(s.received) / seconds) + QStringLiteral("/s"));
      } else {
        e.rate->clear();
      }
      e.cancel->setVisible(false);
      e.open->setVisible(s.succeeded);
    }
  }

  std::function<void(browser::DownloadId)> cancel_;
  QVBoxLayout* rows_ = nullptr;
  std::map<browser::DownloadId, Entry> entries_;
  QTimer tick_;
};

BrowserBox::BrowserBox(QWidget* owner) : owner_(owner), engine_(*this) {}

BrowserBox::~BrowserBox() {
  engine_.Shutdown();
  delete window_.data();
}

void BrowserBox::Navigate(const std::string& address, bool background) {
  engine_.Navigate(address, background ? browser::Engine::kBackground : browser::Engine::kReported);
}

std::vector<DownloadStatus> BrowserBox::Statuses() const {
  return window_ ? window_->Statuses() : std::vector<DownloadStatus>{};
}

QWidget* BrowserBox::Window() const { return window_.data(); }

void BrowserBox::Post(std::function<void()> work) {
  // Queued to the box's widget: runs on the GUI thread, or never once the
  // widget has gone.
  QMetaObject::invokeMethod(owner_, std::move(work), Qt::QueuedConnection);
}

void BrowserBox::AskSave(const browser::SaveQuestion& question,
                         std::function<void(const browser::SaveChoice&)> answer) {
  Post([this, q = question, a = std::move(answer)]() mutable {
    questions_.push_back({std::move(q), std::move(a)});
    AskNext();
  });
}

void BrowserBox::AskNext() {
  if (asking_ || questions_.empty()) return;
  if (HandlerRunning()) {
    // Not in the middle of a handler: ask once it has returned.
    QTimer::singleShot(50, owner_, [this] { AskNext(); });
    return;
  }
  Question next = std::move(questions_.front());
  questions_.pop_front();
  SaveDialogQuestion q;
  q.parent = owner_->window();
  q.folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
  if (q.folder.isEmpty()) q.folder = QDir::homePath();
  q.fileName = FromUtf8(next.question.proposedName);
  q.address = FromUtf8(next.question.address);

  asking_ = true;
  const QPointer<QObject> alive(owner_);
  const SaveDialogAnswer a = AskUser(q);
  if (!alive) {
    next.answer({});  // the box went while the dialog was open
    return;
  }
  asking_ = false;
  browser::SaveChoice choice;
  choice.accepted = a.accepted && !a.path.isEmpty();
  choice.path = QFile::encodeName(a.path).toStdString();
  choice.mayReplace = a.replace;
  next.answer(choice);
  if (!questions_.empty()) QTimer::singleShot(0, owner_, [this] { AskNext(); });
}

DownloadsWindow* BrowserBox::OpenWindow() {
  if (!window_) {
    QWidget* main = owner_->window();
    window_ = new DownloadsWindow(main, [this](browser::DownloadId id) { engine_.Cancel(id); });
    // Beside the main window, where the screen has room.
    QRect placed(QPoint(0, 0), window_->size());
    placed.moveTopLeft(main->frameGeometry().topRight() + QPoint(8, 0));
    if (const QScreen* screen = main->screen()) {
      const QRect room = screen->availableGeometry();
      if (!room.contains(placed)) placed.moveTopRight(room.topRight());
    }
    window_->move(placed.topLeft());
  }
  window_->show();
  window_->raise();
  return window_;
}

void BrowserBox::Started(browser::DownloadId id, const browser::DownloadStart& start) {
  Post([this, id, start] { OpenWindow()->Add(id, start); });
}

void BrowserBox::Progress(browser::DownloadId id, std::uint64_t received) {
  Post([this, id, received] {
    if (window_) window_->Update(id, received);
  });
}

void BrowserBox::Finished(browser::DownloadId id, std::uint64_t received,
                          const browser::Outcome& outcome) {
  Post([this, id, received, outcome] {
    if (window_) window_->Finish(id, received, outcome);
  });
}

}  // namespace internal
}  // namespace qelvaro::gui
