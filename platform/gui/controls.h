// The controls of the GUI run time: the window kind `窗口` and the control
// kinds `EditBox`, `Button`, `Label`, `GroupBox`, `PicBox`, `ListView` and
// `HtmlViewer`, with the properties and events the program's handlers use.
//
// Owns: creating each control with its settings, its properties (text,
// caption, visible, current selection, picture, address), the list
// operations, and the events (the window's created event, button clicks, the
// list's click). Does not own: the message loop, message boxes, the XP look
// or the busy state while a handler runs (platform/gui/runtime.h).
//
// Every text a property takes or gives is a Text in code page 936. A control
// object is a handle to a widget owned by its parent: the window owns every
// control inside it and destroys them with itself, so a window must outlive
// the controls made in it (declare it first). Controls are neither copied nor
// moved.
//
// Handlers take no arguments. They run one at a time: while one runs, the
// window shows the wait cursor, takes no input, and no other handler starts
// (an event raised meanwhile is dropped).
//
// Example:
//   gui::窗口 window("窗口", {.caption = "Qelvaro", .width = 569, .height = 478});
//   gui::EditBox box(window, "编辑框1", {68, 16, 122, 24}, {.text = "我的好兄弟"_gbk});
//   gui::Button button(window, "按钮1", {195, 12, 64, 32}, {.caption = "搜索"_gbk});
//   button.OnClicked([&] { box.SetText("a\nb"); });
//   window.Load();
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "text/text.h"

class QWidget;

namespace qelvaro::gui {

// A place and size in pixels, relative to the client area of the parent.
struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

using Handler = std::function<void()>;

// What every control has.
class Control {
 public:
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // Shows or hides the control at once.
  void SetVisible(bool visible);
  // Whether the control itself is marked visible (a visible control inside a
  // window that is not shown yet counts as visible).
  bool Visible() const;
  bool Enabled() const;
  Rect Geometry() const;

 protected:
  explicit Control(QWidget* widget) : widget_(widget) {}
  ~Control() = default;

  QWidget* widget_;

  friend QWidget* NativeWidget(const Control& control);
};

// The top-level window. Created invisible; Load shows it.
class 窗口 : public Control {
 public:
  struct Settings {
    Text caption;
    int width = 0;   // of the client area
    int height = 0;  // of the client area
  };
  // A fixed-size window with a title bar, the system menu and the close box
  // (no minimise or maximise box), on the button-face colour.
  窗口(const char* name, Settings settings);
  ~窗口();

  void SetCaption(const Text& caption);
  Text Caption() const;

  // The created event, raised once by Load.
  void OnCreated(Handler handler);

  // Loads the window: raises the created event while the window is still
  // invisible, then centres it on the screen and shows it. False when the
  // platform could not create it (nothing is shown then).
  bool Load();
};

// An edit box. Reading its text gives exactly the text last written, bare
// line feeds included, until the user edits it; then it gives what the box
// shows, its line breaks as CR LF. A multi-line box breaks lines only at
// CR LF: a bare CR or LF shows nothing, so the lines around it run together.
class EditBox : public Control {
 public:
  struct Settings {
    Text text;
    bool multiLine = false;  // several lines, long ones broken at the width
    bool border = true;      // sunken border
    bool readOnly = false;   // focusable and selectable, not changeable
    bool enabled = true;     // disabled: no focus, no selection, no change
    bool scrollBars = false;
    bool buttonFaceBackground = false;  // else white
    bool visible = true;
  };
  EditBox(Control& parent, const char* name, Rect place, Settings settings);

  void SetText(const Text& text);
  Text GetText() const;
};

class Button : public Control {
 public:
  struct Settings {
    Text caption;
    bool visible = true;
  };
  Button(Control& parent, const char* name, Rect place, Settings settings);

  void SetCaption(const Text& caption);
  Text Caption() const;
  // Raised when the button is pressed, with the mouse or the keyboard.
  void OnClicked(Handler handler);
};

// One line of text, left-aligned and centred vertically, no border.
class Label : public Control {
 public:
  struct Settings {
    Text caption;
    bool visible = true;
  };
  Label(Control& parent, const char* name, Rect place, Settings settings);

