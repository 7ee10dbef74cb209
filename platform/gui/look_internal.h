// Private to platform/gui: the program's look.
#pragma once

#include <QColor>
#include <QPalette>

namespace qelvaro::gui::internal {

// The system colours of the program: the button face, white boxes, black
// text, the blue selection.
QPalette SystemPalette();

// Makes the application style the plain look (any number outside 1 to 3) or
// the XP look in that scheme, and sets the system colours again.
void ApplyLook(int scheme);

}  // namespace qelvaro::gui::internal
