// displayPixels on Windows draws with GDI into the plug-in's window, and the
// host has a real top-level window to own the plug-in's dialog.
#include <vector>
#include <windows.h>

#include "host/display.h"
#include "host/display_draw.h"

namespace host {

OSErr DrawOnTarget(const PSPixelMap& map, const VRect& source, const VRect& area, int32 row, int32 col,
                   void* target) {
  HDC dc = static_cast<HDC>(target);
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
}  // namespace host
