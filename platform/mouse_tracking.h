// Asking for WM_MOUSELEAVE: the preview drops a held comparison when the
// mouse leaves the dialog without a button release.
#pragma once

#include "platform/win32.h"

namespace platform {

// One WM_MOUSELEAVE for `window` once the mouse leaves its client area; ask
// again after each one (the dialog asks on every mouse move).
void TrackMouseLeave(HWND window);

}  // namespace platform
