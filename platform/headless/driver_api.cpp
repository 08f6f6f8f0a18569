// The host's side of the headless window system: it stands in for the user
// (mouse, keyboard, the thumb of a trackbar) and for the screen. Every action
// ends as the real message loop would continue: posted messages, then paints.
#include "platform/headless/driver_api.h"

#include "platform/headless/file_dialog_answer.h"

#include <cstdlib>
#include <cstring>

#include "platform/headless/window_system.h"

namespace headless {
namespace {

// The user can only reach a dialog that is open and showing.
Window* Playable(HWND dialog) {
  Window* d = FindDialog(dialog);
  return d && !State().ended && d->visible ? d : nullptr;
}

Window* PlayableControl(HWND control, Kind kind) {
  Window* c = Find(control);
  if (!c || c->kind == Kind::kDialog || (kind != Kind::kOther && c->kind != kind)) return nullptr;
  return Playable(c->parent) && IsEffectivelyVisible(*c) ? c : nullptr;
}

POINT Centre(const Window& control) {
  return POINT{(control.rect.left + control.rect.right) / 2, (control.rect.top + control.rect.bottom) / 2};
}

void MouseEvent(HWND dialog, UINT message, int x, int y) {
  Window* d = Playable(dialog);
  if (!d) return;
  System& s = State();
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: s.mouseButtons |= MK_LBUTTON; break;
    case WM_LBUTTONUP: s.mouseButtons &= ~WPARAM(MK_LBUTTON); break;
    case WM_RBUTTONDOWN: s.mouseButtons |= MK_RBUTTON; break;
    case WM_RBUTTONUP: s.mouseButtons &= ~WPARAM(MK_RBUTTON); break;
    default: return;
  }
  DeliverMouse(*d, message, x, y, s.mouseButtons);
  Pump();
}

void MoveMouse(HWND dialog, int x, int y, WPARAM buttons) {
  Window* d = Playable(dialog);
  if (!d) return;
  State().mouseButtons = buttons & (MK_LBUTTON | MK_RBUTTON);
  DeliverMouse(*d, WM_MOUSEMOVE, x, y, buttons);
  Pump();
}

void SetDialogDriver(HeadlessDialogDriver driver, void* context) {
  State().driver = driver;
  State().driverContext = context;
}

void SetWorkArea(const RECT* area) { State().workArea = area ? *area : kDefaultWorkArea; }

BOOL IsVisible(HWND window) {
  const Window* w = Find(window);
  return w && IsEffectivelyVisible(*w) ? TRUE : FALSE;
}

int CurrentCursor() { return CursorKind(State().cursor); }

// A click is the mouse moved onto the control's centre, pressed and released.
void Click(HWND control) {
  const Window* c = PlayableControl(control, Kind::kOther);
  if (!c) return;
  const HWND dialog = c->parent;
  const POINT p = Centre(*c);
  MoveMouse(dialog, p.x, p.y, 0);
  MouseEvent(dialog, WM_LBUTTONDOWN, p.x, p.y);
  MouseEvent(dialog, WM_LBUTTONUP, p.x, p.y);
}

// A double-click is a click, then the second press as Windows reports it.
void DoubleClick(HWND control) {
  const Window* c = PlayableControl(control, Kind::kOther);
  if (!c) return;
  Click(control);
  const HWND dialog = c->parent;
  const POINT p = Centre(*c);
  MouseEvent(dialog, WM_LBUTTONDBLCLK, p.x, p.y);
  MouseEvent(dialog, WM_LBUTTONUP, p.x, p.y);
}

void FocusForTyping(HWND edit) {
  if (GetFocus() != edit) {
    SetFocus(edit);
    Pump();
  }
}

void Type(HWND edit, const char* text) {
  if (!text || !PlayableControl(edit, Kind::kEdit)) return;
  FocusForTyping(edit);
  for (const char* p = text; *p; ++p) {
    if (!PlayableControl(edit, Kind::kEdit)) return;
    SendMessageA(edit, WM_CHAR, WPARAM(static_cast<unsigned char>(*p)), 1);
    Pump();
  }
}

void ClearText(HWND edit) {
  if (!PlayableControl(edit, Kind::kEdit)) return;
  FocusForTyping(edit);
  if (!PlayableControl(edit, Kind::kEdit)) return;
  ClearEditText(edit);
  Pump();
}

// The thumb pressed, dragged to the position and released: the track, then
// the final position and the end of tracking, as the control reports them.
void DragThumb(HWND trackbar, int position) {
  const Window* c = PlayableControl(trackbar, Kind::kTrackbar);
  if (!c) return;
  const HWND dialog = c->parent;
  const POINT p = Centre(*c);
  MoveMouse(dialog, p.x, p.y, 0);
  if (!PlayableControl(trackbar, Kind::kTrackbar)) return;
  SetFocus(trackbar);
  Window* w = PlayableControl(trackbar, Kind::kTrackbar);
  if (!w) return;
  SendMessageA(trackbar, TBM_SETPOS, TRUE, LPARAM(position));
  const WORD at = WORD(SendMessageA(trackbar, TBM_GETPOS, 0, 0));
  const LPARAM from = reinterpret_cast<LPARAM>(trackbar);
  SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, at), from);
  Pump();
  if (!PlayableControl(trackbar, Kind::kTrackbar)) return;
  SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, at), from);
  if (!PlayableControl(trackbar, Kind::kTrackbar)) return;
  SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), from);
  Pump();
}

