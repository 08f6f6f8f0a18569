#include <algorithm>

#include "plugin/call_state.h"
#include "plugin/host_services.h"
#include "plugin/parameters.h"
#include "render/interleaved_buffer.h"
#include "render/planes.h"
#include "render/render_preview.h"
#include "render/transfer_tables.h"
#include "dialog/dialog_template.h"
#include "dialog/preview_paint.h"
#include "dialog/preview_geometry.h"

namespace {

PixelRect ToPixelRect(const RECT& r) { return PixelRect{r.left, r.top, r.right, r.bottom}; }
RECT ToRect(const PixelRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

// The document's mode as the 8-bit pixel map shows it.
int32 DisplayMode(int16 mode) {
  switch (mode) {
    case plugInModeGray16:
    case plugInModeGray32: return plugInModeGrayScale;
    case plugInModeRGB48:
    case plugInModeRGB96: return plugInModeRGBColor;
    case plugInModeLab48: return plugInModeLabColor;
    case plugInModeCMYK64: return plugInModeCMYKColor;
    case plugInModeDeepMultichannel: return plugInModeMultichannel;
    case plugInModeDuotone16: return plugInModeDuotone;
    default: return mode;
  }
}

// A locked host buffer for one paint, given back when the paint ends.
class PaintBuffer {
 public:
  explicit PaintBuffer(int64 bytes) {
    procs_ = UsableBufferProcs(gCallState.filterRecord);
    if (procs_ == nullptr || bytes <= 0 || bytes > 0x7fffffff) return;
    if (procs_->allocateProc(int32(bytes), &id_) != noErr) id_ = nullptr;
    if (id_ != nullptr) pixels_ = reinterpret_cast<uint8*>(procs_->lockProc(id_, false));
  }
  ~PaintBuffer() {
    if (id_ != nullptr) {
      if (pixels_ != nullptr) procs_->unlockProc(id_);
      procs_->freeProc(id_);
    }
  }
  PaintBuffer(const PaintBuffer&) = delete;
  PaintBuffer& operator=(const PaintBuffer&) = delete;
  uint8* pixels() const { return pixels_; }

 private:
  const BufferProcs* procs_ = nullptr;
  BufferID id_ = nullptr;
  uint8* pixels_ = nullptr;
};

void Fill(HDC dc, LONG left, LONG top, LONG right, LONG bottom) {
  if (right <= left || bottom <= top) return;
  const RECT r{left, top, right, bottom};
  FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
}

}  // namespace

RECT PreviewFrameRect(HWND dialog) {
  RECT frame{};
  GetWindowRect(GetDlgItem(dialog, kIdPreviewFrame), &frame);
  POINT topLeft{frame.left, frame.top}, bottomRight{frame.right, frame.bottom};
  ScreenToClient(dialog, &topLeft);
  ScreenToClient(dialog, &bottomRight);
  return RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}

RECT PreviewImageRect(HWND dialog) {
  RECT frame{};
  GetWindowRect(GetDlgItem(dialog, kIdPreviewFrame), &frame);
  POINT origin{0, 0};
  ClientToScreen(dialog, &origin);
  return ToRect(PreviewImageRectFrom(ToPixelRect(frame), origin.x, origin.y,
                                     gPreviewState.proxyWidth, gPreviewState.proxyHeight));
}

void MeasurePreviewFrame(HWND dialog) {
  RECT frame{};
  GetWindowRect(GetDlgItem(dialog, kIdPreviewFrame), &frame);
  gPreviewState.frameWidth = frame.right - frame.left;
  gPreviewState.frameHeight = frame.bottom - frame.top;
  gPreviewState.lastImageRect = ToPixelRect(PreviewImageRect(dialog));
}

void RefreshPreview(HWND dialog) {
  FilterRecord& record = *gCallState.filterRecord;
  SetSamplingRate(record, gProxyViewState);
  if (*gCallState.result != noErr) return;
  PreviewState& p = gPreviewState;
  if (!p.showOriginal && p.proxySource.pixels != nullptr) {
    ++p.renders;
    if (RenderPreview(*gCallState.parameters, record.imageMode, p.proxySource.pixels,
                      p.proxyWork.pixels, p.proxyWidth, p.proxyHeight) != 0)
      return;
  }
  const RECT frame = PreviewFrameRect(dialog);
  InvalidateRect(dialog, &frame, FALSE);
}

void PaintPreview(HWND dialog) {
  FilterRecord& record = *gCallState.filterRecord;
  PreviewState& p = gPreviewState;
  const RECT image = PreviewImageRect(dialog);
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(dialog, &paint);

  PSPixelMap map{};
  map.version = 1;
  map.bounds = VRect{0, 0, p.proxyHeight, p.proxyWidth};
  map.imageMode = DisplayMode(record.imageMode);
  map.rowBytes = p.proxyWidth;
  map.colBytes = 1;
  map.planeBytes = p.proxyPlaneSize;
  map.baseAddr = (p.showOriginal || p.compareHeld) ? p.proxySource.pixels : p.proxyWork.pixels;

  const int16 planes = PlanesForMode(int16(map.imageMode));
  PaintBuffer converted(int64(planes) * p.proxyPlaneSize);
  InterleavedBuffer interleaved;
  if (p.proxyWork.pixels != nullptr && converted.pixels() != nullptr && map.baseAddr != nullptr) {
    if (SampleDepth(record) == 32) {
      // A 32-bit document's proxy holds sRGB-encoded bytes: shown as linear.
      const uint8* from = static_cast<const uint8*>(map.baseAddr);
      const float* table = gTransferTables.srgbToLinear;
      for (int64 i = 0; i < int64(planes) * p.proxyPlaneSize; ++i) {
        const float x = 16.0f * from[i];
        const uint32 k = uint32(x);
        const float t = x - float(k);
        converted.pixels()[i] = uint8(int32(255.0f * ((1.0f - t) * table[k] + t * table[k + 1])));
      }
      map.baseAddr = converted.pixels();
    }

    // The strips the previous, larger image leaves behind.
    const PixelRect& last = p.lastImageRect;
    if (p.proxyWidth < last.Width()) {
      Fill(dc, last.left, last.top, image.left, last.bottom);
      Fill(dc, image.right, last.top, last.right, last.bottom);
    }
    if (p.proxyHeight < last.Height()) {
      Fill(dc, last.left, last.top, last.right, image.top);
      Fill(dc, last.left, image.bottom, last.right, last.bottom);
    }
    p.lastImageRect = ToPixelRect(image);

    if (planes >= 3) {
      interleaved = MakeInterleavedBuffer(&record, p.proxyWidth, p.proxyWidth, 3 * p.proxyPlaneSize,
                                          static_cast<const uint8*>(map.baseAddr));
      if (interleaved.error == noErr && interleaved.pixels != nullptr) {
        map.baseAddr = interleaved.pixels;
        map.colBytes = 3;
        map.planeBytes = 1;
        map.rowBytes = 3 * p.proxyWidth;
      }
    }
    if (record.displayPixels != nullptr) {
      record.displayPixels(&map, &map.bounds, image.top, image.left, dc);
    }
  }
  EndPaint(dialog, &paint);

  // The size grip in the corner.
  RECT grip{};
  GetClientRect(dialog, &grip);
  grip.left = grip.right - GetSystemMetrics(SM_CXVSCROLL);
  grip.top = grip.bottom - GetSystemMetrics(SM_CYHSCROLL);
  HDC windowDc = GetDC(dialog);
  DrawFrameControl(windowDc, &grip, DFC_SCROLL, DFCS_SCROLLSIZEGRIP);
  ReleaseDC(dialog, windowDc);

  FreeInterleavedBuffer(&record, interleaved);
}
