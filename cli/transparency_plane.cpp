#include "cli/transparency_plane.h"

#include <cstring>
#include <utility>

namespace cli {
namespace {

// One alpha sample between the file's encoding and the host's range (16-bit
// files hold 0..65535, the host 0..32768; the conversion is exact both ways).
void ToHost(const uint8* file, int32 depth, uint8* host) {
  if (depth == 16) {
    uint16 v;
    std::memcpy(&v, file, 2);
    v = host::HostFromFile16(v);
    std::memcpy(host, &v, 2);
  } else {
    std::memcpy(host, file, size_t(depth / 8));
  }
}

void ToFile(const uint8* host, int32 depth, uint8* file) {
  if (depth == 16) {
    uint16 v;
    std::memcpy(&v, host, 2);
    v = host::FileFromHost16(v);
    std::memcpy(file, &v, 2);
  } else {
    std::memcpy(file, host, size_t(depth / 8));
  }
}

}  // namespace

host::Document WithTransparencyPlane(host::Image& image) {
  if (image.alpha.empty()) return std::move(image.document);
  const host::Document& colour = image.document;
  host::Document d = host::MakeDocument(colour.width, colour.height, int16(colour.planes + 1), colour.depth);
  d.imageMode = colour.imageMode;
  const size_t sample = size_t(colour.SampleBytes());
  const size_t pixels = size_t(colour.width) * size_t(colour.height);
  for (size_t i = 0; i < pixels; ++i) {
    std::memcpy(&d.pixels[i * d.PixelBytes()], &colour.pixels[i * colour.PixelBytes()], colour.PixelBytes());
    ToHost(&image.alpha[i * sample], colour.depth, &d.pixels[i * d.PixelBytes() + colour.PixelBytes()]);
  }
  return d;
}

void TakeTransparencyPlane(host::Document&& document, host::Image& image) {
  host::Document& colour = image.document;
  if (image.alpha.empty() || document.planes != colour.planes + 1) {
    colour = std::move(document);
    return;
  }
  const size_t sample = size_t(colour.SampleBytes());
  const size_t pixels = size_t(colour.width) * size_t(colour.height);
  for (size_t i = 0; i < pixels; ++i) {
    std::memcpy(&colour.pixels[i * colour.PixelBytes()], &document.pixels[i * document.PixelBytes()],
                colour.PixelBytes());
    ToFile(&document.pixels[i * document.PixelBytes() + colour.PixelBytes()], colour.depth, &image.alpha[i * sample]);
  }
}

}  // namespace cli
