// The host's side of displayPixels, and the owner window of the plug-in's
// dialog.
#include "host/display.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/display_draw.h"
#include "host/host.h"

namespace host {
namespace {

// The part of the map that is drawn: `source` within the bounds. False for a
// map that cannot be read.
bool DrawnArea(const PSPixelMap* map, const VRect& source, VRect& area) {
  if (map == nullptr || map->baseAddr == nullptr || map->version < 1) return false;
  // Version 3 maps say their depth; only 8-bit samples are displayable here.
  if (map->version >= 3 && map->depth != 0 && map->depth != 8) return false;
  area.top = std::max(source.top, map->bounds.top);
  area.left = std::max(source.left, map->bounds.left);
  area.bottom = std::min(source.bottom, map->bounds.bottom);
  area.right = std::min(source.right, map->bounds.right);
  return true;
}

OSErr DisplayPixelsThunk(const PSPixelMap* map, const VRect* source, int32 row, int32 col,
                         void* target) {
  return Host::Active() ? Host::Active()->DisplayPixels(map, source, row, col, target) : paramErr;
}

// Proxy column of a sampled column, the inverse of the plug-in's nearest
// neighbour scaling (which aligns the first and the last pixels).
int64 ToProxy(int64 sampled, int64 fetched, int64 shown) {
  if (fetched == shown) return sampled;
  if (fetched <= 1 || shown <= 1) return sampled * shown / std::max<int64>(1, fetched);
  return std::llround(double(sampled) * double(shown - 1) / double(fetched - 1));
}

int64 FloorDivide(int64 a, int64 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

DisplayPixelsProc DisplayPixelsEntry() { return DisplayPixelsThunk; }

OSErr DrawPixelMap(const PSPixelMap* map, const VRect* source, int32 row, int32 col, void* target) {
  if (map == nullptr || target == nullptr) return paramErr;
  const VRect requested = source ? *source : map->bounds;
  VRect area{};
  if (!DrawnArea(map, requested, area)) return paramErr;
  return DrawOnTarget(*map, requested, area, row, col, target);
}

bool ImageToClient(const DisplayedPreview& view, int64 x, int64 y, int64& clientX, int64& clientY) {
  if (view.paints == 0 || !view.fetchKnown || view.rate < 1) return false;
  const int64 sx = FloorDivide(x, view.rate) - view.fetched.left;
  const int64 sy = FloorDivide(y, view.rate) - view.fetched.top;
  clientX = view.painted.left + ToProxy(sx, Width(view.fetched), Width(view.painted));
  clientY = view.painted.top + ToProxy(sy, Height(view.fetched), Height(view.painted));
  return true;
}

bool ShowsActualPixels(const DisplayedPreview& view) {
  return view.paints > 0 && view.fetchKnown && view.rate == 1 &&
         Width(view.fetched) == Width(view.painted) && Height(view.fetched) == Height(view.painted);
}

bool PaintedContains(const DisplayedPreview& view, int64 clientX, int64 clientY) {
  return view.paints > 0 && clientX >= view.painted.left && clientX < view.painted.right &&
         clientY >= view.painted.top && clientY < view.painted.bottom;
}

OSErr Host::DisplayPixels(const PSPixelMap* map, const VRect* source, int32 row, int32 col,
                          void* target) {
  if (!ledger_.Enter("displayPixels")) return memFullErr;
  if (options_.displayPixelsStrict &&
      (target == nullptr || map == nullptr || map->baseAddr == nullptr || map->rowBytes == 0 ||
       (map->version >= 3 && map->depth != 8)))
    return filterBadParameters;
  PSPixelMap asRead{};
  if (options_.displayPixelsFromBaseAddr && map != nullptr) {
    if (map->imageMode != plugInModeRGBColor && map->imageMode != plugInModeGrayScale) {
      RecordMisuse("displayPixels: image mode " + std::to_string(map->imageMode) +
                   " (not 8-bit RGB or grey) ends this host's process");
      return filterBadParameters;
    }
    // The map as this host reads it: its first row is the source's first
    // row, and the colour samples of a pixel lie side by side. It draws no
    // more rows than the map holds (the real host reads on past them).
    const VRect requested = source ? *source : map->bounds;
    asRead = *map;
    asRead.bounds.top = requested.top;
    asRead.bounds.bottom = int32(int64(requested.top) + Height(map->bounds));
    asRead.planeBytes = 1;
    if (Height(requested) > Height(map->bounds))
      RecordMisuse("displayPixels: " + std::to_string(Height(requested)) + " source rows of a map of " +
                   std::to_string(Height(map->bounds)) + ": this host reads them from baseAddr down, past the map");
    map = &asRead;
  }
  const OSErr drawn = DrawPixelMap(map, source, row, col, target);
  if (drawn != noErr) return drawn;

  // Where the whole map stands: the source's top-left corner went to (row, col).
  const VRect requested = source ? *source : map->bounds;
  DisplayedPreview view;
  view.painted.top = row - (requested.top - map->bounds.top);
  view.painted.left = col - (requested.left - map->bounds.left);
  view.painted.bottom = view.painted.top + int32(Height(map->bounds));
  view.painted.right = view.painted.left + int32(Width(map->bounds));
  // The request behind the shown pixels: at the rate the record now asks
  // for, and either as large as the map or (fit to the frame) the whole
  // filter rectangle. The eyedropper's analysis asks for the same rectangle
  // in and out; a preview fetch leaves the output rectangle alone.
  view.rate = std::max<int32>(1, record_.inputRate >> 16);
  const int64 mapW = Width(map->bounds), mapH = Height(map->bounds);
  for (auto q = requests_.rbegin(); q != requests_.rend(); ++q) {
    if (SameRect(q->inRect, q->outRect)) continue;
    if (q->rate == view.rate) {
      const bool sameSize = Width(q->inRect) == mapW && Height(q->inRect) == mapH;
      if (sameSize || (view.rate == 1 && SameRect(q->inRect, filterRect_))) {
        view.fetchKnown = true;
        view.fetched = q->inRect;
        break;
      }
    } else if (q->rate == 1 && view.rate > 1 && Width(q->inRect) == (mapW - 1) * view.rate + 1) {
      // A host that does not sample: the filter took every rate-th pixel of
      // full-resolution rows, in bands, the last of which ends at the
      // window's last row.
      view.fetchKnown = true;
      view.fetched.left = q->inRect.left / view.rate;
      view.fetched.right = int32(view.fetched.left + mapW);
      view.fetched.bottom = (q->inRect.bottom - 1) / view.rate + 1;
      view.fetched.top = int32(view.fetched.bottom - mapH);
      break;
    }
  }
  // What the user sees, kept so hosts can be compared pixel for pixel.
  std::vector<uint8> shown;
  if (Width(map->bounds) * Height(map->bounds) <= (int64(1) << 24)) {
    const size_t w = size_t(Width(map->bounds));
    shown.resize(w * size_t(Height(map->bounds)) * 3);
    const MapReader reader(*map);
    uint8* out = shown.data();
    // The interleaved RGB rows plug-ins hand over are copied as they are.
    const bool rows = IsRgb(map->imageMode) && map->colBytes == 3 && map->planeBytes == 1;
    for (int32 y = map->bounds.top; y < map->bounds.bottom; ++y) {
      if (rows) {
        std::memcpy(out, static_cast<const uint8*>(map->baseAddr) + int64(y - map->bounds.top) * map->rowBytes, w * 3);
        out += w * 3;
        continue;
      }
      for (int32 x = map->bounds.left; x < map->bounds.right; ++x, out += 3) reader.Pixel(y, x, out);
    }
  }
  std::lock_guard<std::mutex> lock(displayMutex_);
  view.paints = displayed_.paints + 1;
  displayed_ = view;
  shownPixels_ = std::move(shown);
  return noErr;
}

std::vector<uint8> Host::ShownPreview() const {
  std::lock_guard<std::mutex> lock(displayMutex_);
  return shownPixels_;
}

DisplayedPreview Host::Displayed() const {
  std::lock_guard<std::mutex> lock(displayMutex_);
  return displayed_;
}

}  // namespace host
