// The run time: the application object, the busy state, message boxes.
#include "platform/gui/runtime.h"

#include <unistd.h>

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QFont>
#include <QMessageBox>
#include <QPixmap>
#include <QThread>

#include <atomic>
#include <memory>

#include "app/fatal_error.h"
#include "platform/gui/look_internal.h"
#include "platform/inet/inet.h"
#include "platform/gui/qt_access.h"
#include "platform/gui/runtime_internal.h"

namespace qelvaro::gui {

namespace {

bool g_ready = false;            // InitializeRuntime has run
bool g_handlerRunning = false;   // a handler is running now
std::atomic<MessageBoxRunner> g_runner{nullptr};

bool IsInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
    case QEvent::HoverLeave:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
      return true;
    default:
      return false;
  }
}

// While a handler runs, the program's windows take no input. A modal box the
// handler shows is the exception: it takes input, and Qt's modality keeps it
// from every other window.
class InputBlock final : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!g_handlerRunning || !IsInput(event->type())) return QObject::eventFilter(watched, event);
    return QApplication::activeModalWidget() == nullptr;
  }
};

// What Qt reports while the application object is being made. A fatal
// message there means the window system could not be opened.
Text g_startFailure;
QtMessageHandler g_previousHandler = nullptr;

void StartUpMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg) FatalError(0, g_startFailure);
  if (g_previousHandler != nullptr) {
    g_previousHandler(type, context, message);
  } else {
    const QByteArray line = message.toUtf8() + '\n';
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, line.constData(), line.size());
  }
}

// A message-box text as the box shows it: CR LF, a bare CR and a bare LF
// each break the line.
QString BoxText(const Text& text) {
  QString shown = ToQString(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(u'\r', u'\n');
  return shown;
}

void RunBox(QMessageBox& box) {
  // A box a handler shows has the arrow, not the handler's wait cursor.
  QGuiApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
  if (MessageBoxRunner runner = g_runner.load()) {
    runner(box);
  } else {
    box.exec();
  }
  QGuiApplication::restoreOverrideCursor();
}

void ShowBox(QMessageBox::Icon icon, const Text& text, const Text& title) {
  QMessageBox box(icon, ToQString(title), BoxText(text), QMessageBox::Ok, nullptr);
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Ok);
  RunBox(box);
}

bool OnGuiThread() {
  return g_ready && QCoreApplication::instance() != nullptr &&
         QThread::currentThread() == QCoreApplication::instance()->thread();
}

void WriteUtf8ToStderr(const Text& title, const Text& report) {
  QByteArray line = ToQString(title).toUtf8() + ": " + ToQString(report).toUtf8();
  if (!line.endsWith('\n')) line += '\n';
  const char* p = line.constData();
  qsizetype left = line.size();
  while (left > 0) {
    const ssize_t n = ::write(STDERR_FILENO, p, static_cast<std::size_t>(left));
    if (n <= 0) return;
    p += n;
    left -= n;
  }
}

}  // namespace

void InitializeRuntime() {
  if (g_ready || QApplication::instance() == nullptr) return;
  internal::ApplyLook(0);
  QFont font(QStringLiteral("WenQuanYi Micro Hei"));
  font.setPixelSize(12);
  QApplication::setFont(font);
  qApp->installEventFilter(new InputBlock(qApp));
  // A web request blocks the handler that makes it; meanwhile the window
  // keeps repainting (and takes no input).
  platform::SetBlockingHook(KeepPainting);
  g_ready = true;
}

int RunProgram(int argc, char** argv, int (*start)(), const Text& startFailure) {
  // QApplication keeps a reference to the count for its whole life.
  static int s_argc = 0;
  std::unique_ptr<QApplication> own;
  if (QApplication::instance() == nullptr) {
    s_argc = argc;
    g_startFailure = startFailure;
    g_previousHandler = qInstallMessageHandler(StartUpMessages);
    own = std::make_unique<QApplication>(s_argc, argv);
    qInstallMessageHandler(g_previousHandler);
  }
  InitializeRuntime();
  const int status = start();
  RunExitHook();
  if (own != nullptr) {
    own.reset();
    g_ready = false;
  }
  return status;
}

int RunMessageLoop() {
  QGuiApplication::setQuitOnLastWindowClosed(true);
  return QApplication::exec();
}

bool HandlerRunning() { return g_handlerRunning; }

void KeepPainting() {
  // The web layer calls this on any thread that waits (the browser box's
  // included); only the GUI thread's own state may be looked at.
  if (!OnGuiThread() || !g_handlerRunning) return;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

namespace internal {

void RunHandler(Handler handler) {
  if (!handler || g_handlerRunning) return;
  g_handlerRunning = true;
  QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  handler();
  // Input that came while the handler ran is dropped here, with the input
  // block still on, instead of being acted on now.
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  QGuiApplication::restoreOverrideCursor();
  g_handlerRunning = false;
}

}  // namespace internal

void ShowMessage(const Text& text, const Text& title) {
  if (!OnGuiThread()) {
    WriteUtf8ToStderr(title, text);
    return;
  }
  ShowBox(QMessageBox::NoIcon, text, title);
}

void ShowFatalReport(const Text& report, const Text& title) {
  if (!OnGuiThread()) {
    WriteUtf8ToStderr(title, report);
    return;
  }
  ShowBox(QMessageBox::Critical, report, title);
}

MessageBoxRunner SetMessageBoxRunner(MessageBoxRunner runner) { return g_runner.exchange(runner); }

bool SaveWindowPicture(const 窗口& window, const char* path) {
  QWidget* widget = NativeWidget(window);
  if (widget == nullptr || path == nullptr) return false;
  return widget->grab().toImage().save(QString::fromLocal8Bit(path), "PNG");
}

bool SaveDownloadsWindowPicture(const HtmlViewer& box, const char* path) {
  QWidget* widget = DownloadsWindow(box);
  if (widget == nullptr || path == nullptr) return false;
  return widget->grab().toImage().save(QString::fromLocal8Bit(path), "PNG");
}

}  // namespace qelvaro::gui
