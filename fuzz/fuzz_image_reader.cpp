// Image files from anywhere: the bytes are a PNG, TIFF or JPEG file (or
// not). Reading must refuse or deliver, never overrun; what was read,
// metadata included, is written back in every format that can hold it, and
// what cannot be kept is named on the way.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "imageio/image_io.h"

namespace {

std::string InputPath() {
  static const std::string path = "/tmp/kestrelle-fuzz-image-" + std::to_string(long(getpid()));
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = InputPath();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  host::ImageReader reader;
  std::string error;
  std::vector<std::string> warnings;
  host::ReadOptions reading;
  reading.warnings = &warnings;
  if (!reader.Open(path, &error, reading)) return 0;
  const host::ImageShape& s = reader.shape();
  // Large pictures teach nothing small ones do not, and cost time.
  if (uint64_t(s.width) * uint64_t(s.height) > (uint64_t(1) << 20)) return 0;
  host::Image image;
  static_cast<host::ImageProperties&>(image) = reader.properties();
  image.document = host::MakeDocument(s.width, s.height, s.planes, s.depth);
  image.alpha.resize(s.AlphaRowBytes() * size_t(s.height));
  for (int32 y = 0; y < s.height; y += 16) {
    const int32 rows = s.height - y < 16 ? s.height - y : 16;
    if (!reader.ReadRows(rows, image.document.Sample(0, y, 0), s.RowBytes(),
                         s.alpha ? &image.alpha[size_t(y) * s.AlphaRowBytes()] : nullptr, s.AlphaRowBytes(),
                         &error)) {
      return 0;
    }
  }
  if (!reader.Finish(&error)) return 0;
  for (host::ImageFormat format : {host::ImageFormat::Png, host::ImageFormat::Tiff, host::ImageFormat::Jpeg}) {
    if (!host::CanWrite(format, s, &error)) continue;
    std::FILE* out = std::tmpfile();
    if (!out) continue;
    host::WriteOptions writing;
    writing.warnings = &warnings;
    host::WriteImageToFile(out, format, image, &error, writing);
    std::fclose(out);
  }
  return 0;
}
