#include "imageio/document.h"

namespace host {

int16 ModeFor(int16 planes, int32 depth) {
  if (planes == 1) {
    return depth == 16 ? plugInModeGray16 : depth == 32 ? plugInModeGray32 : plugInModeGrayScale;
  }
  if (planes == 4) return depth == 16 ? plugInModeCMYK64 : plugInModeCMYKColor;
  return depth == 16 ? plugInModeRGB48 : depth == 32 ? plugInModeRGB96 : plugInModeRGBColor;
}

int16 ColourPlanes(int16 mode) {
  switch (mode) {
    case plugInModeGrayScale:
    case plugInModeGray16:
    case plugInModeGray32:
      return 1;
    case plugInModeCMYKColor:
    case plugInModeCMYK64:
      return 4;
    default:
      return 3;
  }
}

Document MakeDocument(int32 width, int32 height, int16 planes, int32 depth) {
  Document d;
  d.width = width;
  d.height = height;
  d.planes = planes;
  d.depth = depth;
  d.imageMode = ModeFor(planes, depth);
  d.pixels.assign(d.RowBytes() * size_t(height), 0);
  return d;
}

}  // namespace host
