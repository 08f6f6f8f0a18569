// An image as the host holds it: colour planes interleaved per pixel, rows top
// to bottom, 8-bit, 16-bit (host range 0..32768) or 32-bit float samples.
#pragma once

#include <cstddef>
#include <cstring>
#include <vector>

#include "hostapi/host_interface.h"

namespace host {

struct Document {
  int32 width = 0;
  int32 height = 0;
  int16 planes = 3;  // colour planes handed to the filter (alpha stays with the file)
  int32 depth = 8;   // bits per sample: 8, 16 or 32
  int16 imageMode = plugInModeRGBColor;
  std::vector<uint8> pixels;

  int32 SampleBytes() const { return depth == 16 ? 2 : depth == 32 ? 4 : 1; }
  size_t PixelBytes() const { return size_t(planes) * SampleBytes(); }
  size_t RowBytes() const { return size_t(width) * PixelBytes(); }
  uint8* Sample(int32 x, int32 y, int plane) {
    return pixels.data() + size_t(y) * RowBytes() + size_t(x) * PixelBytes() +
           size_t(plane) * SampleBytes();
  }
  const uint8* Sample(int32 x, int32 y, int plane) const {
    return const_cast<Document*>(this)->Sample(x, y, plane);
  }

  template <typename T>
  T Get(int32 x, int32 y, int plane) const {
    T v;
    std::memcpy(&v, Sample(x, y, plane), sizeof v);
    return v;
  }
  template <typename T>
  void Set(int32 x, int32 y, int plane, T v) {
    std::memcpy(Sample(x, y, plane), &v, sizeof v);
  }
};

// The image mode a host gives a document of this many planes and depth.
int16 ModeFor(int16 planes, int32 depth);

// The planes of a mode that hold colour; any further plane of a document
// is transparency.
int16 ColourPlanes(int16 mode);

// A zero-filled document of the given shape; the mode follows planes and depth.
Document MakeDocument(int32 width, int32 height, int16 planes, int32 depth);

}  // namespace host
