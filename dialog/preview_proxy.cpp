#include <algorithm>
#include <cstring>
#include <vector>

#include "plugin/call_state.h"
#include "plugin/host_rects.h"
#include "plugin/host_services.h"
#include "plugin/pixel_request.h"
#include "plugin/parameters.h"
#include "render/planes.h"
#include "render/render_preview.h"
#include "render/transfer_tables.h"
#include "dialog/preview_proxy.h"
#include "dialog/preview_geometry.h"

PreviewState gPreviewState;

namespace {

FilterRecord& Record() { return *gCallState.filterRecord; }

void Release(ProxyBuffer& b) {
  const BufferProcs* procs = UsableBufferProcs(gCallState.filterRecord);
  if (b.id != nullptr && b.pixels != nullptr && procs != nullptr) {
    procs->unlockProc(b.id);
    procs->freeProc(b.id);
    b = ProxyBuffer{};
  }
}

// A host buffer of `bytes`, locked; empty when the host cannot give one.
ProxyBuffer Allocate(int64 bytes, bool moveHigh) {
  ProxyBuffer b;
  const BufferProcs* procs = UsableBufferProcs(gCallState.filterRecord);
  if (procs == nullptr || bytes <= 0 || bytes > 0x7fffffff) return b;
  if (procs->allocateProc(int32(bytes), &b.id) != noErr) b.id = nullptr;
  if (b.id == nullptr) return b;
  b.pixels = reinterpret_cast<uint8*>(procs->lockProc(b.id, moveHigh));
  if (b.pixels == nullptr) {
    procs->freeProc(b.id);
    b.id = nullptr;
  }
  return b;
}

// Every proxy buffer holds at least the colour planes the fetch writes, even
// when the host reports fewer planes than its mode has.
int64 ProxyBufferBytes() {
  const int16 planes = std::max<int16>(Record().planes, PlanesForMode(Record().imageMode));
  return int64(planes) * gPreviewState.proxyPlaneSize;
}

// One sample as a proxy byte.
uint8 ToByte(int32 depth, const uint8* sample) {
  switch (depth) {
    case 16: {
      uint16 v;
      std::memcpy(&v, sample, 2);
      // 0..32768 onto 0..255; a sample above the host's range stops at 255.
      const uint32 byte = (10u * v) / 1285u;
      return uint8(byte > 255 ? 255 : byte);
    }
    case 32: {
      float v;
      std::memcpy(&v, sample, 4);
      if (!(v >= 0.0f)) {
        v = 0.0f;
      } else if (v > 1.0f) {
        v = 1.0f;
      }
      const float* table = gTransferTables.linearToSrgb;
      const float x = v * 4096.0f;
      const uint32 k = uint32(x);
      const float t = x - float(k);
      const float y = ((1.0f - t) * table[k] + t * table[k + 1]) * 0.003921569f;
      return uint8(int32(255.0f * y));
    }
    default:
      return *sample;
  }
}

// Asks the host for all colour planes of the input rectangle the layout set,
// at the view's sampling rate.
OSErr RequestProxyPixels(FilterRecord& r, DeliveredPixels& pixels) {
  SetSamplingRate(r, gProxyViewState);
  PixelRequest request;
  request.in = InRect(r);
  request.rate = r.inputRate;
  request.planes = PlanesForMode(r.imageMode);
  return RequestPixels(r, request, pixels);
}

}  // namespace

// The working buffer was allocated last: it goes first, so host buffers are
// freed in the reverse order of their allocation, as some hosts need.
void ReleaseProxyBuffers() {
  Release(gPreviewState.proxyWork);
  Release(gPreviewState.proxySource);
}

void AllocateProxyBuffers() {
  ReleaseProxyBuffers();
  const int64 bytes = ProxyBufferBytes();
  if (gPreviewState.proxySource.id == nullptr && gPreviewState.proxySource.pixels == nullptr)
    gPreviewState.proxySource = Allocate(bytes, true);
  if (gPreviewState.proxyWork.id == nullptr && gPreviewState.proxyWork.pixels == nullptr)
    gPreviewState.proxyWork = Allocate(bytes, true);
}

