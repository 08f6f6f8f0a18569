#include "imageio/image_io.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "files/staged_file.h"
#include "imageio/io_support.h"

namespace host {
namespace {

using io::OneLine;

void Fail(std::string* error, const std::string& path, const std::string& why) {
  if (error) *error = path + ": " + OneLine(why);
}

// What writing needs to trust before touching any file: the buffers match
// the image's size.
bool CheckBuffers(const Image& image, std::string* why) {
  const Document& d = image.document;
  if (d.width <= 0 || d.height <= 0 || (d.planes != 1 && d.planes != 3) ||
      (d.depth != 8 && d.depth != 16 && d.depth != 32)) {
    return CanWrite(ImageFormat::Tiff, ShapeOf(image), why);
  }
  const size_t pixels = size_t(d.width) * size_t(d.height);
  if (d.pixels.size() != pixels * d.PixelBytes() ||
      (!image.alpha.empty() && image.alpha.size() != pixels * size_t(d.SampleBytes()))) {
    *why = "the image's sample buffers do not match its size";
    return false;
  }
  return true;
}

// Rows in bands of about this many bytes: big enough that per-band costs
// vanish, small enough that cancelling is prompt.
constexpr size_t kBandBytes = size_t(4) << 20;

int32 BandRows(const ImageShape& s) {
  const size_t row = std::max<size_t>(1, s.RowBytes());
  return int32(std::max<size_t>(1, std::min<size_t>(size_t(s.height), kBandBytes / row)));
}

}  // namespace

bool FormatFromName(const std::string& path, ImageFormat* format) {
  const size_t slash = path.find_last_of("/\\");
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (ext == "png") {
    *format = ImageFormat::Png;
  } else if (ext == "tif" || ext == "tiff") {
    *format = ImageFormat::Tiff;
  } else if (ext == "jpg" || ext == "jpeg") {
    *format = ImageFormat::Jpeg;
  } else {
    return false;
  }
  return true;
}

bool ReadImage(const std::string& path, Image& out, std::string* error, const ReadOptions& options) {
  ImageReader reader;
  if (!reader.Open(path, error, options)) return false;
  const ImageShape& s = reader.shape();
  Image image;
  static_cast<ImageProperties&>(image) = reader.properties();
  Document& d = image.document;
  d.width = s.width;
  d.height = s.height;
  d.planes = s.planes;
  d.depth = s.depth;
  d.imageMode = ModeFor(s.planes, s.depth);
  const size_t rowBytes = s.RowBytes(), alphaRowBytes = s.AlphaRowBytes();
  // Memory follows the rows that arrive: a damaged file that claims more
  // than it holds fails before we hold what it claims. Up to 64 times the
  // file's size (more than any photograph compresses) is reserved at once,
  // so ordinary files are read without a copy.
  const uint64_t plausible = std::max<uint64_t>(uint64_t(std::max<int64_t>(reader.fileSize(), 0)) * 64,
                                                uint64_t(16) << 20);
  int32 reserved = int32(std::min<uint64_t>(uint64_t(s.height), plausible / (rowBytes + alphaRowBytes) + 1));
  const int32 band = BandRows(s);
  try {
    d.pixels.resize(size_t(reserved) * rowBytes);
    image.alpha.resize(size_t(reserved) * alphaRowBytes);
    for (int32 y = 0; y < s.height; y += band) {
      const int32 rows = std::min(band, s.height - y);
      if (y + rows > reserved) {
        reserved = int32(std::min<int64_t>(s.height, std::max<int64_t>(y + rows, int64_t(reserved) * 2)));
        d.pixels.resize(size_t(reserved) * rowBytes);
        image.alpha.resize(size_t(reserved) * alphaRowBytes);
      }
      if (!reader.ReadRows(rows, d.pixels.data() + size_t(y) * rowBytes, rowBytes,
                           s.alpha ? image.alpha.data() + size_t(y) * alphaRowBytes : nullptr,
                           alphaRowBytes, error)) {
        return false;
      }
    }
  } catch (const std::bad_alloc&) {
    if (error) *error = path + ": not enough memory for the image";
    return false;
  } catch (const std::length_error&) {
    if (error) *error = path + ": not enough memory for the image";
    return false;
  }
  if (!reader.Finish(error)) return false;
  out = std::move(image);
  return true;
}

bool WriteImageToFile(std::FILE* file, ImageFormat format, const Image& image, std::string* error,
                      const WriteOptions& options) {
  std::string why;
  if (!CheckBuffers(image, &why)) {
    if (error) *error = why;
    return false;
  }
  const ImageShape s = ShapeOf(image);
  ImageWriter writer;
  if (!writer.Start(file, format, s, image, error, options)) return false;
  const size_t rowBytes = s.RowBytes(), alphaRowBytes = s.AlphaRowBytes();
  const int32 band = BandRows(s);
  for (int32 y = 0; y < s.height; y += band) {
    const int32 rows = std::min(band, s.height - y);
    if (!writer.WriteRows(rows, image.document.pixels.data() + size_t(y) * rowBytes, rowBytes,
                          s.alpha ? image.alpha.data() + size_t(y) * alphaRowBytes : nullptr,
                          alphaRowBytes, error)) {
      return false;
    }
  }
  return writer.Finish(error);
}

bool WriteImage(const std::string& path, const Image& image, std::string* error,
                const WriteOptions& options) {
  ImageFormat format;
  if (!FormatFromName(path, &format)) {
    Fail(error, path, "unknown output format: the name must end in .png, .tif, .tiff, .jpg or .jpeg");
    return false;
  }
  std::string why;
  if (!CheckBuffers(image, &why) || !CanWrite(format, ShapeOf(image), &why)) {
    Fail(error, path, why);
    return false;
  }

  files::StagedFile staged;
  if (!staged.Create(path, &why) || !WriteImageToFile(staged.file(), format, image, &why, options) ||
      !staged.Finish(&why) || !staged.Commit(&why)) {
    Fail(error, path, why);
    return false;
  }
  return true;
}

}  // namespace host
