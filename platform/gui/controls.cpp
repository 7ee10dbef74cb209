// The controls over Qt widgets.
#include "platform/gui/controls.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QWindow>

#include <algorithm>
#include <limits>
#include <span>

#include "platform/gui/browser_box.h"
#include "platform/gui/qt_access.h"
#include "platform/gui/runtime.h"
#include "platform/gui/runtime_internal.h"
#include "platform/gui/widgets_internal.h"

namespace qelvaro::gui {

using internal::RunHandler;

namespace {

// The exact text behind a caption, kept beside what the widget shows.
constexpr const char* kTextProperty = "qelvaroText";

void StoreText(QObject* object, const Text& text) {
  object->setProperty(kTextProperty, QByteArray(text.data(), text.size()));
}

Text StoredText(const QObject* object) {
  return Text(object->property(kTextProperty).toByteArray().toStdString());
}

void Place(QWidget* widget, const char* name, Rect place, bool visible) {
  widget->setObjectName(QString::fromUtf8(name));
  widget->setGeometry(place.x, place.y, place.width, place.height);
  // A child of a window that is not shown yet only remembers this.
  widget->setVisible(visible);
}

}  // namespace

QWidget* NativeWidget(const Control& control) { return control.widget_; }

// ---- Control ----------------------------------------------------------------

void Control::SetVisible(bool visible) { widget_->setVisible(visible); }
bool Control::Visible() const { return !widget_->isHidden(); }
bool Control::Enabled() const { return widget_->isEnabled(); }
Rect Control::Geometry() const {
  const QRect r = widget_->geometry();
  return {r.x(), r.y(), r.width(), r.height()};
}

// ---- The window ---------------------------------------------------------------

namespace internal {

WindowWidget::WindowWidget()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Window);
}

void WindowWidget::closeEvent(QCloseEvent* event) {
  if (HandlerRunning()) {
    event->ignore();
    return;
  }
  event->accept();
}

}  // namespace internal

namespace {
internal::WindowWidget* AsWindow(QWidget* w) { return static_cast<internal::WindowWidget*>(w); }
}  // namespace

窗口::窗口(const char* name, Settings settings) : Control(new internal::WindowWidget()) {
  widget_->setObjectName(QString::fromUtf8(name));
  widget_->setFixedSize(settings.width, settings.height);
  SetCaption(settings.caption);
}

窗口::~窗口() { delete widget_; }

void 窗口::SetCaption(const Text& caption) {
  StoreText(widget_, caption);
  widget_->setWindowTitle(ToQString(caption));
}

Text 窗口::Caption() const { return StoredText(widget_); }

void 窗口::OnCreated(Handler handler) { AsWindow(widget_)->created = std::move(handler); }

bool 窗口::Load() {
  if (QApplication::instance() == nullptr) return false;
  // The native window exists from here on, still invisible.
  widget_->winId();
  if (widget_->windowHandle() == nullptr) return false;
  RunHandler(AsWindow(widget_)->created);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    // Centred with its frame, where the window system tells the frame's size.
    const QMargins frame = widget_->windowHandle()->frameMargins();
    QRect placed(QPoint(0, 0), widget_->size().grownBy(frame));
    placed.moveCenter(screen->availableGeometry().center());
    widget_->move(placed.topLeft());
  }
  widget_->show();
  return true;
}

// ---- Edit boxes -----------------------------------------------------------------

