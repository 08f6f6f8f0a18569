// Reading PNG through libpng, row by row into the caller's rows.
//
// Text and EXIF may follow the image data; they are found first by walking
// the chunk list (skipping the data) and read through a second libpng
// reader, so every piece of metadata is known before the first row.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include <zlib.h>

#include "imageio/byte_order.h"
#include "imageio/io_support.h"
#include "imageio/metadata.h"
#include "imageio/png_common.h"

namespace host {
namespace io {
namespace {

// Deflate's best: 1032 bytes of output for one byte of input.
constexpr uint64_t kDeflateRatio = 1032;
constexpr size_t kMaxLateChunkBytes = size_t(16) << 20;
// libpng reads an ancillary chunk (and inflates a compressed one) whole;
// without a limit a damaged length makes it reserve gigabytes. Profiles and
// text are far smaller.
constexpr png_alloc_size_t kMaxChunkBytes = png_alloc_size_t(64) << 20;

struct PngShape {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;  // after expansion: 8 or 16
  int channels = 0;  // after expansion: 1..4
  bool interlaced = false;
  size_t rowBytes = 0;
};

// Reads the header and sets up the expansions to 8- or 16-bit grey or RGB,
// with or without alpha, in native byte order. False after a libpng error.
bool ReadPngHeader(png_structp png, png_infop info, PngShape* shape) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_user_limits(png, png_uint_32(kMaxSide), png_uint_32(kMaxSide));
  png_set_chunk_malloc_max(png, kMaxChunkBytes);
  png_read_info(png, info);
  const int colorType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  // A transparent palette entry or key colour becomes a real alpha channel.
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  const uint16 one = 1;
  uint8 first;
  std::memcpy(&first, &one, 1);
  if (bitDepth == 16 && first == 1) png_set_swap(png);  // PNG is big-endian
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

bool ReadOneRow(png_structp png, png_bytep row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_row(png, row, nullptr);
  return true;
}

// Interlaced images arrive in passes over the whole picture.
bool ReadWhole(png_structp png, png_bytepp rows) {
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

bool ReadInfoOnly(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_chunk_malloc_max(png, kMaxChunkBytes);
  png_read_info(png, info);
  return true;
}

void ReadText(png_structp png, png_infop info, ImageProperties& p) {
  png_textp texts = nullptr;
  const int count = png_get_text(png, info, &texts, nullptr);
  for (int i = 0; i < count; ++i) {
    const png_text& t = texts[i];
    const std::string key = t.key ? t.key : "";
    const bool international = t.compression >= PNG_ITXT_COMPRESSION_NONE;
    const size_t length = international ? t.itxt_length : t.text_length;
    const std::string text = t.text ? std::string(t.text, length) : std::string();
    std::vector<uint8> bytes;
    if (key == "XML:com.adobe.xmp") {
      if (p.xmp.empty()) p.xmp = text;
    } else if (key == "Raw profile type iptc" && FromRawProfile(text, &bytes)) {
      // ImageMagick writes IPTC records; ExifTool writes them in Photoshop's
      // container, which may hold other resources too.
      const bool photoshop = bytes.size() > 4 && std::memcmp(bytes.data(), "8BIM", 4) == 0;
      if (photoshop && p.photoshop.empty()) p.photoshop = bytes;
      if (p.iptc.empty()) p.iptc = photoshop ? IptcFromPhotoshop(bytes.data(), bytes.size()) : bytes;
    } else if ((key == "Raw profile type icc" || key == "Raw profile type icm") && FromRawProfile(text, &bytes)) {
      // Where a profile libpng refuses in iCCP is kept (by us and ImageMagick).
      if (p.iccProfile.empty()) p.iccProfile = bytes;
    } else if ((key == "Raw profile type exif" || key == "Raw profile type APP1") &&
               FromRawProfile(text, &bytes)) {
      if (bytes.size() > 6 && std::memcmp(bytes.data(), "Exif\0\0", 6) == 0) bytes.erase(bytes.begin(), bytes.begin() + 6);
      if (p.exif.empty()) p.exif = bytes;
    } else if (std::string* field = TextTagForKey(p.text, key)) {
      std::string utf8 = international ? text : Utf8FromLatin1(text);
      if (key == "Creation Time" && !TiffDate(utf8, &utf8)) {
        p.pngText.push_back({key, text, international, t.compression == PNG_TEXT_COMPRESSION_zTXt ||
                                                            t.compression == PNG_ITXT_COMPRESSION_zTXt,
                             t.lang ? t.lang : "", t.lang_key ? t.lang_key : ""});
      } else if (field->empty()) {
        *field = utf8;
      }
    } else {
      p.pngText.push_back({key, text, international,
                           t.compression == PNG_TEXT_COMPRESSION_zTXt ||
                               t.compression == PNG_ITXT_COMPRESSION_zTXt,
                           international && t.lang ? t.lang : "",
                           international && t.lang_key ? t.lang_key : ""});
    }
  }
  png_bytep exif = nullptr;
  png_uint_32 exifBytes = 0;
  if (p.exif.empty() && png_get_eXIf_1(png, info, &exifBytes, &exif) && exif && exifBytes > 0) {
    p.exif.assign(exif, exif + exifBytes);
  }
}

void ReadMetadata(png_structp png, png_infop info, ImageProperties& p) {
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 length = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &length) && profile && length > 0) {
    p.iccProfile.assign(profile, profile + length);
    p.iccProfileName = name ? name : "";
  }
  int intent = 0;
  if (png_get_sRGB(png, info, &intent)) p.pngSrgbIntent = intent;
  png_fixed_point gamma = 0;
  if (png_get_gAMA_fixed(png, info, &gamma) && gamma > 0) p.pngGamma = uint32(gamma);
  png_uint_32 x = 0, y = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &x, &y, &unit) && x > 0 && y > 0) {
    p.resolution.present = true;
    if (unit == PNG_RESOLUTION_METER) {
      // Pixels per metre are whole numbers: 300 dpi is stored as 11811. A
      // value that close to whole dots per inch was made from them, and
      // goes on as dots per inch.
      const double dpiX = x * 0.0254, dpiY = y * 0.0254;
      if (std::fabs(dpiX - std::round(dpiX)) < 0.01 && std::fabs(dpiY - std::round(dpiY)) < 0.01) {
        p.resolution.unit = ResolutionUnit::Inch;
        p.resolution.x = std::round(dpiX);
        p.resolution.y = std::round(dpiY);
      } else {
        p.resolution.unit = ResolutionUnit::Centimetre;
        p.resolution.x = x / 100.0;
        p.resolution.y = y / 100.0;
      }
    } else {
      p.resolution.unit = ResolutionUnit::None;
      p.resolution.x = x;
      p.resolution.y = y;
    }
  }
  ReadText(png, info, p);
}

