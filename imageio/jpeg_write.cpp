// Writing JPEG through libjpeg-turbo, scanlines straight from the caller's
// rows. Baseline always (a progressive file needs the whole image in
// memory); the quality and chroma subsampling of a JPEG input are kept
// unless the caller asks for another quality. Metadata goes in the usual
// markers: EXIF and XMP in APP1, the ICC profile in APP2, IPTC in APP13,
// a comment in COM.
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "imageio/exif_output.h"
#include "imageio/io_support.h"
#include "imageio/jpeg_common.h"
#include "imageio/metadata.h"

namespace host {
namespace io {
namespace {

constexpr int kDefaultQuality = 92;
constexpr size_t kMaxMarkerBytes = 65533;  // a marker's length field counts itself

struct Marker {
  int code;
  std::vector<uint8> bytes;
};

// What goes between the header and the image data, prepared beforehand so
// the function that owns the setjmp holds nothing that needs destroying.
struct JpegHeader {
  const ImageShape* shape;
  const ImageProperties* p;
  int quality;
  int lumaH, lumaV;
  int densityUnit = -1;  // JFIF's: 0 aspect ratio, 1 per inch, 2 per cm; -1 none
  long densityX = 0, densityY = 0;
  std::vector<Marker> markers;
};

// JFIF holds whole numbers: per centimetre when the resolution is whole
// there, per inch otherwise (a PNG's 118.11 per cm is 300 per inch).
void SetDensity(const Resolution& r, JpegHeader* h) {
  if (!r.present || !(r.x > 0) || !(r.y > 0)) return;
  int unit = r.unit == ResolutionUnit::Inch ? 1 : r.unit == ResolutionUnit::Centimetre ? 2 : 0;
  double x = r.x, y = r.y;
  if (unit == 2 && (x != std::round(x) || y != std::round(y))) {
    unit = 1;
    x *= 2.54;
    y *= 2.54;
  }
  const long dx = std::lround(x), dy = std::lround(y);
  if (dx < 1 || dy < 1 || dx > 65535 || dy > 65535) return;
  h->densityUnit = unit;
  h->densityX = dx;
  h->densityY = dy;
}

bool StartCompress(JpegErrors* e, jpeg_compress_struct* cinfo, JpegDestination* destination,
                   bool* created, const JpegHeader* h) {
  if (setjmp(e->jump)) return false;
  jpeg_create_compress(cinfo);
  *created = true;
  InitJpegDestination(cinfo, *destination);
  const ImageShape& s = *h->shape;
  cinfo->image_width = JDIMENSION(s.width);
  cinfo->image_height = JDIMENSION(s.height);
  cinfo->input_components = s.planes;
  cinfo->in_color_space = s.planes == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, h->quality, TRUE);
  cinfo->dct_method = JDCT_ISLOW;
  if (s.planes == 3) {
    cinfo->comp_info[0].h_samp_factor = h->lumaH;
    cinfo->comp_info[0].v_samp_factor = h->lumaV;
    for (int c = 1; c < 3; ++c) cinfo->comp_info[c].h_samp_factor = cinfo->comp_info[c].v_samp_factor = 1;
  }
  if (h->densityUnit >= 0) {
    cinfo->density_unit = UINT8(h->densityUnit);
    cinfo->X_density = UINT16(h->densityX);
    cinfo->Y_density = UINT16(h->densityY);
  }
  jpeg_start_compress(cinfo, TRUE);
  for (const Marker& m : h->markers) {
    jpeg_write_marker(cinfo, m.code, m.bytes.data(), unsigned(m.bytes.size()));
  }
  if (!h->p->iccProfile.empty()) {
    jpeg_write_icc_profile(cinfo, h->p->iccProfile.data(), unsigned(h->p->iccProfile.size()));
  }
  return true;
}

bool WriteLines(JpegErrors* e, jpeg_compress_struct* cinfo, JSAMPARRAY rows, JDIMENSION count) {
  if (setjmp(e->jump)) return false;
  JDIMENSION done = 0;
  while (done < count) {
    const JDIMENSION n = jpeg_write_scanlines(cinfo, rows + done, count - done);
    if (n == 0) return false;
    done += n;
  }
  return true;
}

bool FinishCompress(JpegErrors* e, jpeg_compress_struct* cinfo) {
  if (setjmp(e->jump)) return false;
  jpeg_finish_compress(cinfo);
  return true;
}

std::vector<uint8> Named(const char* name, size_t nameBytes, const uint8* data, size_t size) {
  std::vector<uint8> out(name, name + nameBytes);
  out.insert(out.end(), data, data + size);
  return out;
}

// The markers that fit. The EXIF block was made to fit one marker (losing
// its thumbnail first, left out only if it still does not fit).
std::vector<Marker> MetadataMarkers(const ImageProperties& p, const std::vector<uint8>& exif) {
  std::vector<Marker> markers;
  if (!exif.empty() && exif.size() + 6 <= kMaxMarkerBytes) {
    markers.push_back({JPEG_APP0 + 1, Named("Exif\0", 6, exif.data(), exif.size())});
  }
  static const char kXmp[] = "http://ns.adobe.com/xap/1.0/";
  if (!p.xmp.empty() && p.xmp.size() + sizeof kXmp <= kMaxMarkerBytes) {
    markers.push_back({JPEG_APP0 + 1, Named(kXmp, sizeof kXmp, reinterpret_cast<const uint8*>(p.xmp.data()),
                                            p.xmp.size())});
  }
  if (!p.iptc.empty()) {
    static const char kPhotoshop[] = "Photoshop 3.0";
    const std::vector<uint8> resources = PhotoshopFromIptc(p.iptc);
    if (resources.size() + sizeof kPhotoshop <= kMaxMarkerBytes) {
      markers.push_back({JPEG_APP0 + 13, Named(kPhotoshop, sizeof kPhotoshop, resources.data(), resources.size())});
    }
  }
  for (const PngText& t : p.pngText) {
    if (t.key != "Comment" || t.text.empty()) continue;
    const std::string text = t.international ? t.text : Utf8FromLatin1(t.text);
    if (text.size() <= kMaxMarkerBytes) {
      markers.push_back({JPEG_COM, std::vector<uint8>(text.begin(), text.end())});
    }
  }
  return markers;
}

class JpegWriter : public FormatWriter {
 public:
  explicit JpegWriter(std::FILE* f) {
    destination_.file = f;
    destination_.errors = &errors_;
    cinfo_.err = InitJpegErrors(errors_);
  }
  ~JpegWriter() override {
    if (created_) jpeg_destroy_compress(&cinfo_);
  }