namespace internal {

namespace {

// Texts of code page 936 hold no character outside the BMP, so the cut never
// splits a surrogate pair.
void CutToDisplayLimit(QString& shown) {
  if (shown.size() > kDisplayLimit) shown.truncate(kDisplayLimit);
}

}  // namespace

QString MultiLineDisplay(const Text& text) {
  const QString wide = ToQString(text);
  QString shown;
  shown.reserve(std::min(wide.size(), kDisplayLimit + 1));
  for (qsizetype i = 0; i < wide.size() && shown.size() <= kDisplayLimit; ++i) {
    const QChar c = wide[i];
    if (c == u'\r' && i + 1 < wide.size() && wide[i + 1] == u'\n') {
      shown.append(u'\n');
      ++i;
    } else if (c != u'\r' && c != u'\n') {
      shown.append(c);
    }
  }
  CutToDisplayLimit(shown);
  return shown;
}

QString SingleLineDisplay(const Text& text) {
  QString shown = ToQString(text);
  shown.remove(u'\r');
  shown.remove(u'\n');
  CutToDisplayLimit(shown);
  return shown;
}

LineEditWidget::LineEditWidget(QWidget* parent) : QLineEdit(parent) {
  setMaxLength(std::numeric_limits<int>::max());
  connect(this, &QLineEdit::textEdited, this, [this] { state_.userEdited = true; });
}

void LineEditWidget::Write(const Text& text) {
  state_ = {text, false, true};
  // Hidden boxes serve as storage; their display is made when they are shown.
  if (isVisible()) {
    state_.displayStale = false;
    setText(SingleLineDisplay(text));
  }
}

Text LineEditWidget::Read() const { return state_.userEdited ? FromQString(text()) : state_.written; }

void LineEditWidget::showEvent(QShowEvent* event) {
  if (state_.displayStale) {
    state_.displayStale = false;
    setText(SingleLineDisplay(state_.written));
  }
  QLineEdit::showEvent(event);
}

TextEditWidget::TextEditWidget(QWidget* parent) : QPlainTextEdit(parent) {
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  setTabChangesFocus(true);
  document()->setDocumentMargin(1);
  connect(this, &QPlainTextEdit::textChanged, this, [this] {
    if (!writing_) state_.userEdited = true;
  });
}

void TextEditWidget::Write(const Text& text) {
  state_ = {text, false, true};
  if (isVisible()) Display();
}

void TextEditWidget::Display() {
  state_.displayStale = false;
  writing_ = true;
  setPlainText(MultiLineDisplay(state_.written));
  writing_ = false;
}

Text TextEditWidget::Read() const {
  if (!state_.userEdited) return state_.written;
  QString shown = toPlainText();
  shown.replace(u'\n', QStringLiteral("\r\n"));
  return FromQString(shown);
}

void TextEditWidget::showEvent(QShowEvent* event) {
  if (state_.displayStale) Display();
  QPlainTextEdit::showEvent(event);
}

}  // namespace internal

EditBox::EditBox(Control& parent, const char* name, Rect place, Settings s)
    : Control(s.multiLine ? static_cast<QWidget*>(new internal::TextEditWidget(NativeWidget(parent)))
                          : new internal::LineEditWidget(NativeWidget(parent))) {
  QPalette palette = widget_->palette();
  if (s.buttonFaceBackground) {
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
      palette.setBrush(group, QPalette::Base, palette.brush(group, QPalette::Window));
    }
  }
  // The selection shows only while the box has the focus in an active window.
  palette.setBrush(QPalette::Inactive, QPalette::Highlight, palette.brush(QPalette::Inactive, QPalette::Base));
  palette.setBrush(QPalette::Inactive, QPalette::HighlightedText,
                   palette.brush(QPalette::Inactive, QPalette::Text));
  widget_->setPalette(palette);

  if (auto* box = dynamic_cast<internal::TextEditWidget*>(widget_)) {
    box->setFrameStyle(s.border ? (QFrame::StyledPanel | QFrame::Sunken) : QFrame::NoFrame);
    const auto bars = s.scrollBars ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    box->setVerticalScrollBarPolicy(bars);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    if (s.readOnly) {
      box->setReadOnly(true);
      box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }
  } else {
    auto* line = static_cast<internal::LineEditWidget*>(widget_);
    line->setFrame(s.border);
    line->setReadOnly(s.readOnly);
  }
  widget_->setEnabled(s.enabled);
  Place(widget_, name, place, s.visible);
  SetText(s.text);
}

void EditBox::SetText(const Text& text) {
  if (auto* box = dynamic_cast<internal::TextEditWidget*>(widget_)) {
    box->Write(text);
  } else {
    static_cast<internal::LineEditWidget*>(widget_)->Write(text);
  }
}

Text EditBox::GetText() const {
  if (auto* box = dynamic_cast<const internal::TextEditWidget*>(widget_)) return box->Read();
  return static_cast<const internal::LineEditWidget*>(widget_)->Read();
}

// ---- Buttons --------------------------------------------------------------------

namespace internal {

ButtonWidget::ButtonWidget(QWidget* parent) : QPushButton(parent) {
  setAutoDefault(false);
  setDefault(false);
  connect(this, &QPushButton::clicked, this, [this] { RunHandler(clicked); });
}

void ButtonWidget::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      event->modifiers() == Qt::NoModifier) {
    click();
    return;
  }
  QPushButton::keyPressEvent(event);
}

}  // namespace internal

Button::Button(Control& parent, const char* name, Rect place, Settings s)
    : Control(new internal::ButtonWidget(NativeWidget(parent))) {
  SetCaption(s.caption);
  Place(widget_, name, place, s.visible);
}

void Button::SetCaption(const Text& caption) {
  StoreText(widget_, caption);
  static_cast<QPushButton*>(widget_)->setText(internal::SingleLineDisplay(caption));
}

Text Button::Caption() const { return StoredText(widget_); }

void Button::OnClicked(Handler handler) {
  static_cast<internal::ButtonWidget*>(widget_)->clicked = std::move(handler);
}

// ---- Labels and the group box ------------------------------------------------------

