// PNG through libpng.
//
// libpng reports errors by longjmp. Every call that can fail runs inside one
// of the small functions below that own the setjmp; they hold only plain
// locals (no destructors for a longjmp to skip), and all buffers they fill
// are allocated by their callers beforehand.
#include <png.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "host/io/io_support.h"

namespace host {
namespace io {
namespace {

struct PngContext {
  std::FILE* file = nullptr;
  char message[256] = {};
  char warning[256] = {};  // the latest; libpng explains a bad IHDR only in warnings
};

[[noreturn]] void OnError(png_structp png, png_const_charp text) {
  auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
  // Our own I/O callbacks set a message first and call png_error with it.
  if (text != context->message) std::snprintf(context->message, sizeof context->message, "%s", text);
  png_longjmp(png, 1);
}

// Warnings concern ancillary chunks we may drop, and change nothing we keep;
// the latest is kept to explain an error that follows it.
void OnWarning(png_structp png, png_const_charp text) {
  auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
  std::snprintf(context->warning, sizeof context->warning, "%s", text);
}

void ReadData(png_structp png, png_bytep data, size_t length) {
  auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
  if (std::fread(data, 1, length, context->file) == length) return;
  if (std::feof(context->file)) {
    std::snprintf(context->message, sizeof context->message, "the file is truncated");
  } else {
    std::snprintf(context->message, sizeof context->message, "read error: %s", std::strerror(errno));
  }
  png_error(png, context->message);
}

void WriteData(png_structp png, png_bytep data, size_t length) {
  auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
  if (std::fwrite(data, 1, length, context->file) == length) return;
  std::snprintf(context->message, sizeof context->message, "write error: %s", std::strerror(errno));
  png_error(png, context->message);
}

void FlushData(png_structp) {}  // the caller flushes and closes the file and checks both

// --- reading -------------------------------------------------------------

struct PngShape {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;   // after expansion: 8 or 16
  int channels = 0;   // after expansion: 1..4
  bool interlaced = false;
  size_t rowBytes = 0;
};

// Reads the header and sets up the expansions to 8- or 16-bit grey or RGB,
// with or without alpha. Returns false after a libpng error.
bool ReadHeader(png_structp png, png_infop info, PngShape* shape) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_user_limits(png, png_uint_32(kMaxSide), png_uint_32(kMaxSide));
  png_read_info(png, info);
  const int colorType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  // A transparent palette entry or key colour becomes a real alpha channel.
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  shape->interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  if (shape->interlaced) png_set_interlace_handling(png);
  png_read_update_info(png, info);
  shape->width = png_get_image_width(png, info);
  shape->height = png_get_image_height(png, info);
  shape->bitDepth = png_get_bit_depth(png, info);
  shape->channels = png_get_channels(png, info);
  shape->rowBytes = png_get_rowbytes(png, info);
  // From here on, damaged image data is an error rather than a warning
  // followed by a silently incomplete picture.
  png_set_benign_errors(png, 0);
  return true;
}

// PNG stores 16-bit samples big-endian; the image wants native order.
void NativeOrder16(png_bytep row, size_t samples) {
  for (size_t i = 0; i < samples; ++i) {
    const uint16 v = uint16(row[2 * i] << 8 | row[2 * i + 1]);
    std::memcpy(row + 2 * i, &v, 2);
  }
}

void StoreRow(Image& image, int32 y, png_bytep row, const PngShape& shape) {
  const size_t samples = size_t(shape.width) * size_t(shape.channels);
  if (shape.bitDepth == 16) NativeOrder16(row, samples);
  PutSamples(image, 0, y, int32(shape.width), 0, shape.channels, row,
             size_t(shape.channels) * size_t(shape.bitDepth / 8));
}

// Row by row into one row buffer, storing each into the image.
bool ReadRowsSequential(png_structp png, png_bytep row, Image* image, const PngShape* shape) {
  if (setjmp(png_jmpbuf(png))) return false;
  for (png_uint_32 y = 0; y < shape->height; ++y) {
    png_read_row(png, row, nullptr);
    StoreRow(*image, int32(y), row, *shape);
  }
  return true;
}

// Interlaced images arrive in passes over the whole picture.
bool ReadRowsInterlaced(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  return true;
}

bool ReadEnd(png_structp png) {
  if (setjmp(png_jmpbuf(png))) return false;
  // The picture is complete: surplus compressed data is harmless.
  png_set_benign_errors(png, 1);
  png_read_end(png, nullptr);
  return true;
}

void ReadMetadata(png_structp png, png_infop info, Image& out) {
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 length = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &length) && profile && length > 0) {
    out.iccProfile.assign(profile, profile + length);
    out.iccProfileName = name ? name : "";
  }
  int intent = 0;
  if (png_get_sRGB(png, info, &intent)) out.pngSrgbIntent = intent;
  png_fixed_point gamma = 0;
  if (png_get_gAMA_fixed(png, info, &gamma) && gamma > 0) out.pngGamma = uint32(gamma);
  png_uint_32 x = 0, y = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &x, &y, &unit) && x > 0 && y > 0) {
    out.resolution.present = true;
    if (unit == PNG_RESOLUTION_METER) {
      out.resolution.unit = ResolutionUnit::Centimetre;
      out.resolution.x = x / 100.0;
      out.resolution.y = y / 100.0;
    } else {
      out.resolution.unit = ResolutionUnit::None;
      out.resolution.x = x;
      out.resolution.y = y;
    }
  }
}

