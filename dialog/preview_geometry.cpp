#include "dialog/preview_geometry.h"

#include <algorithm>

#include "plugin/host_rects.h"
#include "plugin/parameters.h"

namespace {

int32 Cut16(int32 v) { return std::max<int32>(-32768, std::min<int32>(32767, v)); }

}  // namespace

PixelRect PreviewImageRectFrom(const PixelRect& frame, int32 originX, int32 originY,
                               int32 proxyWidth, int32 proxyHeight) {
  PixelRect r;
  r.left = (frame.left + frame.right - proxyWidth) / 2 - originX;
  r.top = (frame.top + frame.bottom - proxyHeight) / 2 - originY;
  r.right = r.left + proxyWidth;
  r.bottom = r.top + proxyHeight;
  return r;
}

void SetSamplingRate(FilterRecord& record, const ProxyViewState& view) {
  record.inputRate = view.zoomLevel >= 1 && view.zoomLevel <= 0x7fff ? Fixed(view.zoomLevel << 16)
                                                                     : kFixedOne;
}

VRect ScaledFilterRect(const FilterRecord& record, int32 n) {
  const VRect f = FilterRect(record);
  if (n < 1) n = 1;
  return VRect{Cut16(f.top / n), Cut16(f.left / n), Cut16(f.bottom / n), Cut16(f.right / n)};
}

void LayoutFitView(FilterRecord& record, PreviewState& p) {
  record.inputRate = kFixedOne;
  const VRect filter = FilterRect(record);
  SetInRect(record, filter);
  const int32 w = Width(filter), h = Height(filter);
  if (w <= 0 || h <= 0 || p.frameWidth <= 0 || p.frameHeight <= 0) {
    p.proxyWidth = p.proxyHeight = 0;
  } else if (h < p.frameHeight && w < p.frameWidth) {
    // Smaller than the frame: shown at 100 %.
    p.proxyWidth = w;
    p.proxyHeight = h;
  } else if (double(h) / w > double(p.frameHeight) / p.frameWidth) {
    p.proxyHeight = p.frameHeight;
    p.proxyWidth = int32(double(p.frameHeight) / h * w);
  } else {
    p.proxyWidth = p.frameWidth;
    p.proxyHeight = int32(double(p.frameWidth) / w * h);
  }
  p.proxyPlaneSize = p.proxyWidth * p.proxyHeight;
}

void LayoutZoomedView(FilterRecord& record, PreviewState& p, ProxyViewState& view) {
  SetSamplingRate(record, view);
  const VRect s = ScaledFilterRect(record, view.zoomLevel);
  p.proxyWidth = std::max<int32>(0, std::min(p.frameWidth, s.right - s.left));
  p.proxyHeight = std::max<int32>(0, std::min(p.frameHeight, s.bottom - s.top));
  p.proxyPlaneSize = p.proxyWidth * p.proxyHeight;
  ClampZoomedView(record, p, view);
}

void ClampZoomedView(FilterRecord& record, const PreviewState& p, ProxyViewState& view) {
  SetSamplingRate(record, view);
  const VRect s = ScaledFilterRect(record, view.zoomLevel);
  const int32 sw = s.right - s.left, sh = s.bottom - s.top;
  const int32 marginH = (sw - p.proxyWidth) / 2;
  const int32 marginV = (sh - p.proxyHeight) / 2;
  auto clamp = [](int32 margin, int32& offset, int32 size, int32 extent) {
    const int64 original = offset;
    if (margin + int64(offset) < 0) offset = -margin;
    const int64 excess = margin + original + size - extent;
    if (excess > 0) offset = int32(offset - excess);
  };
  clamp(marginV, view.offsetV, p.proxyHeight, sh);
  clamp(marginH, view.offsetH, p.proxyWidth, sw);
  VRect in;
  in.top = s.top + marginV + view.offsetV;
  in.left = s.left + marginH + view.offsetH;
  in.bottom = in.top + p.proxyHeight;
  in.right = in.left + p.proxyWidth;
  SetInRect(record, in);
}

int32 FitZoomFactor(const FilterRecord& record, const PreviewState& p) {
  const VRect f = FilterRect(record);
  const int32 w = Width(f), h = Height(f);
  if (p.frameWidth <= 0 || p.frameHeight <= 0) return 1;
  return std::max(w / p.frameWidth + 1, h / p.frameHeight + 1);
}

void FocalPointToOffsets(const FilterRecord& record, ProxyViewState& view) {
  const int32 n = view.zoomLevel < 1 ? 1 : view.zoomLevel;
  const VRect f = FilterRect(record);
  const int32 w = Width(f), h = Height(f);
  view.offsetH = int32((int64(view.focalPointH) + w / 2) / n - (w / n) / 2);
  view.offsetV = int32((int64(view.focalPointV) + h / 2) / n - (h / n) / 2);
}

void OffsetsToFocalPoint(const FilterRecord& record, ProxyViewState& view) {
  const int32 n = view.zoomLevel < 1 ? 1 : view.zoomLevel;
  const VRect f = FilterRect(record);
  const int32 w = Width(f), h = Height(f);
  view.focalPointH = int32(int64(n) * (view.offsetH + (w / n) / 2) - w / 2);
  view.focalPointV = int32(int64(n) * (view.offsetV + (h / n) / 2) - h / 2);
}