void PutBig32(std::vector<uint8>& out, uint32 v) {
  uint8 b[4];
  Put32(b, v, true);
  out.insert(out.end(), b, b + 4);
}

void PutChunk(std::vector<uint8>& out, const char* type, const std::vector<uint8>& data) {
  PutBig32(out, uint32(data.size()));
  const size_t at = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBig32(out, uint32(crc32(crc32(0, nullptr, 0), out.data() + at, uInt(out.size() - at))));
}

// Whether an output has no place for what the chunk says: the ancillary
// chunks we read (or, as tRNS, turn into alpha) it has, and those that
// say how this file was made (its time, its palette, the bits its samples
// had) become false once the picture is filtered and written again; the
// rest are named as the file is read.
bool LeftOut(const uint8* type) {
  static const char* const kKept[] = {"tRNS", "iCCP", "sRGB", "gAMA", "pHYs", "tEXt", "zTXt", "iTXt", "eXIf",
                                      "tIME", "hIST", "sPLT", "sBIT"};
  for (const char* t : kKept) {
    if (std::memcmp(type, t, 4) == 0) return false;
  }
  return (type[0] & 0x20) != 0;  // critical chunks are the image itself
}

std::string ChunkName(const std::string& type) {
  static const char* const kNames[][2] = {
      {"cHRM", "chromaticities"}, {"cICP", "colour space"}, {"mDCV", "mastering display"},
      {"cLLI", "light levels"}, {"bKGD", "background colour"}, {"oFFs", "image offset"}, {"pCAL", "pixel calibration"}, {"sCAL", "physical scale"},
      {"sTER", "stereo layout"}, {"acTL", "animation: the frames after the first"}};
  for (const auto& n : kNames) {
    if (type == n[0]) return "the " + type + " chunk (" + n[1] + ")";
  }
  return "the " + type + " chunk";
}

// One pass over the chunk list, the image data skipped.
struct ChunkWalk {
  // The text and EXIF chunks after the image data, whole, in a small PNG of
  // their own that libpng can read before the data: a 1 x 1 header, the
  // chunks, and an empty data chunk where libpng stops. Empty when there
  // are none.
  std::vector<uint8> late;
  bool cut = false;   // a chunk claims more bytes than the file has left: libpng would reserve them
  bool iccp = false;  // an iCCP chunk, which libpng may refuse
  std::vector<std::string> leftOut;  // the chunk types no output keeps, once each
};

