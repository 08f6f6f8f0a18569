#include "bench/io_files.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

std::string Folder() {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/";
}

std::string Make(const char* name, host::ImageFormat format) {
  const std::string path = Folder() + name;
  host::Image image = IoPicture();
  image.format = format;
  image.tiff.compression = 1;  // COMPRESSION_NONE
  std::string error;
  if (!host::WriteImage(path, image, &error)) {
    std::fprintf(stderr, "cannot make %s: %s\n", path.c_str(), error.c_str());
    std::exit(1);
  }
  return path;
}

}  // namespace

const host::Image& IoPicture() {
  static const host::Image picture = [] {
    host::Image image;
    image.document = host::MakeDocument(kIoWidth, kIoHeight, 3, 8);
    uint32_t noise = 12345;
    for (int y = 0; y < kIoHeight; ++y)
      for (int x = 0; x < kIoWidth; ++x)
        for (int p = 0; p < 3; ++p) {
          noise = noise * 1664525u + 1013904223u;
          const double v = 128 + 90 * std::sin(0.003 * x + p) * std::cos(0.002 * y - p) + double(noise >> 29) - 4;
          image.document.Set<uint8>(x, y, p, uint8(v < 0 ? 0 : v > 255 ? 255 : v));
        }
    return image;
  }();
  return picture;
}

const std::string& IoTiffPath() {
  static const std::string path = Make("kestrelle-bench-io.tif", host::ImageFormat::Tiff);
  return path;
}

const std::string& IoJpegPath() {
  static const std::string path = Make("kestrelle-bench-io.jpg", host::ImageFormat::Png);
  return path;
}

std::string IoScratchPath(const char* extension) { return Folder() + "kestrelle-bench-out." + extension; }
