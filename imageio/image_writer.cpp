// ImageWriter: checks that the shape fits the format, then passes bands of
// rows to the format's writer, polling for cancellation between them.
#include <exception>

#include "imageio/io_support.h"

namespace host {

bool CanWrite(ImageFormat format, const ImageShape& s, std::string* why) {
  if (s.planes != 1 && s.planes != 3) {
    *why = "cannot write " + std::to_string(s.planes) + " colour planes (only 1 or 3)";
    return false;
  }
  if (s.depth != 8 && s.depth != 16 && s.depth != 32) {
    *why = "cannot write " + std::to_string(s.depth) + "-bit samples (only 8, 16 or 32)";
    return false;
  }
  if (!io::CheckShape(s.width, s.height, io::FileSamples(s), s.SampleBytes(), why)) return false;
  if (format == ImageFormat::Png && s.depth == 32) {
    *why = "PNG cannot hold 32-bit floating-point samples; write a .tif or .tiff file instead";
    return false;
  }
  if (format == ImageFormat::Jpeg) {
    if (s.depth != 8) {
      *why = "JPEG holds only 8-bit samples, not " + std::to_string(s.depth) + "-bit ones; write a " +
             (s.depth == 16 ? ".png, .tif or .tiff" : ".tif or .tiff") + " file instead";
      return false;
    }
    if (s.alpha) {
      *why = "JPEG cannot hold an alpha channel; write a .png, .tif or .tiff file instead";
      return false;
    }
    if (s.width > 65500 || s.height > 65500) {
      *why = "JPEG cannot hold more than 65500 pixels a side (the image is " +
             std::to_string(s.width) + " x " + std::to_string(s.height) + ")";
      return false;
    }
  }
  return true;
}

ImageWriter::ImageWriter() = default;
ImageWriter::~ImageWriter() = default;

bool ImageWriter::Fail(std::string* error, const std::string& why) {
  failed_ = true;
  format_.reset();
  if (error) *error = io::OneLine(why);
  return false;
}

bool ImageWriter::Start(std::FILE* file, ImageFormat format, const ImageShape& shape,
                        const ImageProperties& properties, std::string* error,
                        const WriteOptions& options) {
  shape_ = shape;
  options_ = options;
  std::string why;
  if (!CanWrite(format, shape, &why)) return Fail(error, why);
  if (options.quality < 0 || options.quality > 100) {
    return Fail(error, "JPEG quality must be 1 to 100, not " + std::to_string(options.quality));
  }
  if (options.cancel && options.cancel->load()) return Fail(error, "cancelled");
  format_ = format == ImageFormat::Png    ? io::NewPngWriter(file)
            : format == ImageFormat::Tiff ? io::NewTiffWriter(file)
                                          : io::NewJpegWriter(file);
  try {
    if (!format_->Start(shape, properties, options, &why)) return Fail(error, why);
  } catch (const std::exception&) {  // memory, for the metadata laid out here
    return Fail(error, "not enough memory");
  }
  return true;
}

bool ImageWriter::WriteRows(int32 rows, const uint8* colour, size_t colourStride, const uint8* alpha,
                            size_t alphaStride, std::string* error) {
  if (failed_ || !format_) return Fail(error, "the image cannot be written any further");
  if (rows < 0 || rows > shape_.height - next_) {
    return Fail(error, "rows " + std::to_string(next_) + " to " + std::to_string(next_ + rows - 1) +
                           " lie outside the image");
  }
  if (shape_.alpha && !alpha && rows > 0) return Fail(error, "the image's alpha rows are missing");
  if (options_.cancel && options_.cancel->load()) return Fail(error, "cancelled");
  if (rows == 0) return true;
  std::string why;
  const io::RowsIn in{colour, colourStride, shape_.alpha ? alpha : nullptr, alphaStride};
  try {
    if (!format_->WriteRows(next_, rows, in, &why)) return Fail(error, why);
  } catch (const std::exception&) {
    return Fail(error, "not enough memory");
  }
  next_ += rows;
  return true;
}

bool ImageWriter::Finish(std::string* error) {
  if (failed_ || !format_) return Fail(error, "the image cannot be written any further");
  if (next_ != shape_.height) {
    return Fail(error, "only " + std::to_string(next_) + " of " + std::to_string(shape_.height) +
                           " rows were written");
  }
  if (options_.cancel && options_.cancel->load()) return Fail(error, "cancelled");
  std::string why;
  if (!format_->Finish(&why)) return Fail(error, why);
  format_.reset();
  return true;
}

}  // namespace host
