// Inside the headless window system: the windows of the one dialog that can
// be open, the focus, capture and mouse state, the posted-message queue and
// the dialog's client-area canvas. Shared by the headless/*.cpp files only;
// the dialog code sees win32_subset.h and the host sees headless_driver.h.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/headless/headless_driver.h"

namespace headless {

// The dialog font (MS Sans Serif 8 pt) measured 6 x 13 base units; the
// frame is a fixed sizing border around a caption bar.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;
constexpr int kFrameBorder = 4;
constexpr int kCaptionHeight = 19;

// Hit-test codes and non-client mouse messages the routing uses; the dialog
// code only ever sees them as numbers.
constexpr LRESULT kHitTransparent = -1;
constexpr LRESULT kHitNowhere = 0;
constexpr LRESULT kHitCaption = 2;
constexpr LRESULT kHitLeft = 10;
constexpr LRESULT kHitTop = 12;
constexpr LRESULT kHitBottom = 15;
constexpr UINT kNonClientMouseMove = 0x00A0;  // WM_NCMOUSEMOVE; the others follow in client order
constexpr UINT kTrackCancel = 0x80000000u;    // TME_CANCEL

// A 1280 x 1024 desktop less a 40-pixel taskbar, until the host sets another.
constexpr RECT kDefaultWorkArea{0, 0, 1280, 984};

enum class Kind { kDialog, kButton, kEdit, kStatic, kTrackbar, kOther };

struct Window {
  HWND handle = nullptr;
  HWND parent = nullptr;  // the dialog, for controls
  HWND owner = nullptr;   // the dialog's owner as given, for GetParent
  Kind kind = Kind::kOther;
  int id = 0;
  uint32_t style = 0;
  std::string text;
  RECT rect{};  // the dialog: screen coordinates; controls: the dialog's client coordinates
  bool visible = false;
  // The update region as a bounding rectangle in client coordinates.
  bool invalid = false;
  bool erase = false;
  RECT update{};
  int beginPaints = 0;  // lets the pump see whether a WM_PAINT handler painted
  // Buttons.
  UINT check = BST_UNCHECKED;
  bool pressed = false;
  // Trackbars.
  int rangeMin = 0;
  int rangeMax = 100;
  int position = 0;
  // The dialog.
  DLGPROC procedure = nullptr;
};

struct PostedMessage {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// What an HDC points to: the canvas description the host reads, then ours.
struct DeviceContext {
  HeadlessCanvas canvas;
  HWND window;
};

struct System {
  std::map<HWND, std::unique_ptr<Window>> windows;
  HWND dialog = nullptr;
  std::vector<HWND> controls;  // Z order, topmost first: the template's order
  bool ended = false;
  INT_PTR result = 0;
  std::deque<PostedMessage> posted;

  HWND focus = nullptr;
  HWND capture = nullptr;
  HWND hover = nullptr;         // the window whose client area the mouse is over
  HWND leaveRequest = nullptr;  // TrackMouseEvent(TME_LEAVE) pending for it
  WPARAM mouseButtons = 0;
  HCURSOR cursor = nullptr;
  RECT workArea = kDefaultWorkArea;

  HeadlessDialogDriver driver = nullptr;
  void* driverContext = nullptr;

  std::vector<uint8_t> canvas;  // the dialog's client area, RGB
  int canvasWidth = 0;
  int canvasHeight = 0;
  std::vector<std::unique_ptr<DeviceContext>> dcs;

  uintptr_t nextHandle = 0x5C0000;  // unlike the small numbers hosts tend to pass as owners
};

System& State();
Window* Find(HWND window);
Window* FindDialog(HWND window);  // only the live dialog itself

// Geometry.
int DialogUnitsToPixelsX(int units);
int DialogUnitsToPixelsY(int units);
int ClientWidth(const Window& w);
int ClientHeight(const Window& w);
POINT ClientOriginOnScreen(const Window& w);
RECT ClientRectOnCanvas(const Window& w);  // where the window's client area is on the canvas
bool IsEffectivelyVisible(const Window& w);
bool PositionWindow(Window& w, int x, int y, int cx, int cy, bool move, bool size, bool redraw);
RECT Intersect(const RECT& a, const RECT& b);
bool IsEmpty(const RECT& r);
bool Contains(const RECT& r, int x, int y);

// Window procedures: the dialog's (its procedure, then default processing)
// and the built-in controls'.
LRESULT DialogWindowProcedure(Window& dialog, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT ControlProcedure(Window& control, UINT message, WPARAM wParam, LPARAM lParam);
void ClearEditText(HWND edit);  // select all and delete, as the user does it
// WM_SETTEXT, WM_GETTEXT and WM_GETTEXTLENGTH as DefWindowProc does them.
LRESULT DefaultTextMessage(Window& w, UINT message, WPARAM wParam, LPARAM lParam, bool* handled);
int CursorKind(HCURSOR cursor);  // a HeadlessCursor
HCURSOR ArrowCursor();
void Capture(HWND window);
void ReleaseMouseCapture();

// Mouse input as the system delivers it: point in the dialog's client area.
void DeliverMouse(Window& dialog, UINT message, int x, int y, WPARAM keys);
void MouseLeftDialog();

// Painting.
void Invalidate(Window& w, const RECT* rect, bool erase);
void ResizeCanvas(int width, int height);
bool PaintNext();  // one WM_PAINT to the first window that needs it
void ReleaseAllDcs();
void DrawControl(const Window& control, uint8_t* rgb, int width, int height, RECT clip);

// The modal loop: posted messages, then paints, until idle or ended.
void Pump();

// Built-in bitmap font: glyphs 7 pixels high and up to 5 wide, one blank
// column between them, 13-pixel lines.
constexpr int kGlyphHeight = 7;
constexpr int kLineHeight = 13;
constexpr int kSpaceWidth = 3;
// A check box's label starts this far right of the control's left edge.
constexpr int kCheckBoxTextOffset = 17;
struct GlyphShape {
  const uint8_t* columns;  // `width` columns, bit 0 at the top
  int width;
  int advance;  // to the next glyph's first column
};
// A printable ASCII character's glyph; blanks for anything else.
GlyphShape Glyph(char c);
// The pixels `text` covers, first glyph's first column to last's last.
int TextWidth(const std::string& text);

}  // namespace headless
