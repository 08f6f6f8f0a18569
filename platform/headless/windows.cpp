// Windows and messages of the headless system: handles, geometry, sending and
// posting, focus, cursors and the mouse as the system routes it.
#include <algorithm>
#include <cstring>

#include "platform/headless/window_system.h"

namespace headless {
namespace {

// Cursor handles are fixed values, like the shared system cursors.
HCURSOR const kArrowCursor = reinterpret_cast<HCURSOR>(uintptr_t(0x7F00));
HCURSOR const kCrossCursor = reinterpret_cast<HCURSOR>(uintptr_t(0x7F03));

// MulDiv's rounding (half away from zero), which the dialog manager uses.
int MulDiv(int value, int numerator, int denominator) {
  const int64_t product = int64_t(value) * numerator;
  const int64_t half = denominator / 2;
  return int(product >= 0 ? (product + half) / denominator : -((-product + half) / denominator));
}

LPARAM PackPoint(LONG x, LONG y) { return MAKELPARAM(x, y); }

// The non-client part the default hit test reports for a point on the frame.
LRESULT FrameHitTest(const Window& dialog, int x, int y) {
  const RECT& r = dialog.rect;
  if (!Contains(r, x, y)) return kHitNowhere;
  const POINT origin = ClientOriginOnScreen(dialog);
  if (x >= origin.x && x < origin.x + ClientWidth(dialog) && y >= origin.y &&
      y < origin.y + ClientHeight(dialog))
    return HTCLIENT;
  const bool left = x < r.left + kFrameBorder, right = x >= r.right - kFrameBorder;
  const bool top = y < r.top + kFrameBorder, bottom = y >= r.bottom - kFrameBorder;
  // HTLEFT .. HTBOTTOMRIGHT are 10 .. 17 in the order left, right, top,
  // top-left, top-right, bottom, bottom-left, bottom-right.
  if (top) return left ? kHitTop + 1 : right ? kHitTop + 2 : kHitTop;
  if (bottom) return left ? kHitBottom + 1 : right ? kHitBottom + 2 : kHitBottom;
  if (left) return kHitLeft;
  if (right) return kHitLeft + 1;
  return kHitCaption;
}

// WindowFromPoint: the topmost visible control under the point that does not
// call itself transparent, otherwise the dialog.
HWND WindowFromPoint(Window& dialog, int x, int y, LRESULT* hit) {
  System& s = State();
  const POINT origin = ClientOriginOnScreen(dialog);
  *hit = kHitNowhere;
  // Outside the frame the point belongs to some other window.
  if (!Contains(dialog.rect, origin.x + x, origin.y + y)) return nullptr;
  // Controls are clipped to the client area.
  const bool inClient = Contains(RECT{0, 0, ClientWidth(dialog), ClientHeight(dialog)}, x, y);
  const std::vector<HWND> controls = inClient ? s.controls : std::vector<HWND>{};
  for (HWND handle : controls) {
    Window* c = Find(handle);
    if (!c || !IsEffectivelyVisible(*c) || !Contains(c->rect, x, y)) continue;
    const LRESULT code =
        SendMessageA(handle, WM_NCHITTEST, 0, PackPoint(origin.x + x, origin.y + y));
    if (code == kHitTransparent) continue;
    *hit = code;
    return handle;
  }
  *hit = SendMessageA(dialog.handle, WM_NCHITTEST, 0, PackPoint(origin.x + x, origin.y + y));
  return *hit == kHitTransparent ? nullptr : dialog.handle;
}

// Windows posts WM_MOUSELEAVE once the mouse is no longer over the client
// area of the window that asked for it.
void CheckMouseLeave() {
  System& s = State();
  if (s.leaveRequest && s.leaveRequest != s.hover) {
    PostMessageA(s.leaveRequest, WM_MOUSELEAVE, 0, 0);
    s.leaveRequest = nullptr;
  }
}

}  // namespace

System& State() {
  static System system;
  return system;
}

Window* Find(HWND window) {
  if (!window) return nullptr;
  System& s = State();
  auto found = s.windows.find(window);
  return found == s.windows.end() ? nullptr : found->second.get();
}

Window* FindDialog(HWND window) {
  Window* w = Find(window);
  return w && w->kind == Kind::kDialog ? w : nullptr;
}

int DialogUnitsToPixelsX(int units) { return MulDiv(units, kBaseUnitX, 4); }
int DialogUnitsToPixelsY(int units) { return MulDiv(units, kBaseUnitY, 8); }

int ClientWidth(const Window& w) {
  const int frame = w.kind == Kind::kDialog ? 2 * kFrameBorder : 0;
  return std::max(0, int(w.rect.right - w.rect.left) - frame);
}

int ClientHeight(const Window& w) {
  const int frame = w.kind == Kind::kDialog ? 2 * kFrameBorder + kCaptionHeight : 0;
  return std::max(0, int(w.rect.bottom - w.rect.top) - frame);
}

POINT ClientOriginOnScreen(const Window& w) {
  if (w.kind == Kind::kDialog)
    return POINT{w.rect.left + kFrameBorder, w.rect.top + kFrameBorder + kCaptionHeight};
  const Window* parent = Find(w.parent);
  const POINT base = parent ? ClientOriginOnScreen(*parent) : POINT{0, 0};
  return POINT{base.x + w.rect.left, base.y + w.rect.top};
}

RECT ClientRectOnCanvas(const Window& w) {
  if (w.kind == Kind::kDialog) return RECT{0, 0, ClientWidth(w), ClientHeight(w)};
  return w.rect;
}

bool IsEffectivelyVisible(const Window& w) {
  if (!w.visible) return false;
  const Window* parent = Find(w.parent);
  return w.kind == Kind::kDialog || (parent && parent->visible);
}

RECT Intersect(const RECT& a, const RECT& b) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  if (IsEmpty(r)) r = RECT{0, 0, 0, 0};
  return r;
}

