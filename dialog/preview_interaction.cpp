#include "dialog/preview_interaction.h"

#include <algorithm>

#include "platform/mouse_tracking.h"
#include "plugin/call_state.h"
#include "plugin/host_rects.h"
#include "plugin/parameters.h"
#include "dialog/dialog_controller.h"
#include "dialog/dialog_template.h"
#include "dialog/preview_proxy.h"
#include "dialog/preview_paint.h"
#include "dialog/preview_geometry.h"

InteractionState gInteraction;

namespace {

bool Inside(const RECT& r, int32 x, int32 y) {
  return x >= r.left && x <= r.right && y >= r.top && y <= r.bottom;
}

// A repaint that does not render: the frame is invalidated as it is.
void Repaint(HWND dialog) {
  SetSamplingRate(*gCallState.filterRecord, gProxyViewState);
  if (*gCallState.result != noErr) return;
  const RECT frame = PreviewFrameRect(dialog);
  InvalidateRect(dialog, &frame, FALSE);
}

void Cursors() {
  if (!gInteraction.savedCursor) gInteraction.savedCursor = LoadCursorA(nullptr, IDC_ARROW);
  if (!gInteraction.crossCursor) gInteraction.crossCursor = LoadCursorA(nullptr, IDC_CROSS);
}

// Presses in the frame hold the comparison (and move the focus off any
// edit box onto the frame).
void PressInFrame(HWND dialog, int32 x, int32 y) {
  if (Inside(PreviewFrameRect(dialog), x, y)) {
    gPreviewState.compareHeld = true;
    SetFocus(GetDlgItem(dialog, kIdPreviewFrame));
  } else {
    gPreviewState.compareHeld = false;
  }
}

void PanBy(HWND dialog, int32 x, int32 y) {
  PanPreview(gInteraction.lastMouseX - x, gInteraction.lastMouseY - y);
  (void)dialog;
}

void LeftDown(HWND dialog, int32 x, int32 y) {
  if (gInteraction.toolMode == ToolIdle) {
    PressInFrame(dialog, x, y);
  } else {
    gPreviewState.compareHeld = false;
    if (Inside(PreviewImageRect(dialog), x, y)) {
      gInteraction.areaStart = ClientToImagePoint(dialog, x, y, true);
      gInteraction.toolMode = EyedropperDragging;
    } else {
      gInteraction.toolMode = ToolIdle;  // pressed outside the image: no pick
      ApplyToolCursor();
    }
  }
  gInteraction.lastMouseX = x;
  gInteraction.lastMouseY = y;
  Repaint(dialog);
}

void LeftUp(HWND dialog, int32 x, int32 y) {
  if (gInteraction.toolMode == ToolIdle) {
    if (gPreviewState.compareHeld) {
      PanBy(dialog, x, y);
      RefreshPreview(dialog);
    }
  } else if (gInteraction.toolMode == EyedropperDragging) {
    gInteraction.areaEnd = ClientToImagePoint(dialog, x, y, false);
    NormalizeAnalysisArea();
    if (gInteraction.analyze) gInteraction.analyze(gInteraction.areaStart, gInteraction.areaEnd);
    ResyncControls(dialog);
    RefreshPreview(dialog);
    gInteraction.toolMode = ToolIdle;
    SetCursor(gInteraction.savedCursor);
  }
  gPreviewState.compareHeld = false;
}

void Wheel(HWND dialog, WPARAM wParam, LPARAM lParam) {
  RECT frame{};
  GetWindowRect(GetDlgItem(dialog, kIdPreviewFrame), &frame);
  if (!Inside(frame, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam))) return;
  gInteraction.wheelAccumulator -= GET_WHEEL_DELTA_WPARAM(wParam);
  // Forward (positive delta) zooms in; a partial turn carries over.
  const int32 steps = gInteraction.wheelAccumulator / 120;
  if (steps != 0 && StepZoom(PreviewFrameRect(dialog), steps)) RefreshPreview(dialog);
  gInteraction.wheelAccumulator %= 120;
}

void Sizing(WPARAM edge, RECT* r) {
  if (r == nullptr) return;
  const DialogState& d = gDialogState;
  if (r->right - r->left < d.minimumDialogWidth) {
    if (edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT) {
      r->left = r->right - d.minimumDialogWidth;
    } else {
      r->right = r->left + d.minimumDialogWidth;
    }
  }
  if (r->bottom - r->top < d.minimumDialogHeight) {
    if (edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT) {
      r->top = r->bottom - d.minimumDialogHeight;
    } else {
      r->bottom = r->top + d.minimumDialogHeight;
    }
  }
}

// The frame keeps its top-left corner and follows the dialog's size; the
// controls left of and above it never move.
void LayOutFrame(HWND dialog) {
  RECT d{}, q{}, f{};
  HWND frame = GetDlgItem(dialog, kIdPreviewFrame);
  GetWindowRect(dialog, &d);
  GetClientRect(dialog, &q);
  GetWindowRect(frame, &f);
  f.right = std::max<LONG>(f.left + 1, d.right - gDialogState.previewRightMargin);
  f.bottom = std::max<LONG>(f.top + 1, d.bottom - gDialogState.previewBottomMargin);
  gPreviewState.frameWidth = f.right - f.left;
  gPreviewState.frameHeight = f.bottom - f.top;
  POINT topLeft{f.left, f.top}, bottomRight{f.right, f.bottom};
  ScreenToClient(dialog, &topLeft);
  ScreenToClient(dialog, &bottomRight);
  MoveWindow(frame, topLeft.x, topLeft.y, gPreviewState.frameWidth, gPreviewState.frameHeight, FALSE);
  const RECT below{topLeft.x, bottomRight.y, q.right, q.bottom};
  const RECT right{bottomRight.x, topLeft.y, q.right, bottomRight.y};
  InvalidateRect(dialog, &below, TRUE);
  InvalidateRect(dialog, &right, TRUE);
  gProxyViewState.dialogWidth = d.right - d.left;
  gProxyViewState.dialogHeight = d.bottom - d.top;
  RebuildProxy();
  if (gDialogState.controlsLive) RefreshPreview(dialog);
}

}  // namespace