// The file is left where it was.
ChunkWalk WalkChunks(std::FILE* f, int64_t fileSize) {
  ChunkWalk walk;
  const int64_t start = Tell(f);
  std::vector<uint8> chunks;
  if (start < 0 || Seek(f, 8, SEEK_SET) != 0) return walk;
  bool afterData = false;
  for (;;) {
    uint8 head[8];
    if (std::fread(head, 1, 8, f) != 8) break;
    const uint32 length = Get32(head, true);
    const int64_t at = Tell(f);
    if (length > 0x7fffffffu || (fileSize >= 0 && at >= 0 && int64_t(length) + 4 > fileSize - at)) {
      walk.cut = true;
      break;
    }
    const bool data = std::memcmp(head + 4, "IDAT", 4) == 0;
    if (std::memcmp(head + 4, "IEND", 4) == 0) break;
    if (data) afterData = true;
    if (std::memcmp(head + 4, "iCCP", 4) == 0) walk.iccp = true;
    const std::string type(reinterpret_cast<const char*>(head + 4), 4);
    if (LeftOut(head + 4) && std::find(walk.leftOut.begin(), walk.leftOut.end(), type) == walk.leftOut.end()) {
      walk.leftOut.push_back(type);
    }
    const bool wanted = afterData && !data &&
                        (std::memcmp(head + 4, "tEXt", 4) == 0 || std::memcmp(head + 4, "zTXt", 4) == 0 ||
                         std::memcmp(head + 4, "iTXt", 4) == 0 || std::memcmp(head + 4, "eXIf", 4) == 0);
    if (wanted && chunks.size() + length + 12 <= kMaxLateChunkBytes) {
      const size_t at = chunks.size();
      chunks.insert(chunks.end(), head, head + 8);
      chunks.resize(at + 8 + length + 4);
      if (std::fread(chunks.data() + at + 8, 1, length + 4, f) != length + 4) {
        chunks.resize(at);
        break;
      }
    } else if (Seek(f, int64_t(length) + 4, SEEK_CUR) != 0) {
      break;
    }
  }
  Seek(f, start, SEEK_SET);
  if (chunks.empty()) return walk;
  walk.late = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  PutChunk(walk.late, "IHDR", {0, 0, 0, 1, 0, 0, 0, 1, 8, 0, 0, 0, 0});
  walk.late.insert(walk.late.end(), chunks.begin(), chunks.end());
  PutChunk(walk.late, "IDAT", {});
  return walk;
}

struct MemorySource {
  const std::vector<uint8>* bytes;
  size_t at;
};

void ReadMemory(png_structp png, png_bytep data, size_t length) {
  auto* m = static_cast<MemorySource*>(png_get_io_ptr(png));
  if (length > m->bytes->size() - m->at) png_error(png, "the late chunks are cut short");
  std::memcpy(data, m->bytes->data() + m->at, length);
  m->at += length;
}

struct ReadStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~ReadStructs() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

// Reads the late chunks' metadata; damaged ones are dropped like libpng
// drops damaged ancillary chunks.
void ReadLateMetadata(const std::vector<uint8>& mini, ImageProperties& p) {
  PngContext context;
  ReadStructs s;
  s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, PngOnError, PngOnWarning);
  if (s.png) s.info = png_create_info_struct(s.png);
  if (!s.png || !s.info) return;
  MemorySource source{&mini, 0};
  png_set_read_fn(s.png, &source, ReadMemory);
  if (ReadInfoOnly(s.png, s.info)) ReadText(s.png, s.info, p);
}

class PngReader : public FormatReader {
 public:
  PngReader(std::FILE* f, int64_t fileSize) : fileSize_(fileSize) { context_.file = f; }