struct ReadStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~ReadStructs() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

// --- writing -------------------------------------------------------------

bool WriteAll(png_structp png, png_infop info, const Image* image, png_bytep row, int channels) {
  if (setjmp(png_jmpbuf(png))) return false;
  const Document& d = image->document;
  const int colorType = (d.planes == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB) |
                        (image->alpha.empty() ? 0 : PNG_COLOR_MASK_ALPHA);
  png_set_IHDR(png, info, png_uint_32(d.width), png_uint_32(d.height), d.depth, colorType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!image->iccProfile.empty()) {
    const char* name = image->iccProfileName.empty() ? "ICC profile" : image->iccProfileName.c_str();
    png_set_iCCP(png, info, name, PNG_COMPRESSION_TYPE_BASE, image->iccProfile.data(),
                 png_uint_32(image->iccProfile.size()));
  } else if (image->pngSrgbIntent >= 0) {
    png_set_sRGB(png, info, image->pngSrgbIntent);
  }
  if (image->pngGamma > 0) png_set_gAMA_fixed(png, info, png_fixed_point(image->pngGamma));
  const Resolution& r = image->resolution;
  if (r.present && r.x > 0 && r.y > 0) {
    const double toMetre = r.unit == ResolutionUnit::Inch         ? 100.0 / 2.54
                           : r.unit == ResolutionUnit::Centimetre ? 100.0
                                                                  : 1.0;
    const double x = std::round(r.x * toMetre), y = std::round(r.y * toMetre);
    if (x >= 1 && y >= 1 && x <= 2147483647.0 && y <= 2147483647.0) {
      png_set_pHYs(png, info, png_uint_32(x), png_uint_32(y),
                   r.unit == ResolutionUnit::None ? PNG_RESOLUTION_UNKNOWN : PNG_RESOLUTION_METER);
    }
  }
  png_write_info(png, info);
  const size_t samples = size_t(d.width) * size_t(channels);
  for (int32 y = 0; y < d.height; ++y) {
    GetSamples(*image, 0, y, d.width, 0, channels, row, size_t(channels) * size_t(d.SampleBytes()));
    if (d.depth == 16) {
      for (size_t i = 0; i < samples; ++i) {
        uint16 v;
        std::memcpy(&v, row + 2 * i, 2);
        row[2 * i] = png_byte(v >> 8);
        row[2 * i + 1] = png_byte(v & 0xff);
      }
    }
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
  return true;
}

struct WriteStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~WriteStructs() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

}  // namespace