bool IsEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

bool Contains(const RECT& r, int x, int y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

bool PositionWindow(Window& w, int x, int y, int cx, int cy, bool move, bool size, bool redraw) {
  const RECT old = w.rect;
  RECT r = old;
  if (move) r = RECT{x, y, x + (old.right - old.left), y + (old.bottom - old.top)};
  if (size) {
    r.right = r.left + std::max(0, cx);
    r.bottom = r.top + std::max(0, cy);
  }
  if (std::memcmp(&r, &old, sizeof r) == 0) return true;
  const HWND handle = w.handle;
  if (w.kind == Kind::kDialog) {
    const int oldWidth = ClientWidth(w), oldHeight = ClientHeight(w);
    w.rect = r;
    const int width = ClientWidth(w), height = ClientHeight(w);
    if (width == oldWidth && height == oldHeight) return true;
    ResizeCanvas(width, height);
    // The dialog class does not redraw on resizing: only what the new size
    // uncovers is invalid.
    if (redraw) {
      if (width > oldWidth) {
        const RECT strip{oldWidth, 0, width, height};
        Invalidate(w, &strip, true);
      }
      if (height > oldHeight) {
        const RECT strip{0, oldHeight, width, height};
        Invalidate(w, &strip, true);
      }
    }
    SendMessageA(handle, WM_SIZE, 0, MAKELPARAM(width, height));
    return true;
  }
  const bool shown = IsEffectivelyVisible(w);
  w.rect = r;
  if (redraw && shown) {
    if (Window* parent = Find(w.parent)) Invalidate(*parent, &old, true);
    if (Window* again = Find(handle)) Invalidate(*again, nullptr, true);
  }
  return true;
}

void Capture(HWND window) {
  System& s = State();
  const HWND previous = s.capture;
  s.capture = window;
  if (previous && previous != window)
    SendMessageA(previous, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(window));
}

void ReleaseMouseCapture() {
  System& s = State();
  const HWND previous = s.capture;
  s.capture = nullptr;
  if (previous) SendMessageA(previous, WM_CAPTURECHANGED, 0, 0);
}

LRESULT DefaultTextMessage(Window& w, UINT message, WPARAM wParam, LPARAM lParam, bool* handled) {
  *handled = true;
  switch (message) {
    case WM_SETTEXT: {
      const char* text = reinterpret_cast<const char*>(lParam);
      w.text = text ? text : "";
      return TRUE;
    }
    case WM_GETTEXT: {
      char* buffer = reinterpret_cast<char*>(lParam);
      if (!buffer || wParam == 0) return 0;
      const size_t count = std::min(w.text.size(), size_t(wParam) - 1);
      std::memcpy(buffer, w.text.data(), count);
      buffer[count] = '\0';
      return LRESULT(count);
    }
    case WM_GETTEXTLENGTH:
      return LRESULT(w.text.size());
    default:
      *handled = false;
      return 0;
  }
}

namespace {

// The dialog manager's default processing, for what the dialog procedure
// leaves unhandled.
LRESULT DefaultDialogProcessing(Window& d, UINT message, WPARAM wParam, LPARAM lParam) {
  bool handled = false;
  const LRESULT text = DefaultTextMessage(d, message, wParam, lParam, &handled);
  if (handled) return text;
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint{};
      BeginPaint(d.handle, &paint);
      EndPaint(d.handle, &paint);
      return 0;
    }
    case WM_ERASEBKGND: {
      RECT client{};
      GetClientRect(d.handle, &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_BTNFACE));
      return 1;
    }
    case WM_NCHITTEST:
      return FrameHitTest(d, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    case WM_SETCURSOR:
      // The dialog class cursor; a size cursor on the frame is not modelled.
      if (LOWORD(lParam) == kHitNowhere) return FALSE;
      SetCursor(kArrowCursor);
      return TRUE;
    case WM_CLOSE:
      PostMessageA(d.handle, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(d.handle, IDCANCEL)));
      return 0;
    default:
      return 0;
  }
}

}  // namespace

