#include <algorithm>
#include <cstring>

#include "../plugin/call_state.h"
#include "../plugin/host_rects.h"
#include "../plugin/host_services.h"
#include "../plugin/parameters.h"
#include "../render/planes.h"
#include "../render/render_preview.h"
#include "../render/transfer_tables.h"
#include "preview.h"
#include "preview_geometry.h"

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

uint8 ToByte(const FilterRecord& record, const uint8* row, int32 column) {
  switch (SampleDepth(record)) {
    case 16: {
      uint16 v;
      std::memcpy(&v, row + int64(column) * 2, 2);
      // 0..32768 onto 0..255; a sample above the host's range stops at 255.
      const uint32 byte = (10u * v) / 1285u;
      return uint8(byte > 255 ? 255 : byte);
    }
    case 32: {
      float v;
      std::memcpy(&v, row + int64(column) * 4, 4);
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
      return row[column];
  }
}

}  // namespace

void ReleaseProxyBuffers() {
  Release(gPreviewState.proxySource);
  Release(gPreviewState.proxyWork);
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
  const size_t planeSize = size_t(width) * size_t(height);
  for (int16 k = 0; k < planes; ++k) {
    r.inLoPlane = r.inHiPlane = r.outLoPlane = r.outHiPlane = k;
    const VRect in = InRect(r);
    const int32 srcW = Width(in), srcH = Height(in);
    SetSamplingRate(r, gProxyViewState);
    if (r.advanceState == nullptr) {
      *gCallState.result = errPlugInHostInsufficient;
      return;
    }
    *gCallState.result = r.advanceState();
    if (*gCallState.result != noErr) return;
    const uint8* data = static_cast<const uint8*>(r.inData);
    if (data == nullptr || srcW <= 0 || srcH <= 0) continue;
    // Rows shorter than the samples the record describes mean the host's
    // buffer is not what it says (a wrong depth, say): reading would run
    // past it.
    const int32 depth = SampleDepth(r);
    const int64 sampleBytes = depth == 16 ? 2 : depth == 32 ? 4 : 1;
    if (r.inRowBytes < int64(srcW) * sampleBytes) {
      *gCallState.result = filterBadParameters;
      return;
    }
    uint8* plane = destination + size_t(k) * planeSize;
    if (srcH == height && srcW == width && depth == 8) {
      for (int32 y = 0; y < height; ++y)
        std::memcpy(plane + size_t(y) * width, data + int64(y) * r.inRowBytes, size_t(width));
      continue;
    }
    // Nearest neighbour with the end points aligned.
    const int o = (srcH > 1 && srcW > 1 && height > 1 && width > 1) ? -1 : 0;
    for (int32 i = 0; i < height; ++i) {
      int64 sy = int64(double(i) * (srcH + o) / (height + o) + 0.5);
      sy = std::min<int64>(std::max<int64>(sy, 0), srcH - 1);
      const uint8* row = data + r.inRowBytes * sy;
      uint8* out = plane + size_t(i) * width;
      for (int32 j = 0; j < width; ++j) {
        int64 sx = int64(double(j) * (srcW + o) / (width + o) + 0.5);
        sx = std::min<int64>(std::max<int64>(sx, 0), srcW - 1);
        out[j] = ToByte(r, row, int32(sx));
      }
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

  if (r.advanceState == nullptr) {
    *gCallState.result = errPlugInHostInsufficient;
  } else {
    *gCallState.result = r.advanceState();
  }
  if (*gCallState.result != noErr) {
    Release(fresh);
    return;
  }
  FetchProxyPixels(p.proxySource.pixels, w, h);
  RenderExposedPreview(r.imageMode, p.proxySource.pixels, fresh.pixels, sx, sy, w, h);
  Release(p.proxyWork);
  p.proxyWork = fresh;
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
