// Writing PNG through libpng, row by row from the caller's rows. Metadata
// goes before the image data: profile, gamma, resolution, EXIF, XMP, IPTC
// (as ImageMagick's raw profile, which ExifTool reads too, in Photoshop's
// container when other resources come with it, as ExifTool writes it) and
// text.
#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <new>
#include <vector>

#include "imageio/exif_output.h"
#include "imageio/io_support.h"
#include "imageio/jpeg_segments.h"
#include "imageio/metadata.h"
#include "imageio/png_common.h"

namespace host {
namespace io {
namespace {

// A PNG chunk holds far more, but an EXIF block beyond this is no camera's.
constexpr size_t kMaxExifBytes = size_t(16) << 20;

// What Start hands to libpng, prepared beforehand so the function that owns
// the setjmp holds nothing that needs destroying.
struct PngHeader {
  const ImageShape* shape;
  const ImageProperties* p;
  std::vector<uint8> exif;
  std::vector<png_text> texts;  // the last is the profile as text, written only when iCCP is refused
};

bool WriteHeader(png_structp png, png_infop info, const PngHeader* h, bool* iccRefused) {
  if (setjmp(png_jmpbuf(png))) return false;
  const ImageShape& s = *h->shape;
  const ImageProperties& p = *h->p;
  const int colorType = (s.planes == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB) |
                        (s.alpha ? PNG_COLOR_MASK_ALPHA : 0);
  png_set_IHDR(png, info, png_uint_32(s.width), png_uint_32(s.height), s.depth, colorType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!p.iccProfile.empty()) {
    const char* name = p.iccProfileName.empty() ? "ICC profile" : p.iccProfileName.c_str();
    png_set_iCCP(png, info, name, PNG_COMPRESSION_TYPE_BASE, p.iccProfile.data(),
                 png_uint_32(p.iccProfile.size()));
    // libpng checks the profile against the image (an RGB profile on grey
    // pixels, a damaged header) and leaves out one it refuses.
    *iccRefused = png_get_valid(png, info, PNG_INFO_iCCP) == 0;
  }
  if ((p.iccProfile.empty() || *iccRefused) && p.pngSrgbIntent >= 0) png_set_sRGB(png, info, p.pngSrgbIntent);
  if (p.pngGamma > 0) png_set_gAMA_fixed(png, info, png_fixed_point(p.pngGamma));
  const Resolution& r = p.resolution;
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
  if (!h->exif.empty()) {
    png_set_eXIf_1(png, info, png_uint_32(h->exif.size()), const_cast<png_bytep>(h->exif.data()));
  }
  const size_t texts = h->texts.size() - (p.iccProfile.empty() || *iccRefused ? 0 : 1);
  if (texts > 0) png_set_text(png, info, const_cast<png_textp>(h->texts.data()), int(texts));
  png_write_info(png, info);
  const uint16 one = 1;
  uint8 first;
  std::memcpy(&first, &one, 1);
  if (s.depth == 16 && first == 1) png_set_swap(png);  // rows come in native order
  return true;
}

bool WriteOneRow(png_structp png, png_const_bytep row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_write_row(png, row);
  return true;
}

bool WriteEnd(png_structp png) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_write_end(png, nullptr);
  return true;
}

struct WriteStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~WriteStructs() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

// Strings the png_text entries point into; they live until the header is
// written (a deque never moves what it holds).
struct TextStore {
  std::deque<std::string> strings;
  const char* Keep(std::string s) {
    strings.push_back(std::move(s));
    return strings.back().c_str();
  }
};

// Latin-1 tEXt or zTXt where the text allows, iTXt where it does not or
// where `international` asks for it.
png_text MakeText(TextStore& store, const std::string& key, const std::string& utf8, bool compress,
                  const std::string& language = "", const std::string& translatedKey = "",
                  bool international = false) {
  png_text t{};
  std::string latin1;
  international = international || !language.empty() || !translatedKey.empty() ||
                  !Latin1FromUtf8(utf8, &latin1);
  t.key = const_cast<char*>(store.Keep(key));
  if (international) {
    t.compression = compress ? PNG_ITXT_COMPRESSION_zTXt : PNG_ITXT_COMPRESSION_NONE;
    t.text = const_cast<char*>(store.Keep(utf8));
    t.itxt_length = utf8.size();
    t.lang = const_cast<char*>(store.Keep(language));
    t.lang_key = const_cast<char*>(store.Keep(translatedKey));
  } else {
    t.compression = compress ? PNG_TEXT_COMPRESSION_zTXt : PNG_TEXT_COMPRESSION_NONE;
    t.text = const_cast<char*>(store.Keep(latin1));
    t.text_length = latin1.size();
  }
  return t;
}

class PngWriter : public FormatWriter {
 public:
  explicit PngWriter(std::FILE* f) { context_.file = f; }

