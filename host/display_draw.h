// Reading a plug-in's pixel map and drawing it on the system's target: a
// window's device context on Windows, the headless window system's canvas
// elsewhere (display_windows.cpp, display_headless.cpp). Internal to host/.
#pragma once

#include "hostapi/host_interface.h"

namespace host {

inline bool IsRgb(int32 mode) {
  return mode == plugInModeRGBColor || mode == plugInModeRGB48 || mode == plugInModeRGB96;
}

inline bool SameRect(const VRect& a, const VRect& b) {
  return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

inline int64 Width(const VRect& r) { return int64(r.right) - r.left; }
inline int64 Height(const VRect& r) { return int64(r.bottom) - r.top; }

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

// Draws `area` (the part of `source` within the map) with the source's
// top-left corner at (row, col) of `target`; paramErr for a target that is
// not one.
OSErr DrawOnTarget(const PSPixelMap& map, const VRect& source, const VRect& area, int32 row, int32 col,
                   void* target);

}  // namespace host