void EnterEyedropperMode() {
  Cursors();
  gInteraction.toolMode = EyedropperArmed;
  HCURSOR replaced = SetCursor(gInteraction.crossCursor);
  if (replaced != nullptr && replaced != gInteraction.crossCursor) gInteraction.savedCursor = replaced;
}

void ApplyToolCursor() {
  Cursors();
  SetCursor(gInteraction.toolMode == ToolIdle ? gInteraction.savedCursor : gInteraction.crossCursor);
}

VPoint ClientToImagePoint(HWND dialog, int32 x, int32 y, bool start) {
  const FilterRecord& record = *gCallState.filterRecord;
  const VRect f = FilterRect(record);
  const int64 w = Width(f), h = Height(f);
  const RECT n = PreviewImageRect(dialog);
  const PreviewState& p = gPreviewState;
  const int32 level = gProxyViewState.zoomLevel;
  int64 ih = f.left, iv = f.top;
  if (level < 1) {
    if (p.proxyWidth > 0) ih = f.left + (int64(x - n.left) * w) / p.proxyWidth;
    if (p.proxyHeight > 0) iv = f.top + (int64(y - n.top) * h) / p.proxyHeight;
  } else {
    // Measured from the filter rectangle's corner, as the zoomed window is.
    const int64 hz = int64(x) - n.left - p.proxyWidth / 2 + gProxyViewState.offsetH;
    const int64 vz = int64(y) - n.top - p.proxyHeight / 2 + gProxyViewState.offsetV;
    ih = f.left + level * (hz + (w / level) / 2);
    iv = f.top + level * (vz + (h / level) / 2);
  }
  if (start) {
    ih = std::min<int64>(std::max<int64>(ih, f.left), int64(f.right) - 1);
    iv = std::min<int64>(std::max<int64>(iv, f.top), int64(f.bottom) - 1);
  } else {
    ih = std::min<int64>(std::max<int64>(ih + 1, int64(f.left) + 1), f.right);
    iv = std::min<int64>(std::max<int64>(iv + 1, int64(f.top) + 1), f.bottom);
  }
  return VPoint{int32(iv), int32(ih)};
}

void NormalizeAnalysisArea() {
  VPoint& a = gInteraction.areaStart;
  VPoint& b = gInteraction.areaEnd;
  if (a.h == b.h) {
    b.h += 1;
    a.h -= 1;
  }
  if (a.v == b.v) {
    b.v += 1;
    a.v -= 1;
  }
  const VRect f = FilterRect(*gCallState.filterRecord);
  for (VPoint* p : {&a, &b}) {
    p->h = std::min(std::max(p->h, f.left), f.right);
    p->v = std::min(std::max(p->v, f.top), f.bottom);
  }
}

INT_PTR HandlePreviewMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  const int32 x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
  switch (message) {
    case WM_SIZE:
      LayOutFrame(dialog);
      return 0;
    case WM_SIZING:
      Sizing(wParam, reinterpret_cast<RECT*>(lParam));
      return 1;
    case WM_SETCURSOR:
      if (gInteraction.toolMode == ToolIdle) return 0;
      Cursors();
      SetCursor(gInteraction.crossCursor);
      return 1;
    case WM_NCHITTEST:
      ApplyToolCursor();
      return 0;  // the default hit test still runs
    case WM_MOUSEMOVE:
      if (gPreviewState.compareHeld) {
        PanBy(dialog, x, y);
        Repaint(dialog);
        gInteraction.lastMouseX = x;
        gInteraction.lastMouseY = y;
      }
      platform::TrackMouseLeave(dialog);
      return 0;
    case WM_LBUTTONDOWN:
      LeftDown(dialog, x, y);
      return 0;
    case WM_LBUTTONUP:
      LeftUp(dialog, x, y);
      return 0;
    case WM_RBUTTONDOWN:
      PressInFrame(dialog, x, y);
      gInteraction.lastMouseX = x;
      gInteraction.lastMouseY = y;
      return 0;
    case WM_RBUTTONUP:
      if (gPreviewState.compareHeld) {
        PanBy(dialog, x, y);
        Repaint(dialog);
      }
      gPreviewState.compareHeld = false;
      return 0;
    case WM_MOUSEWHEEL:
      Wheel(dialog, wParam, lParam);
      return 0;
    case WM_MOUSELEAVE:
      if (gPreviewState.compareHeld) {
        gPreviewState.compareHeld = false;
        RefreshPreview(dialog);
      }
      return 0;
    case WM_KILLFOCUS:
    case WM_NCLBUTTONUP:
    case WM_NCRBUTTONUP:
    case WM_CAPTURECHANGED:
      gPreviewState.compareHeld = false;
      return 0;
    default:
      return 0;
  }
}