  bool Start(const ImageShape& shape, const ImageProperties& p, const WriteOptions& options,
             std::string* why) override {
    shape_ = shape;
    s_.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &context_, PngOnError, PngOnWarning);
    if (s_.png) s_.info = png_create_info_struct(s_.png);
    if (!s_.png || !s_.info) {
      *why = "not enough memory";
      return false;
    }
    png_set_write_fn(s_.png, &context_, PngWriteData, PngFlushData);
    // A metadata value libpng finds questionable (an ICC profile it does not
    // like, a gamma that disagrees with it) is dropped, not a failed write.
    png_set_benign_errors(s_.png, 1);
    PngHeader h{&shape_, &p, {}, {}};
    TextStore store;
    try {
      exif_.Prepare(p, shape, false, kMaxExifBytes, options.warnings);
      h.exif = exif_.bytes();
      for (const auto& [key, value] : PngKeywords(p.text)) h.texts.push_back(MakeText(store, key, value, false));
      const std::string xmp = WholeXmp(p, "PNG", options.warnings);
      if (!xmp.empty()) {
        // XMP is always an uncompressed iTXt chunk: readers find it by scanning.
        png_text t{};
        t.key = const_cast<char*>(store.Keep("XML:com.adobe.xmp"));
        t.compression = PNG_ITXT_COMPRESSION_NONE;
        t.text = const_cast<char*>(store.Keep(xmp));
        t.itxt_length = xmp.size();
        t.lang = t.lang_key = const_cast<char*>(store.Keep(""));
        h.texts.push_back(t);
      }
      const std::vector<uint8> resources = WithoutThumbnails(PhotoshopWithIptc(p.photoshop, p.iptc), options.warnings);
      if (HasResourcesBesidesIptc(resources)) {
        h.texts.push_back(MakeText(store, "Raw profile type iptc", RawProfile("8bim", resources), true));
      } else if (!p.iptc.empty()) {
        h.texts.push_back(MakeText(store, "Raw profile type iptc", RawProfile("iptc", p.iptc), true));
      }
      for (const PngText& t : p.pngText) {
        // A mapped keyword is here only as a date TIFF's form cannot hold.
        TextTags probe;
        if (TextTagForKey(probe, t.key) && (t.key != "Creation Time" || !p.text.dateTime.empty())) continue;
        const std::string utf8 = t.international ? t.text : Utf8FromLatin1(t.text);
        h.texts.push_back(MakeText(store, t.key, utf8, t.compressed, t.language, t.translatedKey, t.international));
      }
      NameSegmentsLeftOut(p, "PNG", options.warnings);
      if (!p.iccProfile.empty()) h.texts.push_back(MakeText(store, "Raw profile type icc", RawProfile("icc", p.iccProfile), true));
    } catch (const std::bad_alloc&) {
      *why = "not enough memory";
      return false;
    }
    bool iccRefused = false;
    context_.warning[0] = 0;
    if (!WriteHeader(s_.png, s_.info, &h, &iccRefused)) return Failed(why);
    if (iccRefused) {
      const std::string reason = context_.warning[0] ? OneLine(context_.warning) : "it does not suit the image";
      Warn(options.warnings, "libpng refuses the ICC profile (" + reason +
                                 "); it is kept as a \"Raw profile type icc\" text chunk, which viewers do not apply");
    }
    return true;
  }

  bool WriteRows(int32 y, int32 rows, const RowsIn& in, std::string* why) override {
    exif_.AddRows(y, rows, in);
    const bool direct = SameAsHost(shape_);
    if (!direct && scratch_.empty()) {
      try {
        scratch_.resize(FileRowBytes(shape_));
      } catch (const std::bad_alloc&) {
        *why = "not enough memory";
        return false;
      }
    }
    for (int32 r = 0; r < rows; ++r) {
      const uint8* row = in.ColourRow(r);
      if (!direct) {
        HostRowToFile(row, in.AlphaRow(r), shape_, scratch_.data());
        row = scratch_.data();
      }
      if (!WriteOneRow(s_.png, row)) return Failed(why);
    }
    return true;
  }

  bool Finish(std::string* why) override {
    if (!WriteEnd(s_.png)) return Failed(why);
    // The thumbnail made from the rows goes where the block kept room for it.
    std::vector<uint8> exif;
    if (exif_.Finish(&exif) && !PatchPngExif(context_.file, exif)) {
      *why = "cannot write the EXIF thumbnail: " + SystemError(errno);
      return false;
    }
    return true;
  }

 private:
  bool Failed(std::string* why) {
    *why = OneLine(context_.message);
    return false;
  }

  PngContext context_;
  WriteStructs s_;
  ImageShape shape_;
  std::vector<uint8> scratch_;
  ExifOutput exif_;
};

}  // namespace

std::unique_ptr<FormatWriter> NewPngWriter(std::FILE* f) { return std::make_unique<PngWriter>(f); }

}  // namespace io
}  // namespace host
