// displayPixels with the headless window system draws into the canvas of
// the device context it hands the plug-in; there is no window to own the
// dialog.
#include <algorithm>

#include "host/display.h"
#include "host/display_draw.h"
#include "platform/headless/headless_driver.h"

namespace host {

OSErr DrawOnTarget(const PSPixelMap& map, const VRect& source, const VRect& area, int32 row, int32 col,
                   void* target) {
  const HeadlessCanvas& canvas = *static_cast<const HeadlessCanvas*>(target);
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
HostWindow::HostWindow() = default;
HostWindow::~HostWindow() = default;

}  // namespace host
