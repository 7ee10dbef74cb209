// Private to platform/gui: the widgets behind the controls. Each keeps the
// state its control needs, so a control object is only a handle.
#pragma once

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include <memory>

#include "platform/gui/controls.h"
#include "platform/gui/picture_source.h"

namespace qelvaro::gui::internal {

class WindowWidget final : public QWidget {
 public:
  WindowWidget();
  Handler created;

 protected:
  // The window cannot be closed while a handler runs.
  void closeEvent(QCloseEvent* event) override;
};

// What an edit box remembers of the text written to it.
struct EditState {
  Text written;             // the text last written
  bool userEdited = false;  // the user changed it since
  bool displayStale = false;  // written while hidden, not shown yet
};

// What a box shows for a text: a multi-line box breaks lines at CR LF only and
// shows bare CR and LF as nothing; a single-line box shows no line breaks.
// Labels, buttons and list cells show their text as a single-line box does.
// Only the first kDisplayLimit characters are shown: Qt lays a long unbroken
// line out slowly (a wrapped one in time that grows with the square of its
// length), and a field of megabytes from the network would stall the window
// for minutes. The control still keeps and gives back the whole text written.
inline constexpr qsizetype kDisplayLimit = 16384;
QString MultiLineDisplay(const Text& text);
QString SingleLineDisplay(const Text& text);

class LineEditWidget final : public QLineEdit {
 public:
  explicit LineEditWidget(QWidget* parent);
  void Write(const Text& text);
  Text Read() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  EditState state_;
};

class TextEditWidget final : public QPlainTextEdit {
 public:
  explicit TextEditWidget(QWidget* parent);
  void Write(const Text& text);
  Text Read() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Display();
  EditState state_;
  bool writing_ = false;
};

class ButtonWidget final : public QPushButton {
 public:
  explicit ButtonWidget(QWidget* parent);
  Handler clicked;

 protected:
  // Enter or Return on the focused button presses it, as Space does.
  void keyPressEvent(QKeyEvent* event) override;
};

class ListWidget final : public QTreeWidget {
 public:
  explicit ListWidget(QWidget* parent);
  Handler clicked;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool clickPending_ = false;  // a left press that began in the list
};

class PicWidget final : public QWidget {
 public:
  explicit PicWidget(QWidget* parent);
  void SetFrames(PictureFrames frames);
  bool HasPicture() const { return !frames_.frames.empty(); }
  // The frame shown now (for tests).
  std::size_t CurrentFrame() const { return current_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Advance();
  PictureFrames frames_;
  std::size_t current_ = 0;
  int loopsLeft_ = 0;
  QTimer timer_;
};

class BrowserBox;

// The browser box: its settings, and the engine with its windows
// (platform/gui/browser_box.h), which stops every load when the widget goes.
class BrowserWidget final : public QWidget {
 public:
  explicit BrowserWidget(QWidget* parent);
  ~BrowserWidget() override;
  HtmlViewer::Settings settings;
  std::unique_ptr<BrowserBox> box;
};

}  // namespace qelvaro::gui::internal
