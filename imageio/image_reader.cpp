// ImageReader: recognises the format by its first bytes and hands out rows
// in bands, polling for cancellation between them.
#include <cerrno>
#include <cstring>
#ifndef _WIN32
#include <fcntl.h>
#endif
#include <exception>

#include "files/system_names.h"
#include "imageio/exif_block.h"
#include "imageio/io_support.h"

namespace host {
namespace {

const uint8 kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
const uint8 kJpegSignature[3] = {0xff, 0xd8, 0xff};

// Classic TIFF (42) and BigTIFF (43), either byte order.
bool IsTiffSignature(const uint8* b, size_t n) {
  if (n < 4) return false;
  return (b[0] == 'I' && b[1] == 'I' && (b[2] == 42 || b[2] == 43) && b[3] == 0) ||
         (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && (b[3] == 42 || b[3] == 43));
}

}  // namespace

ImageShape ShapeOf(const Image& image) {
  ImageShape s;
  s.width = image.document.width;
  s.height = image.document.height;
  s.planes = image.document.planes;
  s.depth = image.document.depth;
  s.alpha = !image.alpha.empty();
  return s;
}

ImageReader::ImageReader() = default;

ImageReader::~ImageReader() {
  format_.reset();  // libraries may still talk to the file while they close
  if (file_) std::fclose(file_);
}

bool ImageReader::Fail(std::string* error, const std::string& why) {
  failed_ = true;
  if (error) *error = path_ + ": " + io::OneLine(why);
  return false;
}

bool ImageReader::Open(const std::string& path, std::string* error, const ReadOptions& options) {
  path_ = path;
  options_ = options;
  file_ = files::OpenFile(path, "rb");
  if (!file_) return Fail(error, "cannot open: " + io::SystemError(errno));
#if defined(POSIX_FADV_SEQUENTIAL)
  // Read once, front to back: a larger read-ahead.
  (void)posix_fadvise(fileno(file_), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  uint8 head[8] = {};
  const size_t n = std::fread(head, 1, sizeof head, file_);
  if (n < sizeof head && std::ferror(file_)) return Fail(error, "cannot read: " + io::SystemError(errno));
  if (n == 0) return Fail(error, "the file is empty");
  const bool png = n == sizeof head && std::memcmp(head, kPngSignature, sizeof head) == 0;
  const bool tiff = IsTiffSignature(head, n);
  const bool jpeg = n >= 3 && std::memcmp(head, kJpegSignature, 3) == 0;
  if (n < sizeof head && std::memcmp(head, kPngSignature, n) == 0) {
    return Fail(error, "damaged PNG: the file is truncated");
  }
  if (n < 3 && std::memcmp(head, kJpegSignature, n) == 0) {
    return Fail(error, "damaged JPEG: the file is truncated");
  }
  if (!png && !tiff && !jpeg) return Fail(error, "not a PNG, TIFF or JPEG file");
  fileSize_ = io::FileSize(file_);
  if (io::Seek(file_, 0, SEEK_SET) != 0) return Fail(error, "cannot read: " + io::SystemError(errno));
  format_ = png    ? io::NewPngReader(file_, fileSize_)
            : tiff ? io::NewTiffReader(file_, path, fileSize_)
                   : io::NewJpegReader(file_, fileSize_);
  std::string why;
  try {
    if (!format_->ReadHeader(shape_, properties_, &why)) return Fail(error, why);
    // Damaged metadata is named, never silently dropped.
    std::vector<std::string> damage = format_->warnings;
    if (!tiff && !properties_.exif.empty()) {
      io::ExifBlock b;
      if (!io::ParseExif(properties_.exif.data(), properties_.exif.size(), &b, &damage)) {
        damage.push_back("the EXIF block is damaged beyond reading; it is carried as it came");
      }
    }
    if (options.warnings) {
      options.warnings->insert(options.warnings->end(), damage.begin(), damage.end());
    }
  } catch (const std::exception&) {  // memory, from the containers the metadata fills
    return Fail(error, "not enough memory to read the file");
  }
  return true;
}

bool ImageReader::ReadRows(int32 rows, uint8* colour, size_t colourStride, uint8* alpha,
                           size_t alphaStride, std::string* error) {
  if (failed_ || !format_) return Fail(error, "the image cannot be read any further");
  if (rows < 0 || rows > shape_.height - next_) {
    return Fail(error, "rows " + std::to_string(next_) + " to " + std::to_string(next_ + rows - 1) +
                           " lie outside the image");
  }
  if (options_.cancel && options_.cancel->load()) return Fail(error, "cancelled");
  if (rows == 0) return true;
  std::string why;
  const io::RowsOut out{colour, colourStride, shape_.alpha ? alpha : nullptr, alphaStride};
  try {
    if (!format_->ReadRows(next_, rows, out, &why)) return Fail(error, why);
  } catch (const std::exception&) {
    return Fail(error, "not enough memory to read the file");
  }
  next_ += rows;
  return true;
}

bool ImageReader::Finish(std::string* error) {
  if (failed_ || !format_) return Fail(error, "the image cannot be read any further");
  std::string why;
  if (!format_->Finish(&why)) return Fail(error, why);
  return true;
}

}  // namespace host
