// Helpers for the GUI tests: a shown window and pixels of grabbed widgets.
#pragma once

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QTest>
#include <QWidget>

#include <cstdlib>

#include "platform/gui/controls.h"
#include "platform/gui/qt_access.h"

namespace qelvaro::gui::testing {

// A window of the program's size, for controls under test.
inline 窗口::Settings TestWindow() { return {.caption = "test", .width = 569, .height = 478}; }

// Loads the window and waits until it is shown and active (keyboard focus
// needs an active window).
inline bool ShowActive(窗口& window) {
  if (!window.Load()) return false;
  QWidget* w = NativeWidget(window);
  w->activateWindow();
  return QTest::qWaitForWindowExposed(w) && QTest::qWaitForWindowActive(w);
}

// The widget drawn as it is now.
inline QImage Picture(QWidget* w) { return w->grab().toImage(); }

// Whether two colours differ by at most `tolerance` in every channel (styles
// shade their fills a little).
inline bool Near(const QColor& a, const QColor& b, int tolerance = 8) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

inline QColor PixelAt(QWidget* w, int x, int y) { return Picture(w).pixelColor(x, y); }

}  // namespace qelvaro::gui::testing