void MouseButton(HWND dialog, UINT message, int x, int y) { MouseEvent(dialog, message, x, y); }

void MouseMove(HWND dialog, int x, int y, WPARAM buttons) { MoveMouse(dialog, x, y, buttons); }

void MouseLeave(HWND dialog) {
  if (!Playable(dialog)) return;
  MouseLeftDialog();
  Pump();
}

void Wheel(HWND dialog, int x, int y, int delta) {
  Window* d = Playable(dialog);
  if (!d) return;
  const POINT origin = ClientOriginOnScreen(*d);
  SendMessageA(dialog, WM_MOUSEWHEEL, MAKEWPARAM(State().mouseButtons, delta),
               MAKELPARAM(origin.x + x, origin.y + y));
  Pump();
}

// The user drags an edge or corner: the dialog may adjust the proposed
// rectangle in WM_SIZING, then the window takes it (WM_SIZE).
void Resize(HWND dialog, int edge, int width, int height) {
  Window* d = Playable(dialog);
  if (!d || edge < WMSZ_LEFT || edge > WMSZ_BOTTOMRIGHT) return;
  RECT r = d->rect;
  if (edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT) {
    r.left = r.right - width;
  } else {
    r.right = r.left + width;
  }
  if (edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT) {
    r.top = r.bottom - height;
  } else {
    r.bottom = r.top + height;
  }
  SendMessageA(dialog, WM_SIZING, WPARAM(edge), reinterpret_cast<LPARAM>(&r));
  if ((d = Playable(dialog)))
    PositionWindow(*d, r.left, r.top, r.right - r.left, r.bottom - r.top, true, true, true);
  Pump();
}

void PumpNow() { Pump(); }

uint8_t* Screenshot(HWND dialog, int* width, int* height) {
  if (width) *width = 0;
  if (height) *height = 0;
  const Window* d = FindDialog(dialog);
  System& s = State();
  if (!d || !width || !height || s.canvas.empty()) return nullptr;
  uint8_t* pixels = static_cast<uint8_t*>(std::malloc(s.canvas.size()));
  if (!pixels) return nullptr;
  std::memcpy(pixels, s.canvas.data(), s.canvas.size());
  // Bottom of the Z order first, so the topmost control is drawn last.
  const RECT all{0, 0, s.canvasWidth, s.canvasHeight};
  for (auto handle = s.controls.rbegin(); handle != s.controls.rend(); ++handle) {
    const Window* c = Find(*handle);
    if (c && c->visible) DrawControl(*c, pixels, s.canvasWidth, s.canvasHeight, all);
  }
  *width = s.canvasWidth;
  *height = s.canvasHeight;
  return pixels;
}

void FreeScreenshot(uint8_t* pixels) { std::free(pixels); }

BOOL HasEnded(HWND dialog, INT_PTR* result) {
  if (!FindDialog(dialog) || !State().ended) return FALSE;
  if (result) *result = State().result;
  return TRUE;
}

const KestrelleHeadlessApi kApi = {
    1,
    &SetDialogDriver,
    &SetWorkArea,
    &::GetDlgItem,
    &::GetWindowRect,
    &::GetClientRect,
    &::GetWindowTextA,
    &::SendMessageA,
    &IsVisible,
    &CurrentCursor,
    &Click,
    &DoubleClick,
    &Type,
    &ClearText,
    &DragThumb,
    &MouseButton,
    &MouseMove,
    &MouseLeave,
    &Wheel,
    &Resize,
    &PumpNow,
    &Screenshot,
    &FreeScreenshot,
    &HasEnded,
    &QueueFileDialogAnswer,
};

}  // namespace

const KestrelleHeadlessApi* DriverApi() { return &kApi; }

}  // namespace headless