  bool ReadHeader(ImageShape& shape, ImageProperties& p, std::string* why) override {
    s_.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context_, PngOnError, PngOnWarning);
    if (s_.png) s_.info = png_create_info_struct(s_.png);
    if (!s_.png || !s_.info) {
      *why = "not enough memory";
      return false;
    }
    const ChunkWalk walk = WalkChunks(context_.file, fileSize_);
    if (walk.cut) {
      *why = "damaged PNG: the file is truncated";
      return false;
    }
    png_set_read_fn(s_.png, &context_, PngReadData);
    if (!ReadPngHeader(s_.png, s_.info, &png_)) return Failed(why);
    // Expansion leaves only these; anything else would be a libpng surprise.
    if ((png_.bitDepth != 8 && png_.bitDepth != 16) || png_.channels < 1 || png_.channels > 4) {
      *why = "unsupported PNG layout (" + std::to_string(png_.channels) + " channels of " +
             std::to_string(png_.bitDepth) + " bits)";
      return false;
    }
    const int bytes = png_.bitDepth / 8;
    if (!CheckShape(png_.width, png_.height, png_.channels, bytes, why)) return false;
    shape.width = int32(png_.width);
    shape.height = int32(png_.height);
    shape.planes = png_.channels <= 2 ? 1 : 3;
    shape.depth = png_.bitDepth;
    shape.alpha = png_.channels == 2 || png_.channels == 4;
    shape_ = shape;
    const uint64_t raw = uint64_t(png_.rowBytes + 1) * png_.height;  // a filter byte a row
    if (!CheckFileHoldsImage("PNG", fileSize_, raw, kDeflateRatio, png_.width, png_.height, why)) {
      return false;
    }
    p.format = ImageFormat::Png;
    p.alphaKind = AlphaKind::Straight;
    ReadMetadata(s_.png, s_.info, p);
    if (walk.iccp && p.iccProfile.empty()) {
      // libpng checks the profile against the image and drops one it
      // refuses, saying why in a warning.
      Warn(&warnings, "libpng refuses the ICC profile (" +
                         (context_.warning[0] ? OneLine(context_.warning) : std::string("it is damaged")) +
                         "); it is not kept");
    }
    if (!walk.late.empty()) ReadLateMetadata(walk.late, p);
    for (const std::string& type : walk.leftOut) Warn(&warnings, ChunkName(type) + " is not kept");
    TextFromExif(p.exif, &p.text);
    return true;
  }

  bool ReadRows(int32 y, int32 rows, const RowsOut& out, std::string* why) override {
    try {
      if (png_.interlaced) return ReadInterlaced(y, rows, out, why);
      // Without alpha the file's row is the host's row, 16-bit values
      // scaled in place afterwards.
      const bool direct = !shape_.alpha;
      if (!direct && scratch_.empty()) scratch_.resize(png_.rowBytes);
      const size_t samples = size_t(shape_.width) * size_t(shape_.planes);
      for (int32 r = 0; r < rows; ++r) {
        png_bytep row = direct ? out.ColourRow(r) : scratch_.data();
        if (!ReadOneRow(s_.png, row)) return Failed(why);
        if (!direct) {
          FileRowToHost(row, shape_, out.ColourRow(r), out.AlphaRow(r));
        } else if (shape_.depth == 16) {
          HostFrom16(row, samples);
        }
      }
    } catch (const std::bad_alloc&) {
      *why = "not enough memory for the image";
      return false;
    }
    return true;
  }

  bool Finish(std::string* why) override {
    if (!ReadEnd(s_.png)) return Failed(why);
    return true;
  }

 private:
  bool Failed(std::string* why) {
    const bool header = std::strstr(context_.message, "IHDR") && context_.warning[0];
    *why = "damaged PNG: " + OneLine(header ? context_.warning : context_.message);
    return false;
  }

  // The whole picture is decoded at the first band; the bands are copied from it.
  bool ReadInterlaced(int32 y, int32 rows, const RowsOut& out, std::string* why) {
    if (whole_.empty()) {
      whole_.resize(png_.rowBytes * png_.height);
      std::vector<png_bytep> pointers(png_.height);
      for (png_uint_32 r = 0; r < png_.height; ++r) pointers[r] = whole_.data() + r * png_.rowBytes;
      if (!ReadWhole(s_.png, pointers.data())) return Failed(why);
    }
    for (int32 r = 0; r < rows; ++r) {
      FileRowToHost(whole_.data() + size_t(y + r) * png_.rowBytes, shape_, out.ColourRow(r),
                    out.AlphaRow(r));
    }
    return true;
  }

  PngContext context_;
  ReadStructs s_;
  PngShape png_;
  ImageShape shape_;
  int64_t fileSize_;
  std::vector<uint8> scratch_;
  std::vector<uint8> whole_;
};

}  // namespace

std::unique_ptr<FormatReader> NewPngReader(std::FILE* f, int64_t fileSize) {
  return std::make_unique<PngReader>(f, fileSize);
}

}  // namespace io
}  // namespace host
