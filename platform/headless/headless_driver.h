// The native module's headless window system, as the bundled host sees it.
// Windows runs the real dialog; on Linux the host stands in for the user and
// the screen through this table of C functions, which the module exports as
// KestrelleHeadless(). Every action produces the messages the real controls
// would send, in the same order and with the same (a)synchrony.
#pragma once

#include <cstdint>

#include "platform/headless/win32_subset.h"

// What an HDC of the headless window system points to, so the host's
// displayPixels can draw into it: a 24-bit RGB canvas (the dialog's client
// area), and the offset of the DC's origin within it.
struct HeadlessCanvas {
  uint32_t magic;  // kHeadlessCanvasMagic
  int32_t width;
  int32_t height;
  int32_t stride;  // bytes per row
  uint8_t* rgb;
  int32_t originX;
  int32_t originY;
  RECT clip;       // canvas coordinates; drawing outside it is discarded
};
constexpr uint32_t kHeadlessCanvasMagic = 0x4B434E56;  // "KCNV"

// Called from inside DialogBoxParamA once the dialog has been initialised:
// the host plays the user through the functions below and returns. A dialog
// the driver did not end is then ended with IDCANCEL.
typedef void (*HeadlessDialogDriver)(HWND dialog, void* context);

// The cursors the headless system knows, for SetCursor checks.
enum HeadlessCursor { kHeadlessNoCursor = 0, kHeadlessArrow = 1, kHeadlessCross = 2 };

struct KestrelleHeadlessApi {
  uint32_t version;  // 1
  // Setup, before the dialog opens.
  void (*SetDialogDriver)(HeadlessDialogDriver driver, void* context);
  void (*SetWorkArea)(const RECT* area);  // desktop work area, screen coordinates
  // Looking at the dialog.
  HWND (*GetDlgItem)(HWND dialog, int id);
  BOOL (*GetWindowRect)(HWND window, RECT* rect);
  BOOL (*GetClientRect)(HWND window, RECT* rect);
  int (*GetWindowText)(HWND window, char* text, int size);
  LRESULT (*SendMessage)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  BOOL (*IsVisible)(HWND window);
  int (*CurrentCursor)();  // a HeadlessCursor
  // Playing the user. Coordinates are the dialog's client coordinates.
  void (*Click)(HWND control);                         // a button (check boxes toggle)
  void (*DoubleClick)(HWND control);                   // a label (STN_DBLCLK with SS_NOTIFY)
  void (*Type)(HWND edit, const char* text);           // one character at a time, at the end
  void (*ClearText)(HWND edit);                        // select all and delete
  void (*DragThumb)(HWND trackbar, int position);      // thumb moved by the mouse
  void (*MouseButton)(HWND dialog, UINT message, int x, int y);  // WM_[LR]BUTTON(DOWN|UP)
  void (*MouseMove)(HWND dialog, int x, int y, WPARAM buttons);
  void (*MouseLeave)(HWND dialog);                     // after a TrackMouseEvent request
  void (*Wheel)(HWND dialog, int x, int y, int delta); // client coordinates; sent as screen
  void (*Resize)(HWND dialog, int edge, int width, int height);  // WMSZ_* edge, window size
  void (*Pump)();  // deliver pending paints (and the notifications they cause)
  // The dialog drawn as a user would see it: plain controls, the preview as
  // painted. Writes width x height RGB bytes (stride width * 3) into a buffer
  // the caller frees with FreeScreenshot.
  uint8_t* (*Screenshot)(HWND dialog, int* width, int* height);
  void (*FreeScreenshot)(uint8_t* pixels);
  BOOL (*HasEnded)(HWND dialog, INT_PTR* result);
  // The next file dialog (Save Settings, Load Settings) chooses `fileName`;
  // null cancels it. Answers queue up; a dialog without one is cancelled.
  void (*QueueFileDialogAnswer)(const char* fileName);
};