void FetchProxyPixels(uint8* destination, int32 width, int32 height) {
  FilterRecord& r = Record();
  if (gPreviewState.proxySource.pixels == nullptr || destination == nullptr) return;
  if (width <= 0 || height <= 0) return;
  const int16 planes = PlanesForMode(r.imageMode);
  if (planes <= 0) return;
  const VRect in = InRect(r);
  const int32 srcW = Width(in), srcH = Height(in);
  DeliveredPixels pixels;
  *gCallState.result = RequestProxyPixels(r, pixels);
  if (*gCallState.result != noErr) return;
  if (srcW <= 0 || srcH <= 0) return;
  const int32 depth = SampleDepth(r);
  const int64 pixelBytes = int64(planes) * pixels.sampleBytes;
  const size_t planeSize = size_t(width) * size_t(height);
  // Nearest neighbour with the end points aligned; the same size is a copy.
  const bool sameSize = srcH == height && srcW == width;
  const int o = (srcH > 1 && srcW > 1 && height > 1 && width > 1) ? -1 : 0;
  std::vector<int64> columns(size_t(width), 0);
  for (int32 j = 0; j < width; ++j) {
    int64 sx = sameSize ? j : int64(double(j) * (srcW + o) / (width + o) + 0.5);
    columns[size_t(j)] = std::min<int64>(std::max<int64>(sx, 0), srcW - 1) * pixelBytes;
  }
  for (int32 i = 0; i < height; ++i) {
    int64 sy = sameSize ? i : int64(double(i) * (srcH + o) / (height + o) + 0.5);
    sy = std::min<int64>(std::max<int64>(sy, 0), srcH - 1);
    const uint8* row = pixels.in + int64(pixels.inRowBytes) * sy;
    for (int16 k = 0; k < planes; ++k) {
      uint8* out = destination + size_t(k) * planeSize + size_t(i) * width;
      const uint8* first = row + int64(k) * pixels.sampleBytes;
      for (int32 j = 0; j < width; ++j) out[j] = ToByte(depth, first + columns[size_t(j)]);
    }
  }
  gPreviewState.proxyPlaneSize = gPreviewState.proxyWidth * gPreviewState.proxyHeight;
}

void RebuildProxy() {
  FilterRecord& r = Record();
  SetSamplingRate(r, gProxyViewState);
  SetInRect(r, FilterRect(r));
  if (gProxyViewState.zoomLevel < 0) return;  // no proxy at all
  if (gProxyViewState.zoomLevel >= 1) {
    LayoutZoomedView(r, gPreviewState, gProxyViewState);
  } else {
    LayoutFitView(r, gPreviewState);
  }
  AllocateProxyBuffers();
  FetchProxyPixels(gPreviewState.proxySource.pixels, gPreviewState.proxyWidth,
                   gPreviewState.proxyHeight);
}

void PanPreview(int32 dx, int32 dy) {
  PreviewState& p = gPreviewState;
  ProxyViewState& view = gProxyViewState;
  FilterRecord& r = Record();
  if (view.zoomLevel < 1 || p.proxyWork.pixels == nullptr) return;

  const int32 oldH = view.offsetH, oldV = view.offsetV;
  view.offsetH += dx;
  view.offsetV += dy;
  ClampZoomedView(r, p, view);
  const int32 sx = std::max(-p.proxyWidth, std::min(p.proxyWidth, view.offsetH - oldH));
  const int32 sy = std::max(-p.proxyHeight, std::min(p.proxyHeight, view.offsetV - oldV));
  if (sx == 0 && sy == 0) return;

  ProxyBuffer fresh = Allocate(ProxyBufferBytes(), true);
  if (fresh.pixels == nullptr) {
    view.offsetH = oldH;
    view.offsetV = oldV;
    return;
  }
  // What stays visible moves by the shift.
  const int16 planes = PlanesForMode(r.imageMode);
  const int32 w = p.proxyWidth, h = p.proxyHeight;
  for (int16 k = 0; k < planes; ++k) {
    const uint8* from = p.proxyWork.pixels + size_t(k) * p.proxyPlaneSize;
    uint8* to = fresh.pixels + size_t(k) * p.proxyPlaneSize;
    for (int32 y = 0; y < h; ++y) {
      const int32 oy = y + sy;
      if (oy < 0 || oy >= h) continue;
      const int32 x0 = std::max(0, -sx), x1 = std::min(w, w - sx);
      if (x1 > x0) std::memcpy(to + size_t(y) * w + x0, from + size_t(oy) * w + x0 + sx, size_t(x1 - x0));
    }
  }

  DeliveredPixels ignored;
  *gCallState.result = RequestProxyPixels(r, ignored);
  if (*gCallState.result != noErr) {
    Release(fresh);
    return;
  }
  FetchProxyPixels(p.proxySource.pixels, w, h);
  RenderExposedPreview(r.imageMode, p.proxySource.pixels, fresh.pixels, sx, sy, w, h);
  // The new pixels take the working buffer's place. Copied rather than
  // swapped, so host buffers are freed in the reverse order of their
  // allocation, as some hosts need.
  std::memcpy(p.proxyWork.pixels, fresh.pixels, size_t(ProxyBufferBytes()));
  Release(fresh);
  OffsetsToFocalPoint(r, view);
}

bool StepZoom(const RECT& frame, int32 steps) {
  ProxyViewState& view = gProxyViewState;
  FilterRecord& r = Record();
  if (steps == 0) return false;
  int32 level = view.zoomLevel;
  if (steps < 0) {
    const int32 base = view.zoomLevel == 0 ? FitZoomFactor(r, gPreviewState) : view.zoomLevel;
    level = std::max<int32>(1, base + steps);
  } else {
    if (view.zoomLevel == 0) return false;
    level = view.zoomLevel + steps;
    const VRect s = ScaledFilterRect(r, level);
    // Small enough to fit whole: back to fit mode.
    if (s.right - s.left < frame.right - frame.left && s.bottom - s.top < frame.bottom - frame.top)
      level = 0;
  }
  if (level == view.zoomLevel) return false;
  const int32 old = view.zoomLevel;
  view.zoomLevel = level;
  if (old != 0 && level != 0) FocalPointToOffsets(r, view);
  RebuildProxy();
  return true;
}