bool ReadPng(std::FILE* f, Image& out, std::string* why) {
  PngContext context;
  context.file = f;
  ReadStructs s;
  s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, OnError, OnWarning);
  if (s.png) s.info = png_create_info_struct(s.png);
  if (!s.png || !s.info) {
    *why = "not enough memory";
    return false;
  }
  png_set_read_fn(s.png, &context, ReadData);
  auto failed = [&] {
    const bool header = std::strstr(context.message, "IHDR") && context.warning[0];
    *why = "damaged PNG: " + OneLine(header ? context.warning : context.message);
    return false;
  };

  PngShape shape;
  if (!ReadHeader(s.png, s.info, &shape)) return failed();
  // Expansion leaves only these; anything else would be a libpng surprise.
  if ((shape.bitDepth != 8 && shape.bitDepth != 16) || shape.channels < 1 || shape.channels > 4) {
    *why = "unsupported PNG layout (" + std::to_string(shape.channels) + " channels of " +
           std::to_string(shape.bitDepth) + " bits)";
    return false;
  }
  const int bytes = shape.bitDepth / 8;
  if (!CheckShape(shape.width, shape.height, shape.channels, bytes, why)) return false;
  const bool hasAlpha = shape.channels == 2 || shape.channels == 4;
  const int16 planes = shape.channels <= 2 ? 1 : 3;
  if (!AllocateImage(out, int32(shape.width), int32(shape.height), planes, shape.bitDepth,
                     hasAlpha)) {
    *why = "not enough memory for the image";
    return false;
  }
  out.format = ImageFormat::Png;
  out.alphaKind = AlphaKind::Straight;
  out.tiff = TiffLayout();

  try {
    if (shape.interlaced) {
      std::vector<png_byte> pixels(shape.rowBytes * shape.height);
      std::vector<png_bytep> rows(shape.height);
      for (png_uint_32 y = 0; y < shape.height; ++y) rows[y] = pixels.data() + y * shape.rowBytes;
      if (!ReadRowsInterlaced(s.png, rows.data())) return failed();
      for (png_uint_32 y = 0; y < shape.height; ++y) StoreRow(out, int32(y), rows[y], shape);
    } else {
      std::vector<png_byte> row(shape.rowBytes);
      if (!ReadRowsSequential(s.png, row.data(), &out, &shape)) return failed();
    }
  } catch (const std::bad_alloc&) {
    *why = "not enough memory for the image";
    return false;
  }
  if (!ReadEnd(s.png)) return failed();
  ReadMetadata(s.png, s.info, out);
  return true;
}

bool WritePng(std::FILE* f, const Image& image, std::string* why) {
  PngContext context;
  context.file = f;
  WriteStructs s;
  s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &context, OnError, OnWarning);
  if (s.png) s.info = png_create_info_struct(s.png);
  if (!s.png || !s.info) {
    *why = "not enough memory";
    return false;
  }
  png_set_write_fn(s.png, &context, WriteData, FlushData);
  // A metadata value libpng finds questionable (an ICC profile it does not
  // like, a gamma that disagrees with it) is dropped, not a failed write.
  png_set_benign_errors(s.png, 1);
  const int channels = SamplesPerPixel(image);
  std::vector<png_byte> row;
  try {
    row.resize(size_t(image.document.width) * size_t(channels) * size_t(image.document.SampleBytes()));
  } catch (const std::bad_alloc&) {
    *why = "not enough memory";
    return false;
  }
  if (!WriteAll(s.png, s.info, &image, row.data(), channels)) {
    *why = OneLine(context.message);
    return false;
  }
  return true;
}

}  // namespace io
}  // namespace host