Label::Label(Control& parent, const char* name, Rect place, Settings s)
    : Control(new QLabel(NativeWidget(parent))) {
  auto* label = static_cast<QLabel*>(widget_);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  label->setWordWrap(false);
  SetCaption(s.caption);
  Place(widget_, name, place, s.visible);
}

void Label::SetCaption(const Text& caption) {
  StoreText(widget_, caption);
  static_cast<QLabel*>(widget_)->setText(internal::SingleLineDisplay(caption));
}

Text Label::Caption() const { return StoredText(widget_); }

GroupBox::GroupBox(Control& parent, const char* name, Rect place, Settings s)
    : Control(new QGroupBox(NativeWidget(parent))) {
  StoreText(widget_, s.caption);
  auto* box = static_cast<QGroupBox*>(widget_);
  box->setTitle(internal::SingleLineDisplay(s.caption));
  box->setAlignment(Qt::AlignLeft);
  Place(widget_, name, place, s.visible);
}

Text GroupBox::Caption() const { return StoredText(widget_); }

// ---- The picture box ------------------------------------------------------------------

namespace internal {

namespace {
// An animation frame that asks for no time at all still stays this long, so
// a careless file cannot keep the GUI thread busy.
constexpr int kShortestFrameMs = 20;
}  // namespace

PicWidget::PicWidget(QWidget* parent) : QWidget(parent) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] { Advance(); });
}

void PicWidget::SetFrames(PictureFrames frames) {
  timer_.stop();
  frames_ = std::move(frames);
  current_ = 0;
  loopsLeft_ = frames_.loopCount;
  if (frames_.frames.size() > 1) {
    timer_.start(std::max(frames_.frames[0].delayMs, kShortestFrameMs));
  }
  update();
}

void PicWidget::Advance() {
  const std::size_t count = frames_.frames.size();
  if (count < 2) return;
  if (current_ + 1 < count) {
    ++current_;
  } else if (loopsLeft_ != 0) {
    if (loopsLeft_ > 0) --loopsLeft_;
    current_ = 0;
  } else {
    return;  // played out: stays on the last frame
  }
  update();
  if (current_ + 1 < count || loopsLeft_ != 0) {
    timer_.start(std::max(frames_.frames[current_].delayMs, kShortestFrameMs));
  }
}

void PicWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().brush(QPalette::Window));
  if (current_ < frames_.frames.size()) {
    // Natural size from the top-left corner; the painter cuts at the edges.
    painter.drawImage(QPoint(0, 0), frames_.frames[current_].image);
  }
}

}  // namespace internal

PicBox::PicBox(Control& parent, const char* name, Rect place, Settings s)
    : Control(new internal::PicWidget(NativeWidget(parent))) {
  Place(widget_, name, place, s.visible);
}

void PicBox::SetPicture(const Bytes& bytes) {
  auto* box = static_cast<internal::PicWidget*>(widget_);
  if (bytes.empty()) {
    box->SetFrames({});
    return;
  }
  box->SetFrames(DecodePictureFrames(
      std::span<const std::uint8_t>(bytes.udata(), static_cast<std::size_t>(bytes.size()))));
}

bool PicBox::HasPicture() const { return static_cast<internal::PicWidget*>(widget_)->HasPicture(); }

// ---- The list -------------------------------------------------------------------------

namespace internal {

// The exact text of a cell, kept beside what the cell shows.
constexpr int kCellTextRole = Qt::UserRole + 1;

namespace {

// Highlights the selected row in its first column only, and only while the
// list has the focus; no hot tracking.
class FirstColumnDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem shown(option);
    const bool focused = option.widget != nullptr && option.widget->hasFocus();
    if (index.column() != 0 || !focused) shown.state &= ~QStyle::State_Selected;
    shown.state &= ~QStyle::State_MouseOver;
    QStyledItemDelegate::paint(painter, shown, index);
  }
};

}  // namespace

ListWidget::ListWidget(QWidget* parent) : QTreeWidget(parent) {
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setIndentation(0);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);
  setAllColumnsShowFocus(false);
  setDragEnabled(false);
  setMouseTracking(false);
  viewport()->setAttribute(Qt::WA_Hover, false);
  setItemDelegate(new FirstColumnDelegate(this));
  header()->setSectionsClickable(true);
  header()->setSectionsMovable(false);
  header()->setSortIndicatorShown(false);
  header()->setStretchLastSection(false);
  header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // Without the focus the selection is not drawn, so losing the focus must
  // repaint the rows.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
    if (old == this || now == this) viewport()->update();
  });
}

void ListWidget::mousePressEvent(QMouseEvent* event) {
  QTreeWidget::mousePressEvent(event);
  if (event->button() != Qt::LeftButton) return;
  if (!indexAt(event->position().toPoint()).isValid()) selectionModel()->clear();
  clickPending_ = true;
}

void ListWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeWidget::mouseDoubleClickEvent(event);
  clickPending_ = false;
}

