// The window system as the dialog and preview code see it: the Win32 API.
// The Windows modules get the real one; the native build gets the headless
// stand-in declared in headless/win32_subset.h, which implements the same
// calls with the same synchronous behaviour the dialog relies on (an edit
// box's EN_CHANGE arrives before SetDlgItemText returns; a trackbar repaint
// notifies its parent; TBM_SETPOS clamps and sends no scroll message).
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>
#include <windowsx.h>
#else
#include "platform/headless/win32_subset.h"
#endif
