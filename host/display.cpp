// The host's side of displayPixels, and the owner window of the plug-in's
// dialog.
#include "host/display.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/headless/headless_driver.h"
#endif

namespace host {
namespace {

bool IsRgb(int32 mode) {
  return mode == plugInModeRGBColor || mode == plugInModeRGB48 || mode == plugInModeRGB96;
}

bool SameRect(const VRect& a, const VRect& b) {
  return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

int64 Width(const VRect& r) { return int64(r.right) - r.left; }
int64 Height(const VRect& r) { return int64(r.bottom) - r.top; }

// The map's pixels as RGB, whatever its layout.
class MapReader {
 public:
  explicit MapReader(const PSPixelMap& map) : map_(map), rgb_(IsRgb(map.imageMode)) {}
  void Pixel(int32 row, int32 col, uint8* rgb) const {
    const uint8* p = static_cast<const uint8*>(map_.baseAddr) +
                     int64(row - map_.bounds.top) * map_.rowBytes +
                     int64(col - map_.bounds.left) * map_.colBytes;
    if (rgb_) {
      rgb[0] = p[0];
      rgb[1] = p[map_.planeBytes];
      rgb[2] = p[2 * int64(map_.planeBytes)];
    } else {
      rgb[0] = rgb[1] = rgb[2] = p[0];
    }
  }

 private:
  const PSPixelMap& map_;
  bool rgb_;
};

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

#ifdef _WIN32
OSErr DrawOnDc(const PSPixelMap& map, const VRect& source, const VRect& area, int32 row, int32 col,
               HDC dc) {
  const DWORD type = GetObjectType(dc);
  if (type != OBJ_DC && type != OBJ_MEMDC) return paramErr;
  const int32 w = int32(Width(area)), h = int32(Height(area));
  if (w <= 0 || h <= 0) return noErr;
  // A 24-bit DIB stores blue, green, red, with rows padded to 4 bytes.
  const size_t stride = (size_t(w) * 3 + 3) & ~size_t(3);
  std::vector<uint8> bits(stride * size_t(h));
  const MapReader reader(map);
  for (int32 y = 0; y < h; ++y) {
    uint8* out = bits.data() + size_t(y) * stride;
    for (int32 x = 0; x < w; ++x, out += 3) {
      uint8 rgb[3];
      reader.Pixel(area.top + y, area.left + x, rgb);
      out[0] = rgb[2];
      out[1] = rgb[1];
      out[2] = rgb[0];
    }
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  const int x = col + (area.left - source.left), y = row + (area.top - source.top);
  if (SetDIBitsToDevice(dc, x, y, DWORD(w), DWORD(h), 0, 0, 0, UINT(h), bits.data(), &info,
                        DIB_RGB_COLORS) == 0)
    return paramErr;
  return noErr;
}
#else
OSErr DrawOnCanvas(const PSPixelMap& map, const VRect& source, const VRect& area, int32 row,
                   int32 col, const HeadlessCanvas& canvas) {
  if (canvas.magic != kHeadlessCanvasMagic || canvas.rgb == nullptr || canvas.width < 0 ||
      canvas.height < 0 || canvas.stride < canvas.width * 3)
    return paramErr;
  // Canvas coordinates: the client point plus the DC's origin, kept within
  // the clip and the canvas.
  const int64 clipLeft = std::max<int64>(0, canvas.clip.left);
  const int64 clipTop = std::max<int64>(0, canvas.clip.top);
  const int64 clipRight = std::min<int64>(canvas.width, canvas.clip.right);
  const int64 clipBottom = std::min<int64>(canvas.height, canvas.clip.bottom);
  const int64 dx = int64(canvas.originX) + col - source.left;
  const int64 dy = int64(canvas.originY) + row - source.top;
  const int64 left = std::max<int64>(area.left, clipLeft - dx);
  const int64 right = std::min<int64>(area.right, clipRight - dx);
  const int64 top = std::max<int64>(area.top, clipTop - dy);
  const int64 bottom = std::min<int64>(area.bottom, clipBottom - dy);
  const MapReader reader(map);
  for (int64 y = top; y < bottom; ++y) {
    uint8* out = canvas.rgb + (y + dy) * canvas.stride + (left + dx) * 3;
    for (int64 x = left; x < right; ++x, out += 3) reader.Pixel(int32(y), int32(x), out);
  }
  return noErr;
}
#endif

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
#ifdef _WIN32
  return DrawOnDc(*map, requested, area, row, col, static_cast<HDC>(target));
#else
  return DrawOnCanvas(*map, requested, area, row, col, *static_cast<const HeadlessCanvas*>(target));
#endif
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

#ifdef _WIN32
namespace {
const char kHostWindowClass[] = "KestrelleHostWindow";
}

HostWindow::HostWindow() {
  static const ATOM registered = [] {
    WNDCLASSA c{};
    c.lpfnWndProc = DefWindowProcA;
    c.hInstance = GetModuleHandleA(nullptr);
    c.lpszClassName = kHostWindowClass;
    return RegisterClassA(&c);
  }();
  if (registered == 0) return;
  HWND window = CreateWindowExA(0, kHostWindowClass, "kestrelle", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 640, 480, nullptr, nullptr, GetModuleHandleA(nullptr),
                                nullptr);
  handle_ = reinterpret_cast<intptr_t>(window);
}

HostWindow::~HostWindow() {
  if (handle_ != 0) DestroyWindow(reinterpret_cast<HWND>(handle_));
}
#else
HostWindow::HostWindow() = default;
HostWindow::~HostWindow() = default;
#endif

}  // namespace host