  bool Start(const ImageShape& shape, const ImageProperties& p, const WriteOptions& options,
             std::string* why) override {
    const bool fromJpeg = p.format == ImageFormat::Jpeg;
    JpegHeader h{&shape, &p, kDefaultQuality, 1, 1, -1, 0, 0, {}};
    if (options.quality > 0) {
      h.quality = options.quality;
    } else if (fromJpeg && p.jpeg.quality >= 1 && p.jpeg.quality <= 100) {
      h.quality = p.jpeg.quality;
    }
    if (fromJpeg && p.jpeg.lumaH >= 1 && p.jpeg.lumaH <= 4 && p.jpeg.lumaV >= 1 && p.jpeg.lumaV <= 4) {
      h.lumaH = p.jpeg.lumaH;
      h.lumaV = p.jpeg.lumaV;
    } else if (h.quality < 90) {
      // Halved chroma both ways below quality 90, as other tools do; above
      // it the chroma detail is worth its bytes.
      h.lumaH = h.lumaV = 2;
    }
    SetDensity(p.resolution, &h);
    try {
      exif_.Prepare(p, shape, true, kMaxMarkerBytes - 6, options.warnings);
      h.markers = MetadataMarkers(p, exif_.bytes());
    } catch (const std::bad_alloc&) {
      *why = "not enough memory";
      return false;
    }
    if (!StartCompress(&errors_, &cinfo_, &destination_, &created_, &h)) return Failed(why);
    return true;
  }

  bool WriteRows(int32 y, int32 rows, const RowsIn& in, std::string* why) override {
    pointers_.resize(size_t(rows));
    // libjpeg takes rows it does not change through non-const pointers.
    for (int32 r = 0; r < rows; ++r) pointers_[size_t(r)] = const_cast<JSAMPROW>(in.ColourRow(r));
    if (!WriteLines(&errors_, &cinfo_, pointers_.data(), JDIMENSION(rows))) return Failed(why);
    exif_.AddRows(y, rows, in);
    return true;
  }

  bool Finish(std::string* why) override {
    if (!FinishCompress(&errors_, &cinfo_)) return Failed(why);
    // The thumbnail made from the rows goes where the block kept room for it.
    std::vector<uint8> exif;
    if (exif_.Finish(&exif) && !PatchJpegExif(destination_.file, exif)) {
      *why = "cannot write the EXIF thumbnail: " + SystemError(errno);
      return false;
    }
    return true;
  }

 private:
  bool Failed(std::string* why) {
    *why = JpegMessage(errors_);
    if (why->empty()) *why = "cannot write the JPEG data";
    return false;
  }

  JpegErrors errors_;
  JpegDestination destination_;
  jpeg_compress_struct cinfo_{};
  bool created_ = false;
  std::vector<JSAMPROW> pointers_;
  ExifOutput exif_;
};

}  // namespace

std::unique_ptr<FormatWriter> NewJpegWriter(std::FILE* f) { return std::make_unique<JpegWriter>(f); }

}  // namespace io
}  // namespace host
