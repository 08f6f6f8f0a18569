// Writing JPEG through libjpeg-turbo, scanlines straight from the caller's
// rows. Baseline always (a progressive file needs the whole image in
// memory); the quality and chroma subsampling of a JPEG input are kept
// unless the caller asks for another quality. Metadata goes in the usual
// markers: EXIF and XMP in APP1, the ICC profile in APP2, Photoshop's
// resources (IPTC among them) in APP13, a comment in COM; a JPEG input's
// segments keep their places (imageio/jpeg_segments.h).
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "imageio/exif_output.h"
#include "imageio/io_support.h"
#include "imageio/jpeg_common.h"
#include "imageio/jpeg_segments.h"
#include "imageio/metadata.h"

namespace host {
namespace io {
namespace {

constexpr int kDefaultQuality = 92;
constexpr size_t kMaxMarkerBytes = kMaxSegmentBytes;

// What goes between the header and the image data, prepared beforehand so
// the function that owns the setjmp holds nothing that needs destroying.
struct JpegHeader {
  const ImageShape* shape;
  const ImageProperties* p;
  int quality;
  int lumaH, lumaV;
  bool jfif = true;
  int jfifMinor = 1;  // version 1.01 unless the input's said otherwise
  int densityUnit = -1;  // JFIF's: 0 aspect ratio, 1 per inch, 2 per cm; -1 none
  long densityX = 0, densityY = 0;
  std::vector<JpegMarker> markers;
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
  cinfo->write_JFIF_header = h->jfif ? TRUE : FALSE;
  cinfo->JFIF_minor_version = UINT8(h->jfifMinor);
  // An Adobe segment of the input is among the markers, in its place.
  cinfo->write_Adobe_marker = FALSE;
  jpeg_start_compress(cinfo, TRUE);
  for (const JpegMarker& m : h->markers) {
    jpeg_write_marker(cinfo, m.code, m.bytes.data(), unsigned(m.bytes.size()));
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
    JpegHeader h{&shape, &p, kDefaultQuality, 1, 1, true, 1, -1, 0, 0, {}};
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
    // A JPEG input's JFIF version and density stay as they were, and one
    // without JFIF stays without.
    h.jfif = JpegOutputHasJfif(p);
    JfifFields jfif;
    if (InputJfif(p, &jfif)) {
      h.jfifMinor = jfif.minorVersion;
      h.densityUnit = jfif.unit;
      h.densityX = jfif.x;
      h.densityY = jfif.y;
    } else {
      SetDensity(p.resolution, &h);
    }
    try {
      // The EXIF block was made to fit one segment (losing its thumbnail
      // first, left out only if it still does not fit).
      exif_.Prepare(p, shape, true, kMaxMarkerBytes - 6, options.warnings);
      const std::vector<uint8>& block = exif_.bytes();
      std::vector<uint8> exif;
      if (!block.empty() && block.size() + 6 <= kMaxMarkerBytes) {
        exif.resize(block.size() + 6);
        std::memcpy(exif.data(), "Exif\0", 6);
        std::memcpy(exif.data() + 6, block.data(), block.size());
      }
      h.markers = JpegOutputMarkers(p, exif, shape.planes, options.warnings);
      NamePngGammaLeftOut(p, "JPEG", options.warnings);
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
