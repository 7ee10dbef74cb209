// The plain look and the XP look.
//
// Both are one application-wide proxy style over Fusion. The plain look draws
// the list's sunken border and raised column headers in the classic manner;
// the XP look adds push buttons, edit boxes and group boxes in the Luna
// manner of its scheme and leaves everything else to the plain look. Being
// the application's style, it reaches every such widget: those that exist
// when it is switched on (Qt repolishes them) and those made later, message
// boxes included.
#include <QApplication>
#include <QAbstractItemView>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTextEdit>

#include "platform/gui/look_internal.h"
#include "platform/gui/runtime.h"

namespace qelvaro::gui {

namespace {

struct Scheme {
  QColor frame;         // edit boxes and group boxes
  QColor buttonBorder;  // push buttons
  QColor faceTop;       // a push button's face, from top
  QColor faceBottom;    // to bottom
  QColor faceShade;     // its last rows
  QColor focusTop;      // the inner edge of the focused button
  QColor focusBottom;
};

const Scheme kSchemes[] = {
    // 1: blue
    {{123, 158, 189}, {0, 60, 116}, {255, 255, 255}, {236, 235, 230}, {214, 208, 197},
     {206, 231, 255}, {105, 130, 238}},
    // 2: olive green
    {{164, 185, 127}, {55, 98, 6}, {255, 255, 255}, {236, 235, 230}, {214, 208, 197},
     {222, 236, 178}, {143, 168, 82}},
    // 3: silver
    {{198, 197, 215}, {118, 116, 151}, {255, 255, 255}, {231, 231, 238}, {207, 206, 220},
     {232, 232, 244}, {155, 153, 189}},
};

const QColor kHoverTop(255, 240, 207);
const QColor kHoverBottom(229, 151, 0);
const QColor kDisabledBorder(201, 199, 186);
const QColor kDisabledFace(245, 244, 234);

int g_scheme = 0;

bool IsEditBox(const QWidget* w) {
  return qobject_cast<const QLineEdit*>(w) != nullptr ||
         qobject_cast<const QPlainTextEdit*>(w) != nullptr ||
         qobject_cast<const QTextEdit*>(w) != nullptr;
}
bool IsPushButton(const QWidget* w) { return qobject_cast<const QPushButton*>(w) != nullptr; }
bool IsGroupBox(const QWidget* w) { return qobject_cast<const QGroupBox*>(w) != nullptr; }
bool IsList(const QWidget* w) { return qobject_cast<const QAbstractItemView*>(w) != nullptr; }
bool IsListHeader(const QWidget* w) {
  return qobject_cast<const QHeaderView*>(w) != nullptr && IsList(w->parentWidget());
}

// The classic two-pixel edges: sunken (a list's border) or raised (a column
// header), in the system colours.
void DrawEdge(QPainter* p, const QRect& r, const QPalette& pal, bool sunken) {
  const QColor outerTopLeft = pal.color(sunken ? QPalette::Dark : QPalette::Light);
  const QColor outerBottomRight = pal.color(sunken ? QPalette::Light : QPalette::Shadow);
  const QColor innerTopLeft = pal.color(sunken ? QPalette::Shadow : QPalette::Midlight);
  const QColor innerBottomRight = pal.color(sunken ? QPalette::Midlight : QPalette::Dark);
  p->save();
  p->setRenderHint(QPainter::Antialiasing, false);
  const int l = r.left(), t = r.top(), rt = r.right(), b = r.bottom();
  p->setPen(outerTopLeft);
  p->drawLine(l, t, rt - 1, t);
  p->drawLine(l, t, l, b - 1);
  p->setPen(outerBottomRight);
  p->drawLine(l, b, rt, b);
  p->drawLine(rt, t, rt, b);
  p->setPen(innerTopLeft);
  p->drawLine(l + 1, t + 1, rt - 2, t + 1);
  p->drawLine(l + 1, t + 1, l + 1, b - 2);
  p->setPen(innerBottomRight);
  p->drawLine(l + 1, b - 1, rt - 1, b - 1);
  p->drawLine(rt - 1, t + 1, rt - 1, b - 1);
  p->restore();
}

// A one-pixel frame with rounded corners: the corner pixels stay the
// background and the ones diagonally inside them soften the turn.
void DrawRoundedFrame(QPainter* p, const QRect& r, const QColor& colour) {
  p->save();
  p->setRenderHint(QPainter::Antialiasing, false);
  p->setBrush(Qt::NoBrush);
  if (r.width() < 5 || r.height() < 5) {
    p->setPen(colour);
    p->drawRect(r.adjusted(0, 0, -1, -1));
    p->restore();
    return;
  }
  const int l = r.left(), t = r.top(), rt = r.right(), b = r.bottom();
  p->setPen(colour);
  p->drawLine(l + 2, t, rt - 2, t);
  p->drawLine(l + 2, b, rt - 2, b);
  p->drawLine(l, t + 2, l, b - 2);
  p->drawLine(rt, t + 2, rt, b - 2);
  p->drawPoint(l + 1, t + 1);
  p->drawPoint(rt - 1, t + 1);
  p->drawPoint(l + 1, b - 1);
  p->drawPoint(rt - 1, b - 1);
  QColor soft(colour);
  soft.setAlpha(80);
  p->setPen(soft);
  for (const QPoint& q : {QPoint(l + 1, t), QPoint(l, t + 1), QPoint(rt - 1, t), QPoint(rt, t + 1),
                          QPoint(l + 1, b), QPoint(l, b - 1), QPoint(rt - 1, b), QPoint(rt, b - 1)}) {
    p->drawPoint(q);
  }
  p->restore();
}

// The frame of a bordered edit box: one pixel in the scheme's colour, then one
// of the box's own background.
void DrawEditFrame(QPainter* p, const QRect& r, const QColor& colour, const QBrush& base) {
  p->save();
  p->setRenderHint(QPainter::Antialiasing, false);
  p->setBrush(Qt::NoBrush);
  p->setPen(colour);
  p->drawRect(r.adjusted(0, 0, -1, -1));
  p->setPen(QPen(base, 1));
  p->drawRect(r.adjusted(1, 1, -2, -2));
  p->restore();
}

void DrawButton(QPainter* p, const QStyleOption& opt, bool isDefault, const Scheme& s) {
  const QRect r = opt.rect;
  const QRect inner = r.adjusted(1, 1, -1, -1);
  const bool enabled = opt.state & QStyle::State_Enabled;
  const bool pressed = opt.state & (QStyle::State_Sunken | QStyle::State_On);
  const bool hover = enabled && (opt.state & QStyle::State_MouseOver);
  const bool focus = enabled && ((opt.state & QStyle::State_HasFocus) || isDefault);
  p->save();
  p->setRenderHint(QPainter::Antialiasing, false);
  if (!enabled) {
    p->fillRect(inner, kDisabledFace);
    p->restore();
    DrawRoundedFrame(p, r, kDisabledBorder);
    return;
  }
  QLinearGradient face(inner.topLeft(), inner.bottomLeft());
  if (pressed) {
    face.setColorAt(0.0, QColor(209, 204, 193));
    face.setColorAt(0.25, QColor(226, 225, 218));
    face.setColorAt(1.0, QColor(242, 241, 238));
  } else {
    face.setColorAt(0.0, s.faceTop);
    face.setColorAt(0.75, s.faceBottom);
    face.setColorAt(1.0, s.faceShade);
  }
  p->fillRect(inner, face);
  if (!pressed && (hover || focus) && inner.width() > 6 && inner.height() > 6) {
    // The two-pixel inner edge: orange under the mouse, the scheme's focus
    // colour on the focused button.
    QLinearGradient edge(inner.topLeft(), inner.bottomLeft());
    edge.setColorAt(0.0, hover ? kHoverTop : s.focusTop);
    edge.setColorAt(1.0, hover ? kHoverBottom : s.focusBottom);
    p->setClipRegion(QRegion(inner).subtracted(QRegion(inner.adjusted(2, 2, -2, -2))));
    p->fillRect(inner, edge);
    p->setClipping(false);
  }
  p->restore();
  DrawRoundedFrame(p, r, s.buttonBorder);
}

// The program's style: the plain look, and with a scheme (1 to 3) the XP look.
class ProgramStyle final : public QProxyStyle {
 public:
  explicit ProgramStyle(int scheme)
      : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))),
        xp_(scheme >= 1 && scheme <= 3 ? &kSchemes[scheme - 1] : nullptr) {}

  void drawPrimitive(PrimitiveElement pe, const QStyleOption* opt, QPainter* p,
                     const QWidget* w) const override {
    if (pe == PE_Frame && IsList(w)) {
      DrawEdge(p, opt->rect, opt->palette, true);
      return;
    }
    if (xp_ != nullptr && IsEditBox(w)) {
      const Scheme& scheme = *xp_;
      switch (pe) {
        case PE_PanelLineEdit: {
          p->fillRect(opt->rect, opt->palette.brush(QPalette::Base));
          const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(opt);
          if (frame != nullptr && frame->lineWidth > 0) {
            DrawEditFrame(p, opt->rect, scheme.frame, opt->palette.brush(QPalette::Base));
          }
          return;
        }
        case PE_FrameLineEdit:
        case PE_Frame:
          DrawEditFrame(p, opt->rect, scheme.frame, opt->palette.brush(QPalette::Base));
          return;
        default:
          break;
      }
    }
    QProxyStyle::drawPrimitive(pe, opt, p, w);
  }

  void drawControl(ControlElement ce, const QStyleOption* opt, QPainter* p,
                   const QWidget* w) const override {
    if ((ce == CE_HeaderSection || ce == CE_HeaderEmptyArea) && IsListHeader(w)) {
      p->fillRect(opt->rect, opt->palette.brush(QPalette::Button));
      if (ce == CE_HeaderSection) {
        if (opt->state & State_Sunken) {
          p->save();
          p->setPen(opt->palette.color(QPalette::Dark));
          p->drawRect(opt->rect.adjusted(0, 0, -1, -1));
          p->restore();
        } else {
          DrawEdge(p, opt->rect, opt->palette, false);
        }
      }
      return;
    }
    if (xp_ != nullptr && ce == CE_PushButtonBevel && IsPushButton(w)) {
      if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(opt)) {
        if (!(button->features & QStyleOptionButton::Flat)) {
          DrawButton(p, *button, button->features & QStyleOptionButton::DefaultButton, *xp_);
          return;
        }
      }
    }
    QProxyStyle::drawControl(ce, opt, p, w);
  }

  void drawComplexControl(ComplexControl cc, const QStyleOptionComplex* opt, QPainter* p,
                          const QWidget* w) const override {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(opt);
    if (xp_ == nullptr || cc != CC_GroupBox || box == nullptr || !IsGroupBox(w)) {
      QProxyStyle::drawComplexControl(cc, opt, p, w);
      return;
    }
    const Scheme& scheme = *xp_;
    const QRect frame = subControlRect(cc, opt, SC_GroupBoxFrame, w);
    const QRect label = subControlRect(cc, opt, SC_GroupBoxLabel, w);
    if (box->subControls & SC_GroupBoxFrame) {
      p->save();
      if (!label.isEmpty()) {
        // The caption interrupts the frame's top edge.
        p->setClipRegion(QRegion(opt->rect).subtracted(QRegion(label.adjusted(-2, 0, 2, 0))));
      }
      DrawRoundedFrame(p, frame, scheme.frame);
      p->restore();
    }
    if ((box->subControls & SC_GroupBoxLabel) && !box->text.isEmpty()) {
      proxy()->drawItemText(p, label, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic,
                            box->palette, box->state & State_Enabled, box->text,
                            QPalette::WindowText);
    }
  }

  QRect subControlRect(ComplexControl cc, const QStyleOptionComplex* opt, SubControl sc,
                       const QWidget* w) const override {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(opt);
    if (xp_ == nullptr || cc != CC_GroupBox || box == nullptr || !IsGroupBox(w)) {
      return QProxyStyle::subControlRect(cc, opt, sc, w);
    }
    // The caption sits at the top left over the frame, whose top edge runs
    // through the caption's middle.
    const QFontMetrics& fm = box->fontMetrics;
    const int textWidth = box->text.isEmpty() ? 0 : fm.horizontalAdvance(box->text) + 1;
    const int top = fm.height() / 2;
    const QRect& r = opt->rect;
    switch (sc) {
      case SC_GroupBoxFrame:
        return r.adjusted(0, top, 0, 0);
      case SC_GroupBoxLabel:
        return textWidth == 0 ? QRect() : QRect(r.left() + 8, r.top(), textWidth, fm.height());
      case SC_GroupBoxContents:
        return r.adjusted(2, fm.height(), -2, -2);
      default:
        return QRect();
    }
  }

  int pixelMetric(PixelMetric pm, const QStyleOption* opt, const QWidget* w) const override {
    if (pm == PM_DefaultFrameWidth && (IsList(w) || (xp_ != nullptr && IsEditBox(w)))) return 2;
    return QProxyStyle::pixelMetric(pm, opt, w);
  }

  int styleHint(StyleHint hint, const QStyleOption* opt, const QWidget* w,
                QStyleHintReturn* ret) const override {
    // The list's scroll bars lie inside its border.
    if (hint == SH_ScrollView_FrameOnlyAroundContents && IsList(w)) return 0;
    return QProxyStyle::styleHint(hint, opt, w, ret);
  }

 private:
  const Scheme* xp_;  // null: the plain look
};

}  // namespace