void ListWidget::mouseReleaseEvent(QMouseEvent* event) {
  QTreeWidget::mouseReleaseEvent(event);
  if (event->button() != Qt::LeftButton || !clickPending_) return;
  clickPending_ = false;
  if (viewport()->rect().contains(event->position().toPoint())) RunHandler(clicked);
}

}  // namespace internal

namespace {
internal::ListWidget* AsList(QWidget* w) { return static_cast<internal::ListWidget*>(w); }
}  // namespace

ListView::ListView(Control& parent, const char* name, Rect place, Settings s)
    : Control(new internal::ListWidget(NativeWidget(parent))) {
  auto* list = AsList(widget_);
  QStringList headers;
  for (const Column& c : s.columns) headers.append(ToQString(c.header));
  list->setColumnCount(static_cast<int>(s.columns.size()));
  list->setHeaderLabels(headers);
  for (std::size_t i = 0; i < s.columns.size(); ++i) {
    list->setColumnWidth(static_cast<int>(i), s.columns[i].width);
  }
  Place(widget_, name, place, s.visible);
}

int ListView::AppendRow() {
  auto* list = AsList(widget_);
  list->addTopLevelItem(new QTreeWidgetItem());
  return list->topLevelItemCount() - 1;
}

void ListView::SetCell(int row, int column, const Text& text) {
  auto* list = AsList(widget_);
  QTreeWidgetItem* item = list->topLevelItem(row);
  if (item == nullptr || column < 0 || column >= list->columnCount()) return;
  item->setData(column, internal::kCellTextRole, QByteArray(text.data(), text.size()));
  item->setText(column, internal::SingleLineDisplay(text));
}

Text ListView::Cell(int row, int column) const {
  auto* list = AsList(widget_);
  const QTreeWidgetItem* item = list->topLevelItem(row);
  if (item == nullptr || column < 0 || column >= list->columnCount()) return Text();
  return Text(item->data(column, internal::kCellTextRole).toByteArray().toStdString());
}

int ListView::RowCount() const { return AsList(widget_)->topLevelItemCount(); }

int ListView::CurrentSelection() const {
  const QModelIndexList rows = AsList(widget_)->selectionModel()->selectedRows();
  int first = -1;
  for (const QModelIndex& index : rows) {
    if (first < 0 || index.row() < first) first = index.row();
  }
  return first;
}

void ListView::OnClicked(Handler handler) { AsList(widget_)->clicked = std::move(handler); }

// ---- The browser box --------------------------------------------------------------------

namespace internal {

BrowserWidget::BrowserWidget(QWidget* parent)
    : QWidget(parent), box(std::make_unique<BrowserBox>(this)) {}

// The loads stop (and their threads are joined) before the widget goes.
BrowserWidget::~BrowserWidget() { box.reset(); }

}  // namespace internal

namespace {
internal::BrowserWidget* AsBrowser(QWidget* w) { return static_cast<internal::BrowserWidget*>(w); }

// Starts loading the box's address, unless the box is offline or the
// address is empty.
void StartLoading(internal::BrowserWidget* browser, bool background) {
  const HtmlViewer::Settings& s = browser->settings;
  if (s.offline || s.address.empty()) return;
  browser->box->Navigate(s.address.str(), background);
}
}  // namespace

HtmlViewer::HtmlViewer(Control& parent, const char* name, Rect place, Settings s)
    : Control(new internal::BrowserWidget(NativeWidget(parent))) {
  // Applied in this order once the box exists: offline, silent, font size,
  // then the address, which starts loading at once: in the background, so
  // that nothing the start page does is shown.
  auto* browser = AsBrowser(widget_);
  auto& settings = browser->settings;
  settings.offline = s.offline;
  settings.silent = s.silent;
  settings.fontSize = s.fontSize;
  settings.visible = s.visible;
  Place(widget_, name, place, s.visible);
  settings.address = s.address;
  StartLoading(browser, /*background=*/true);
}

void HtmlViewer::SetAddress(const Text& address) {
  auto* browser = AsBrowser(widget_);
  browser->settings.address = address;
  StartLoading(browser, /*background=*/false);
}

Text HtmlViewer::Address() const { return AsBrowser(widget_)->settings.address; }
bool HtmlViewer::Offline() const { return AsBrowser(widget_)->settings.offline; }
bool HtmlViewer::Silent() const { return AsBrowser(widget_)->settings.silent; }
HtmlViewer::FontSize HtmlViewer::GetFontSize() const { return AsBrowser(widget_)->settings.fontSize; }

std::vector<DownloadStatus> Downloads(const HtmlViewer& box) {
  return AsBrowser(NativeWidget(box))->box->Statuses();
}

QWidget* DownloadsWindow(const HtmlViewer& box) { return AsBrowser(NativeWidget(box))->box->Window(); }

}  // namespace qelvaro::gui