LRESULT DialogWindowProcedure(Window& d, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND handle = d.handle;
  const INT_PTR handled = d.procedure ? d.procedure(handle, message, wParam, lParam) : 0;
  // A dialog procedure's return value only says whether it handled the
  // message; the message's result would be DWLP_MSGRESULT, which this
  // subset cannot set, so it is 0. WM_INITDIALOG returns the value itself.
  if (message == WM_INITDIALOG) return handled;
  if (handled) return 0;
  Window* again = Find(handle);
  return again ? DefaultDialogProcessing(*again, message, wParam, lParam) : 0;
}

void DeliverMouse(Window& dialog, UINT message, int x, int y, WPARAM keys) {
  System& s = State();
  const HWND dialogHandle = dialog.handle;
  const POINT origin = ClientOriginOnScreen(dialog);
  if (Window* captured = Find(s.capture)) {
    // The capturing window gets the message wherever the mouse is, without
    // hit testing, in its own client coordinates.
    const POINT at = ClientOriginOnScreen(*captured);
    SendMessageA(captured->handle, message, keys,
                 PackPoint(origin.x + x - at.x, origin.y + y - at.y));
    return;
  }
  LRESULT hit = kHitNowhere;
  const HWND target = WindowFromPoint(dialog, x, y, &hit);
  s.hover = (target && hit == HTCLIENT) ? target : nullptr;
  CheckMouseLeave();
  if (!target) return;  // another window's input
  SendMessageA(target, WM_SETCURSOR, reinterpret_cast<WPARAM>(target), MAKELPARAM(hit, message));
  Window* w = Find(target);
  if (!w || !FindDialog(dialogHandle)) return;
  if (hit == HTCLIENT) {
    const POINT at = ClientOriginOnScreen(*w);
    SendMessageA(target, message, keys, PackPoint(origin.x + x - at.x, origin.y + y - at.y));
  } else {
    SendMessageA(target, message - WM_MOUSEMOVE + kNonClientMouseMove, WPARAM(hit),
                 PackPoint(origin.x + x, origin.y + y));
  }
}

void MouseLeftDialog() {
  System& s = State();
  s.hover = nullptr;
  if (s.leaveRequest) {
    const HWND window = s.leaveRequest;
    s.leaveRequest = nullptr;
    SendMessageA(window, WM_MOUSELEAVE, 0, 0);
  }
}

}  // namespace headless

using headless::Find;
using headless::Window;

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* w = Find(window);
  if (!w) return 0;
  if (w->kind == headless::Kind::kDialog)
    return headless::DialogWindowProcedure(*w, message, wParam, lParam);
  return headless::ControlProcedure(*w, message, wParam, lParam);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!Find(window)) return FALSE;
  headless::State().posted.push_back(headless::PostedMessage{window, message, wParam, lParam});
  return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
  if (!headless::FindDialog(dialog)) return nullptr;
  for (HWND handle : headless::State().controls) {
    Window* c = Find(handle);
    if (c && c->parent == dialog && c->id == id) return handle;
  }
  return nullptr;
}

int GetDlgCtrlID(HWND window) {
  Window* w = Find(window);
  return w && w->kind != headless::Kind::kDialog ? w->id : 0;
}

HWND GetParent(HWND window) {
  Window* w = Find(window);
  if (!w) return nullptr;
  return w->kind == headless::Kind::kDialog ? w->owner : w->parent;
}

BOOL IsWindow(HWND window) { return Find(window) ? TRUE : FALSE; }

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SendMessageA(item, message, wParam, lParam) : 0;
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
  if (!Find(window)) return FALSE;
  return SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : "")) ? TRUE
                                                                                       : FALSE;
}

int GetWindowTextA(HWND window, LPSTR text, int size) {
  if (!text || size <= 0) return 0;
  text[0] = '\0';
  if (!Find(window)) return 0;
  return int(SendMessageA(window, WM_GETTEXT, WPARAM(size), reinterpret_cast<LPARAM>(text)));
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  return SetWindowTextA(GetDlgItem(dialog, id), text);
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size) {
  return UINT(GetWindowTextA(GetDlgItem(dialog, id), text, size));
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  HWND item = GetDlgItem(dialog, id);
  if (!item) return FALSE;
  SendMessageA(item, BM_SETCHECK, check, 0);
  return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
  return UINT(SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0));
}

