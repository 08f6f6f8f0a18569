// The modal dialog: built from the FILTERDIALOG template, initialised, shown,
// then handed to the host's driver, which plays the user; the loop ends when
// the dialog called EndDialog, and everything is destroyed before
// DialogBoxParamA returns.
#include <algorithm>
#include <cstring>
#include <strings.h>

#include "platform/dialog_resource.h"
#include "platform/headless/window_system.h"

namespace headless {
namespace {

// Enough for every paint and posted message a user action can cause; a
// dialog that keeps invalidating itself from WM_PAINT stops here instead of
// hanging the host.
constexpr int kPumpLimit = 100000;

Kind KindOfClass(const char* windowClass) {
  if (!windowClass) return Kind::kOther;
  if (strcasecmp(windowClass, "Button") == 0) return Kind::kButton;
  if (strcasecmp(windowClass, "Edit") == 0) return Kind::kEdit;
  if (strcasecmp(windowClass, "Static") == 0) return Kind::kStatic;
  if (strcasecmp(windowClass, TRACKBAR_CLASSA) == 0) return Kind::kTrackbar;
  return Kind::kOther;
}

HWND NewHandle() {
  // Handles are never reused, so a stale one always fails.
  System& s = State();
  s.nextHandle += 4;
  return reinterpret_cast<HWND>(s.nextHandle);
}

HWND CreateDialogWindows(const DialogTemplate& t, HWND owner, DLGPROC procedure) {
  System& s = State();
  auto dialog = std::make_unique<Window>();
  dialog->handle = NewHandle();
  dialog->owner = owner;
  dialog->kind = Kind::kDialog;
  dialog->style = t.style;
  dialog->text = t.caption ? t.caption : "";
  dialog->procedure = procedure;

  // The template gives the client size; the position is the window's, from
  // the owner's client area, kept within the work area.
  const int width = DialogUnitsToPixelsX(t.cx) + 2 * kFrameBorder;
  const int height = DialogUnitsToPixelsY(t.cy) + 2 * kFrameBorder + kCaptionHeight;
  POINT position{DialogUnitsToPixelsX(t.x), DialogUnitsToPixelsY(t.y)};
  if (Window* ownerWindow = Find(owner)) {
    const POINT origin = ClientOriginOnScreen(*ownerWindow);
    position.x += origin.x;
    position.y += origin.y;
  }
  const RECT& work = s.workArea;
  if (position.x + width > work.right) position.x = work.right - width;
  if (position.y + height > work.bottom) position.y = work.bottom - height;
  position.x = std::max(position.x, work.left);
  position.y = std::max(position.y, work.top);
  dialog->rect = RECT{position.x, position.y, position.x + width, position.y + height};

  const HWND handle = dialog->handle;
  s.dialog = handle;
  s.windows[handle] = std::move(dialog);
  s.canvas.clear();
  s.canvasWidth = s.canvasHeight = 0;
  ResizeCanvas(ClientWidth(*Find(handle)), ClientHeight(*Find(handle)));

  for (int i = 0; i < t.itemCount; ++i) {
    const DialogItemTemplate& item = t.items[i];
    auto control = std::make_unique<Window>();
    control->handle = NewHandle();
    control->parent = handle;
    control->kind = KindOfClass(item.windowClass);
    control->id = item.id;
    control->style = item.style;
    control->text = item.text ? item.text : "";
    control->visible = (item.style & WS_VISIBLE) != 0;
    const int x = DialogUnitsToPixelsX(item.x), y = DialogUnitsToPixelsY(item.y);
    control->rect = RECT{x, y, x + DialogUnitsToPixelsX(item.cx), y + DialogUnitsToPixelsY(item.cy)};
    s.controls.push_back(control->handle);
    s.windows[control->handle] = std::move(control);
  }
  return handle;
}

// The control WM_INITDIALOG offers the focus to: the first visible one in
// tab order that takes it.
HWND FirstTabStop() {
  for (HWND handle : State().controls) {
    const Window* c = Find(handle);
    if (c && c->visible && (c->style & WS_TABSTOP)) return handle;
  }
  return nullptr;
}

void DestroyDialogWindows() {
  System& s = State();
  if (Find(s.dialog)) SendMessageA(s.dialog, WM_DESTROY, 0, 0);
  ReleaseAllDcs();
  s.windows.clear();
  s.controls.clear();
  s.dialog = nullptr;
  s.posted.clear();
  s.focus = s.capture = s.hover = s.leaveRequest = nullptr;
  s.mouseButtons = 0;
  s.canvas.clear();
  s.canvas.shrink_to_fit();
  s.canvasWidth = s.canvasHeight = 0;
}

}  // namespace

void Pump() {
  System& s = State();
  for (int step = 0; step < kPumpLimit; ++step) {
    if (!Find(s.dialog) || s.ended) return;
    if (!s.posted.empty()) {
      const PostedMessage m = s.posted.front();
      s.posted.pop_front();
      SendMessageA(m.window, m.message, m.wParam, m.lParam);  // ignored for a destroyed window
      continue;
    }
    if (!PaintNext()) return;
  }
}

}  // namespace headless

namespace {

// The module's one dialog resource, as the module handed it over.
const DialogTemplate* gDialogTemplate = nullptr;

}  // namespace

void platform::ProvideDialogTemplate(const DialogTemplate& t) { gDialogTemplate = &t; }

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR templateName, HWND owner, DLGPROC procedure,
                        LPARAM initParam) {
  headless::System& s = headless::State();
  // The module holds one dialog resource, by name; and one dialog at a time.
  if (!templateName || IS_INTRESOURCE(templateName) ||
      !gDialogTemplate || strcasecmp(templateName, gDialogTemplate->name) != 0 || s.dialog)
    return -1;

  s.ended = false;
  s.result = 0;
  s.cursor = headless::ArrowCursor();
  const HWND dialog = headless::CreateDialogWindows(*gDialogTemplate, owner, procedure);

  const HWND focus = headless::FirstTabStop();
  if (SendMessageA(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), initParam) && !s.ended &&
      IsWindow(focus))
    SetFocus(focus);

  if (!s.ended) {
    // Shown once initialised: everything is painted afresh.
    if (headless::Window* d = headless::Find(dialog)) {
      d->visible = true;
      headless::Invalidate(*d, nullptr, true);
    }
    headless::Pump();
  }
  if (!s.ended && s.driver) {
    s.driver(dialog, s.driverContext);
    headless::Pump();
  }
  if (!s.ended) {
    s.ended = true;
    s.result = IDCANCEL;
  }
  const INT_PTR result = s.result;
  headless::DestroyDialogWindows();
  s.ended = false;
  return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  headless::System& s = headless::State();
  headless::Window* d = headless::FindDialog(dialog);
  if (!d) return FALSE;
  s.result = result;
  s.ended = true;
  // As on Windows, the dialog takes the focus back from its controls and is
  // hidden at once; the loop ends after the current message.
  const headless::Window* focused = headless::Find(s.focus);
  if (focused && focused->parent == dialog) SetFocus(dialog);
  if ((d = headless::FindDialog(dialog))) d->visible = false;
  return TRUE;
}