  // Replaces the caption and redraws the label.
  void SetCaption(const Text& caption);
  Text Caption() const;
};

// A frame with its caption at the top left; controls made with it as their
// parent are placed relative to it and move with it.
class GroupBox : public Control {
 public:
  struct Settings {
    Text caption;
    bool visible = true;
  };
  GroupBox(Control& parent, const char* name, Rect place, Settings settings);

  Text Caption() const;
};

// A picture box on the button-face colour, without a border. A picture is
// drawn at its natural size from the top-left corner, cut off at the box's
// edges; animated pictures play.
class PicBox : public Control {
 public:
  struct Settings {
    bool visible = true;
  };
  PicBox(Control& parent, const char* name, Rect place, Settings settings);

  // The bytes of an image file. The format is recognised by its first six
  // bytes (JPEG, BMP, GIF, icon, cursor, PCX); empty bytes, any other format
  // and bytes that fail to decode leave the box empty. Nothing is reported.
  void SetPicture(const Bytes& bytes);
  bool HasPicture() const;
};

// A report view with column headers: single selection, the first column
// highlighted on the selected row, no grid, no sorting, no editing, the
// selection hidden while the list lacks the focus.
class ListView : public Control {
 public:
  struct Column {
    Text header;
    int width = 0;
  };
  struct Settings {
    std::vector<Column> columns;
    bool visible = true;
  };
  ListView(Control& parent, const char* name, Rect place, Settings settings);

  // Adds a row with empty cells after the last one; gives its 0-based index.
  int AppendRow();
  // Does nothing when the row or the column does not exist.
  void SetCell(int row, int column, const Text& text);
  // The cell's text, exactly as written; empty when the row or the column
  // does not exist.
  Text Cell(int row, int column) const;
  int RowCount() const;
  // The 0-based index of the first selected row; -1 when none is selected.
  int CurrentSelection() const;

  // Raised for every left mouse click inside the list, on a row or on empty
  // space, after the list has updated its selection (a click on empty space
  // leaves no row selected). Keyboard moves raise nothing; the second click
  // of a double click raises nothing either.
  void OnClicked(Handler handler);
};

// The browser box: a browser without a view. Created with its settings, it
// starts loading its address at once, in the background (nothing it loads
// then is ever shown or reported). Writing the address stores it and starts
// loading it; both return at once, the loading goes on on threads of its
// own, and a new address drops a load that has not become a download.
//
// What it does with an answer: a page (text/html or any other text, not an
// attachment) counts as shown and is dropped, the box being hidden. A file
// is offered for saving: a save dialog proposes its name (from
// Content-Disposition, else the address's last segment, else "download")
// in the user's download folder; cancelling drops the load. The file is
// written as NAME.part and renamed to NAME once the whole body is there; an
// existing file is replaced only when the user agreed in the dialog. On any
// failure the .part file is removed and nothing else is touched.
//
// The downloads window, opened with the first download (not modal), lists
// every download with its progress and outcome ("完成", or "失败：" and the
// reason); a load written as the address that fails before it is a download
// (status 400 or more, no connection) is listed there as a failed one. It is
// the only thing the box shows of its own. Several downloads run at once;
// when the box goes (with its window), running downloads stop and their
// .part files are removed. An offline box loads nothing.
class HtmlViewer : public Control {
 public:
  enum class FontSize { kSmallest, kSmall, kMedium, kLarge, kLargest };
  struct Settings {
    bool offline = false;
    bool silent = true;
    FontSize fontSize = FontSize::kMedium;
    Text address;
    bool visible = false;
  };
  HtmlViewer(Control& parent, const char* name, Rect place, Settings settings);

  // Stores the address and starts loading it; returns at once.
  void SetAddress(const Text& address);
  Text Address() const;
  bool Offline() const;
  bool Silent() const;
  FontSize GetFontSize() const;
};

}  // namespace qelvaro::gui
