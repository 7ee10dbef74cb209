// Private to platform/gui: how controls hand their events to the run time.
#pragma once

#include "platform/gui/controls.h"

namespace qelvaro::gui::internal {

// Runs an event's handler as the run time requires: not at all while another
// handler runs; otherwise with the wait cursor shown and the program's
// windows taking no input until it returns. Input that arrived meanwhile is
// dropped when it ends. An empty handler does nothing.
void RunHandler(Handler handler);

}  // namespace qelvaro::gui::internal