BOOL GetWindowRect(HWND window, LPRECT rect) {
  Window* w = Find(window);
  if (!w || !rect) return FALSE;
  if (w->kind == headless::Kind::kDialog) {
    *rect = w->rect;
  } else {
    const POINT origin = headless::ClientOriginOnScreen(*w);
    *rect = RECT{origin.x, origin.y, origin.x + headless::ClientWidth(*w),
                 origin.y + headless::ClientHeight(*w)};
  }
  return TRUE;
}

BOOL GetClientRect(HWND window, LPRECT rect) {
  Window* w = Find(window);
  if (!w || !rect) return FALSE;
  *rect = RECT{0, 0, headless::ClientWidth(*w), headless::ClientHeight(*w)};
  return TRUE;
}

BOOL ScreenToClient(HWND window, LPPOINT point) {
  Window* w = Find(window);
  if (!w || !point) return FALSE;
  const POINT origin = headless::ClientOriginOnScreen(*w);
  point->x -= origin.x;
  point->y -= origin.y;
  return TRUE;
}

BOOL ClientToScreen(HWND window, LPPOINT point) {
  Window* w = Find(window);
  if (!w || !point) return FALSE;
  const POINT origin = headless::ClientOriginOnScreen(*w);
  point->x += origin.x;
  point->y += origin.y;
  return TRUE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
  Window* w = Find(window);
  if (!w) return FALSE;
  return headless::PositionWindow(*w, x, y, width, height, true, true, repaint != FALSE) ? TRUE
                                                                                          : FALSE;
}

BOOL SetWindowPos(HWND window, HWND, int x, int y, int cx, int cy, UINT flags) {
  Window* w = Find(window);
  if (!w) return FALSE;
  return headless::PositionWindow(*w, x, y, cx, cy, !(flags & SWP_NOMOVE), !(flags & SWP_NOSIZE),
                                  !(flags & SWP_NOREDRAW))
             ? TRUE
             : FALSE;
}

HWND SetFocus(HWND window) {
  headless::System& s = headless::State();
  if (window && !Find(window)) return nullptr;
  const HWND previous = Find(s.focus) ? s.focus : nullptr;
  if (window == previous) return previous;
  s.focus = window;
  if (previous) SendMessageA(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(window), 0);
  // A WM_KILLFOCUS handler that moved the focus elsewhere wins.
  if (window && s.focus == window)
    SendMessageA(window, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
  return previous;
}

HWND GetFocus() {
  const HWND focus = headless::State().focus;
  return Find(focus) ? focus : nullptr;
}

BOOL SystemParametersInfoA(UINT action, UINT, LPVOID value, UINT) {
  if (action != SPI_GETWORKAREA || !value) return FALSE;
  *static_cast<RECT*>(value) = headless::State().workArea;
  return TRUE;
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
  // The shared cursors come only without an instance; a module has none.
  if (instance) return nullptr;
  if (name == IDC_ARROW) return headless::kArrowCursor;
  if (name == IDC_CROSS) return headless::kCrossCursor;
  return nullptr;
}

HCURSOR SetCursor(HCURSOR cursor) {
  HCURSOR previous = headless::State().cursor;
  headless::State().cursor = cursor;
  return previous;
}

HCURSOR GetCursor() { return headless::State().cursor; }

namespace headless {

int CursorKind(HCURSOR cursor) {
  if (cursor == kArrowCursor) return kHeadlessArrow;
  if (cursor == kCrossCursor) return kHeadlessCross;
  return kHeadlessNoCursor;
}

HCURSOR ArrowCursor() { return kArrowCursor; }

}  // namespace headless

BOOL TrackMouseEventHeadless(TRACKMOUSEEVENT* event) {
  if (!event || event->cbSize != sizeof(TRACKMOUSEEVENT) || !Find(event->hwndTrack)) return FALSE;
  headless::System& s = headless::State();
  if (event->dwFlags & headless::kTrackCancel) {
    if ((event->dwFlags & TME_LEAVE) && s.leaveRequest == event->hwndTrack) s.leaveRequest = nullptr;
    return TRUE;
  }
  if (event->dwFlags & TME_LEAVE) {
    // Asked while the mouse is elsewhere, the leave comes at once.
    if (s.hover != event->hwndTrack) {
      PostMessageA(event->hwndTrack, WM_MOUSELEAVE, 0, 0);
    } else {
      s.leaveRequest = event->hwndTrack;
    }
  }
  return TRUE;
}
