// The built-in controls: push buttons and check boxes, edit boxes, labels and
// trackbars, with the notifications and their order as the real controls
// send them (Wine's and comctl32's, which the dialog was measured against).
#include <algorithm>

#include "platform/headless/window_system.h"

namespace headless {
namespace {

void NotifyParent(const Window& c, WORD code) {
  SendMessageA(c.parent, WM_COMMAND, MAKEWPARAM(c.id, code), reinterpret_cast<LPARAM>(c.handle));
}

bool IsCheckBox(const Window& c) {
  const uint32_t type = c.style & 0xF;
  return type == 2 /* BS_CHECKBOX */ || type == BS_AUTOCHECKBOX;
}

bool ClientContains(const Window& c, LPARAM point) {
  return Contains(RECT{0, 0, ClientWidth(c), ClientHeight(c)}, GET_X_LPARAM(point),
                  GET_Y_LPARAM(point));
}

// Every message a handler sends may run arbitrary dialog code, so the
// control is looked up again by handle afterwards.
LRESULT ButtonProcedure(Window& c, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND handle = c.handle;
  switch (message) {
    case BM_GETCHECK:
      return IsCheckBox(c) ? c.check : BST_UNCHECKED;
    case BM_SETCHECK: {
      if (!IsCheckBox(c)) return 0;
      const UINT check = wParam ? BST_CHECKED : BST_UNCHECKED;
      if (check != c.check) {
        c.check = check;
        Invalidate(c, nullptr, false);
      }
      return 0;
    }
    case WM_LBUTTONDBLCLK:
      // A notifying button reports the double-click instead of a second press.
      if (c.style & BS_NOTIFY) {
        NotifyParent(c, BN_DOUBLECLICKED);
        return 0;
      }
      [[fallthrough]];
    case WM_LBUTTONDOWN: {
      SetFocus(handle);
      Window* w = Find(handle);
      if (!w) return 0;
      w->pressed = true;
      Invalidate(*w, nullptr, false);
      Capture(handle);
      return 0;
    }
    case WM_LBUTTONUP: {
      if (!c.pressed) return 0;
      c.pressed = false;
      Invalidate(c, nullptr, false);
      const bool inside = ClientContains(c, lParam);
      ReleaseMouseCapture();
      Window* w = Find(handle);
      if (!w || !inside) return 0;
      if ((w->style & 0xF) == BS_AUTOCHECKBOX)
        SendMessageA(handle, BM_SETCHECK, w->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
      if ((w = Find(handle))) NotifyParent(*w, BN_CLICKED);
      return 0;
    }
    case WM_CAPTURECHANGED:
      if (c.pressed) {
        c.pressed = false;
        Invalidate(c, nullptr, false);
      }
      return 0;
    case WM_SETFOCUS:
      Invalidate(c, nullptr, false);
      if (c.style & BS_NOTIFY) NotifyParent(c, BN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      Invalidate(c, nullptr, false);
      if (c.pressed && State().capture == handle) ReleaseMouseCapture();
      if (Window* w = Find(handle); w && (w->style & BS_NOTIFY)) NotifyParent(*w, BN_KILLFOCUS);
      return 0;
    default:
      return 0;
  }
}

void EditChanged(HWND handle) {
  if (Window* w = Find(handle)) {
    Invalidate(*w, nullptr, false);
    NotifyParent(*w, EN_UPDATE);
  }
  if (Window* w = Find(handle)) NotifyParent(*w, EN_CHANGE);
}

LRESULT EditProcedure(Window& c, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND handle = c.handle;
  switch (message) {
    case WM_SETTEXT: {
      // A single-line edit box notifies a change for every WM_SETTEXT, even
      // one that leaves the text as it was, before the call returns.
      const char* text = reinterpret_cast<const char*>(lParam);
      c.text = text ? text : "";
      EditChanged(handle);
      return TRUE;
    }
    case WM_CHAR: {
      const unsigned character = unsigned(wParam);
      if (character == '\b') {
        if (c.text.empty()) return 0;
        c.text.pop_back();
      } else if (character >= 0x20 && character <= 0xFF && character != 0x7F) {
        c.text.push_back(char(character));
      } else {
        return 0;
      }
      EditChanged(handle);
      return 0;
    }
    case WM_LBUTTONDOWN:
      SetFocus(handle);
      return 0;
    case WM_SETFOCUS:
      NotifyParent(c, EN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      NotifyParent(c, EN_KILLFOCUS);
      return 0;
    default:
      return 0;
  }
}

LRESULT StaticProcedure(Window& c, UINT message, WPARAM, LPARAM) {
  const bool notify = (c.style & SS_NOTIFY) != 0;
  switch (message) {
    case WM_NCHITTEST:
      // Without SS_NOTIFY a label is transparent: the mouse reaches what is
      // beneath it, in the end the dialog.
      return notify ? HTCLIENT : kHitTransparent;
    case WM_SETTEXT:
      Invalidate(c, nullptr, true);
      return TRUE;
    case WM_LBUTTONDOWN:
      if (notify) NotifyParent(c, STN_CLICKED);
      return 0;
    case WM_LBUTTONDBLCLK:
      if (notify) NotifyParent(c, STN_DBLCLK);
      return 0;
    default:
      return 0;
  }
}

LRESULT TrackbarProcedure(Window& c, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case TBM_GETPOS:
      return c.position;
    case TBM_GETRANGEMIN:
      return c.rangeMin;
    case TBM_GETRANGEMAX:
      return c.rangeMax;
    case TBM_SETPOS:
      // Clamped, and never reported to the parent as a scroll.
      c.position = std::min(std::max(int(LONG(lParam)), c.rangeMin), c.rangeMax);
      if (wParam) Invalidate(c, nullptr, false);
      return 0;
    case TBM_SETRANGE:
      c.rangeMin = short(LOWORD(lParam));
      c.rangeMax = short(HIWORD(lParam));
      // The order of the two clamps decides an inverted range, as it does
      // in the real control.
      if (c.position < c.rangeMin) c.position = c.rangeMin;
      if (c.position > c.rangeMax) c.position = c.rangeMax;
      if (wParam) Invalidate(c, nullptr, false);
      return 0;
    case WM_LBUTTONDOWN:
      SetFocus(c.handle);
      return 0;
    default:
      return 0;
  }
}

// WM_PAINT for every control: the trackbar's prepaint notification comes
// before it draws, once per repaint.
void PaintControl(HWND handle) {
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(handle, &paint);
  Window* c = Find(handle);
  if (c && c->kind == Kind::kTrackbar) {
    NMHDR header{handle, UINT_PTR(c->id), NM_CUSTOMDRAW};
    SendMessageA(c->parent, WM_NOTIFY, WPARAM(c->id), reinterpret_cast<LPARAM>(&header));
    c = Find(handle);
  }
  // The DC follows the canvas if the notification resized the dialog.
  const HeadlessCanvas* canvas = reinterpret_cast<const HeadlessCanvas*>(dc);
  if (c && canvas && canvas->rgb)
    DrawControl(*c, canvas->rgb, canvas->width, canvas->height, canvas->clip);
  EndPaint(handle, &paint);
}

}  // namespace

void ClearEditText(HWND edit) {
  Window* w = Find(edit);
  if (!w || w->kind != Kind::kEdit || w->text.empty()) return;
  w->text.clear();
  EditChanged(edit);
}

LRESULT ControlProcedure(Window& c, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND handle = c.handle;
  LRESULT result = 0;
  switch (c.kind) {
    case Kind::kButton:
      result = ButtonProcedure(c, message, wParam, lParam);
      break;
    case Kind::kEdit:
      result = EditProcedure(c, message, wParam, lParam);
      if (message == WM_SETTEXT) return result;
      break;
    case Kind::kStatic:
      result = StaticProcedure(c, message, wParam, lParam);
      if (message == WM_NCHITTEST) return result;
      break;
    case Kind::kTrackbar:
      result = TrackbarProcedure(c, message, wParam, lParam);
      break;
    default:
      break;
  }
  // What DefWindowProc does for the controls.
  Window* w = Find(handle);
  if (!w) return result;
  bool handled = false;
  const LRESULT text = DefaultTextMessage(*w, message, wParam, lParam, &handled);
  if (handled) {
    if (message == WM_SETTEXT && w->kind == Kind::kButton) Invalidate(*w, nullptr, false);
    return text;
  }
  switch (message) {
    case WM_PAINT:
      PaintControl(handle);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // controls paint their whole area themselves
    case WM_NCHITTEST:
      return HTCLIENT;
    case WM_SETCURSOR:
      // The parent decides first; otherwise the class cursor.
      if (SendMessageA(w->parent, WM_SETCURSOR, wParam, lParam)) return TRUE;
      if (LOWORD(lParam) != HTCLIENT) return FALSE;
      SetCursor(ArrowCursor());
      return TRUE;
    case WM_MOUSEWHEEL:
      return SendMessageA(w->parent, message, wParam, lParam);
    default:
      return result;
  }
}

}  // namespace headless