namespace internal {

QPalette SystemPalette() {
  const QColor face(236, 233, 216);
  const QColor grey(172, 168, 153);
  QPalette p(Qt::black, face, Qt::white, grey, QColor(200, 197, 178), Qt::black, Qt::white,
             Qt::white, face);
  p.setColor(QPalette::ButtonText, Qt::black);
  p.setColor(QPalette::Midlight, QColor(241, 239, 226));
  p.setColor(QPalette::Shadow, QColor(113, 111, 100));
  p.setColor(QPalette::AlternateBase, QColor(245, 244, 234));
  p.setColor(QPalette::Highlight, QColor(49, 106, 197));
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::ToolTipBase, QColor(255, 255, 225));
  p.setColor(QPalette::ToolTipText, Qt::black);
  p.setColor(QPalette::PlaceholderText, grey);
  for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) {
    p.setColor(QPalette::Disabled, role, grey);
  }
  p.setColor(QPalette::Disabled, QPalette::Base, face);
  p.setColor(QPalette::Disabled, QPalette::Highlight, grey);
  return p;
}

void ApplyLook(int scheme) {
  if (scheme < 1 || scheme > 3) scheme = 0;
  // Replacing the application style first takes the old one off every
  // widget, so a new scheme always starts from the plain look.
  QApplication::setStyle(new ProgramStyle(scheme));
  QApplication::setPalette(SystemPalette());
  g_scheme = scheme;
}

}  // namespace internal

void SetXpLook(int scheme) {
  if (QApplication::instance() == nullptr) return;
  internal::ApplyLook(scheme);
}

int XpLookScheme() { return g_scheme; }

}  // namespace qelvaro::gui
