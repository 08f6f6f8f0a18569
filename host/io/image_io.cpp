#include "host/io/image_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/files/staged_file.h"
#include "host/io/io_support.h"

namespace host {
namespace {

using io::OneLine;

void Fail(std::string* error, const std::string& path, const std::string& why) {
  if (error) *error = path + ": " + OneLine(why);
}

struct FileCloser {
  std::FILE* file = nullptr;
  ~FileCloser() {
    if (file) std::fclose(file);
  }
};

const uint8 kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// Classic TIFF (42) and BigTIFF (43), either byte order.
bool IsTiffSignature(const uint8* b, size_t n) {
  if (n < 4) return false;
  return (b[0] == 'I' && b[1] == 'I' && (b[2] == 42 || b[2] == 43) && b[3] == 0) ||
         (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && (b[3] == 42 || b[3] == 43));
}

// What WriteImage needs to trust before touching any file.
bool CheckImage(const Image& image, std::string* why) {
  const Document& d = image.document;
  if (d.planes != 1 && d.planes != 3) {
    *why = "cannot write " + std::to_string(d.planes) + " colour planes (only 1 or 3)";
    return false;
  }
  if (d.depth != 8 && d.depth != 16 && d.depth != 32) {
    *why = "cannot write " + std::to_string(d.depth) + "-bit samples (only 8, 16 or 32)";
    return false;
  }
  const int spp = io::SamplesPerPixel(image);
  if (!io::CheckShape(d.width, d.height, spp, d.SampleBytes(), why)) return false;
  const size_t pixels = size_t(d.width) * size_t(d.height);
  if (d.pixels.size() != pixels * d.PixelBytes() ||
      (!image.alpha.empty() && image.alpha.size() != pixels * size_t(d.SampleBytes()))) {
    *why = "the image's sample buffers do not match its size";
    return false;
  }
  return true;
}

std::string SystemError(int code) { return std::strerror(code); }

}  // namespace

bool ReadImage(const std::string& path, Image& out, std::string* error) {
  FileCloser file;
  file.file = std::fopen(path.c_str(), "rb");
  if (!file.file) {
    Fail(error, path, "cannot open: " + SystemError(errno));
    return false;
  }
  uint8 head[8] = {};
  const size_t n = std::fread(head, 1, sizeof head, file.file);
  if (n < sizeof head && std::ferror(file.file)) {
    Fail(error, path, "cannot read: " + SystemError(errno));
    return false;
  }
  if (n == 0) {
    Fail(error, path, "the file is empty");
    return false;
  }
  const bool png = n == sizeof head && std::memcmp(head, kPngSignature, sizeof head) == 0;
  const bool tiff = IsTiffSignature(head, n);
  if (n < sizeof head && std::memcmp(head, kPngSignature, n) == 0) {
    Fail(error, path, "damaged PNG: the file is truncated");
    return false;
  }
  if (!png && !tiff) {
    Fail(error, path, "not a PNG or TIFF file");
    return false;
  }
  if (io::Seek(file.file, 0, SEEK_SET) != 0) {
    Fail(error, path, "cannot read: " + SystemError(errno));
    return false;
  }
  Image image;
  std::string why;
  const bool ok = png ? io::ReadPng(file.file, image, &why) : io::ReadTiff(file.file, path, image, &why);
  if (!ok) {
    Fail(error, path, why);
    return false;
  }
  out = std::move(image);
  return true;
}

bool FormatFromName(const std::string& path, ImageFormat* format) {
  const size_t slash = path.find_last_of("/\\");
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (ext == "png") {
    *format = ImageFormat::Png;
    return true;
  }
  if (ext == "tif" || ext == "tiff") {
    *format = ImageFormat::Tiff;
    return true;
  }
  return false;
}

bool WriteImageToFile(std::FILE* file, ImageFormat format, const Image& image, std::string* error) {
  std::string why;
  if (!CheckImage(image, &why)) {
    if (error) *error = OneLine(why);
    return false;
  }
  if (format == ImageFormat::Png && image.document.depth == 32) {
    if (error) *error = "PNG cannot hold 32-bit floating-point samples; write a .tif or .tiff file instead";
    return false;
  }
  const bool ok = format == ImageFormat::Png ? io::WritePng(file, image, &why)
                                             : io::WriteTiff(file, "the new file", image, &why);
  if (!ok && error) *error = OneLine(why);
  return ok;
}

bool WriteImage(const std::string& path, const Image& image, std::string* error) {
  ImageFormat format;
  if (!FormatFromName(path, &format)) {
    Fail(error, path, "unknown output format: the name must end in .png, .tif or .tiff");
    return false;
  }
  files::StagedFile staged;
  std::string why;
  if (!staged.Create(path, &why) || !WriteImageToFile(staged.file(), format, image, &why) ||
      !staged.Finish(&why) || !staged.Commit(&why)) {
    Fail(error, path, why);
    return false;
  }
  return true;
}

}  // namespace host
