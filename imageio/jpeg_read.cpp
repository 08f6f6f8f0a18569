// Reading JPEG through libjpeg-turbo, scanlines straight into the caller's
// rows. Greyscale comes out grey, YCbCr and RGB as RGB; CMYK and YCCK (and
// anything else) are refused rather than misread. Progressive and
// multi-scan files are buffered inside libjpeg, as their layout requires.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jerror.h>

#include "files/utf8.h"
#include "imageio/io_support.h"
#include "imageio/jpeg_common.h"
#include "imageio/jpeg_segments.h"
#include "imageio/metadata.h"

namespace host {
namespace io {
namespace {

const char kXmpName[] = "http://ns.adobe.com/xap/1.0/";

// Functions that own the setjmp hold only plain locals.
bool StartHeader(JpegErrors* e, jpeg_decompress_struct* cinfo, JpegSource* source, bool* created) {
  if (setjmp(e->jump)) return false;
  jpeg_create_decompress(cinfo);
  *created = true;
  InitJpegSource(cinfo, *source);
  // Every APPn and COM segment, whole: a JPEG output writes them again.
  for (int app = 0; app < 16; ++app) jpeg_save_markers(cinfo, JPEG_APP0 + app, 0xffff);
  jpeg_save_markers(cinfo, JPEG_COM, 0xffff);
  jpeg_read_header(cinfo, TRUE);
  return true;
}

bool ReadIcc(JpegErrors* e, jpeg_decompress_struct* cinfo, JOCTET** data, unsigned* length) {
  if (setjmp(e->jump)) return false;
  return jpeg_read_icc_profile(cinfo, data, length) != 0;
}

bool StartDecompress(JpegErrors* e, jpeg_decompress_struct* cinfo) {
  if (setjmp(e->jump)) return false;
  jpeg_start_decompress(cinfo);
  return true;
}

bool ReadLines(JpegErrors* e, jpeg_decompress_struct* cinfo, JSAMPARRAY rows, JDIMENSION count) {
  if (setjmp(e->jump)) return false;
  JDIMENSION done = 0;
  while (done < count) {
    const JDIMENSION n = jpeg_read_scanlines(cinfo, rows + done, count - done);
    if (n == 0) return false;
    done += n;
  }
  return true;
}

class JpegReader : public FormatReader {
 public:
  JpegReader(std::FILE* f, int64_t fileSize) : fileSize_(fileSize) {
    source_.file = f;
    source_.errors = &errors_;
    cinfo_.err = InitJpegErrors(errors_);
  }
  ~JpegReader() override {
    if (created_) jpeg_destroy_decompress(&cinfo_);
  }

  bool ReadHeader(ImageShape& shape, ImageProperties& p, std::string* why) override {
    if (!StartHeader(&errors_, &cinfo_, &source_, &created_)) return Failed(why);
    int planes = 0;
    switch (cinfo_.jpeg_color_space) {
      case JCS_GRAYSCALE:
        planes = 1;
        cinfo_.out_color_space = JCS_GRAYSCALE;
        break;
      case JCS_YCbCr:
      case JCS_RGB:
        planes = 3;
        cinfo_.out_color_space = JCS_RGB;
        break;
      case JCS_CMYK:
      case JCS_YCCK:
        *why = "CMYK JPEGs are not supported (only greyscale and RGB)";
        return false;
      default:
        *why = "JPEGs with " + std::to_string(cinfo_.num_components) +
               " colour components of this kind are not supported (only greyscale and RGB)";
        return false;
    }
    if (!CheckShape(cinfo_.image_width, cinfo_.image_height, planes, 1, why)) return false;
    if (!cinfo_.arith_code) {
      // Huffman coding spends at least one bit on every MCU.
      const uint64_t mcuPixels = uint64_t(8 * cinfo_.max_h_samp_factor) * uint64_t(8 * cinfo_.max_v_samp_factor);
      const uint64_t raw = uint64_t(cinfo_.image_width) * cinfo_.image_height * uint64_t(planes);
      if (!CheckFileHoldsImage("JPEG", fileSize_, raw, 8 * mcuPixels * uint64_t(planes) + 1,
                               cinfo_.image_width, cinfo_.image_height, why)) {
        return false;
      }
    }
    shape.width = int32(cinfo_.image_width);
    shape.height = int32(cinfo_.image_height);
    shape.planes = int16(planes);
    shape.depth = 8;
    shape.alpha = false;
    p.format = ImageFormat::Jpeg;
    p.alphaKind = AlphaKind::Straight;
    p.jpeg.quality = EstimateJpegQuality(cinfo_.quant_tbl_ptrs[0], planes == 3 ? cinfo_.quant_tbl_ptrs[1] : nullptr);
    p.jpeg.progressive = cinfo_.progressive_mode != 0;
    if (planes == 3) {
      p.jpeg.lumaH = uint8(cinfo_.comp_info[0].h_samp_factor);
      p.jpeg.lumaV = uint8(cinfo_.comp_info[0].v_samp_factor);
    }
    ReadMarkers(p);
    JOCTET* icc = nullptr;
    unsigned iccLength = 0;
    if (ReadIcc(&errors_, &cinfo_, &icc, &iccLength) && icc && iccLength > 0) {
      p.iccProfile.assign(icc, icc + iccLength);
    }
    std::free(icc);
    const bool iccSegments = std::any_of(p.jpegSegments.begin(), p.jpegSegments.end(),
                                         [](const JpegSegment& s) { return KindOf(s) == SegmentKind::Icc; });
    if (iccSegments && p.iccProfile.empty()) {
      Warn(&warnings, "the ICC profile's APP2 segments are damaged or incomplete; the profile is not kept");
    }
    errors_.message[0] = 0;
    cinfo_.dct_method = JDCT_ISLOW;
    if (!StartDecompress(&errors_, &cinfo_)) return Failed(why);
    return true;
  }

  bool ReadRows(int32, int32 rows, const RowsOut& out, std::string* why) override {
    pointers_.resize(size_t(rows));
    for (int32 r = 0; r < rows; ++r) pointers_[size_t(r)] = out.ColourRow(r);
    if (!ReadLines(&errors_, &cinfo_, pointers_.data(), JDIMENSION(rows))) return Failed(why);
    return true;
  }

 private:
  bool Failed(std::string* why) {
    const std::string text = JpegMessage(errors_);
    const int code = errors_.manager.msg_code;
    if (errors_.ioError) {
      *why = text;
    } else if (code == JERR_BAD_PRECISION) {
      // 12- and 16-bit JPEGs are sound files we do not read, not damaged ones.
      *why = std::to_string(errors_.manager.msg_parm.i[0]) + "-bit JPEGs are not supported (only 8-bit)";
    } else if (code == JERR_SOF_UNSUPPORTED || code == JERR_ARITH_NOTIMPL || code == JERR_NOT_COMPILED) {
      *why = "this kind of JPEG is not supported (" + text + ")";
    } else {
      *why = "damaged JPEG: " + (text.empty() ? std::string("unreadable data") : text);
    }
    return false;
  }

  void ReadMarkers(ImageProperties& p) {
    for (jpeg_marker_struct* m = cinfo_.marker_list; m; m = m->next) {
      p.jpegSegments.push_back({uint8(m->marker), std::vector<uint8>(m->data, m->data + m->data_length)});
      const JpegSegment& s = p.jpegSegments.back();
      const SegmentKind kind = KindOf(s);
      if (kind == SegmentKind::Exif && p.exif.empty()) {
        p.exif.assign(m->data + 6, m->data + m->data_length);
      } else if (kind == SegmentKind::Xmp && p.xmp.empty()) {
        p.xmp.assign(reinterpret_cast<const char*>(m->data) + sizeof kXmpName, m->data_length - sizeof kXmpName);
      } else if (kind == SegmentKind::Comment && m->data_length > 0) {
        // The bytes as they are: UTF-8 when they are (what most programs
        // write now), otherwise taken for Latin-1, as is plain ASCII.
        std::string text(reinterpret_cast<const char*>(m->data), m->data_length);
        const bool utf8 = !IsAscii(text) && files::IsUtf8(text);
        p.pngText.push_back({"Comment", std::move(text), utf8, false, "", ""});
      }
    }
    p.photoshop = PhotoshopFromSegments(p.jpegSegments);
    p.iptc = IptcFromPhotoshop(p.photoshop.data(), p.photoshop.size());
    TextFromExif(p.exif, &p.text);
    if (cinfo_.saw_JFIF_marker && cinfo_.X_density > 0 && cinfo_.Y_density > 0 &&
        !(cinfo_.density_unit == 0 && cinfo_.X_density == cinfo_.Y_density)) {
      p.resolution.present = true;
      p.resolution.unit = cinfo_.density_unit == 1   ? ResolutionUnit::Inch
                          : cinfo_.density_unit == 2 ? ResolutionUnit::Centimetre
                                                     : ResolutionUnit::None;
      p.resolution.x = cinfo_.X_density;
      p.resolution.y = cinfo_.Y_density;
    } else {
      // Without JFIF density the camera's EXIF resolution is the one there is.
      ExifBlock b;
      double x = 0, y = 0;
      if (!p.exif.empty() && ParseExif(p.exif.data(), p.exif.size(), &b) &&
          b.Rational(kTagXResolution, &x) && b.Rational(kTagYResolution, &y) && x > 0 && y > 0) {
        const uint16 unit = b.Short(kTagResolutionUnit);
        p.resolution.present = true;
        p.resolution.unit = unit == 3 ? ResolutionUnit::Centimetre : unit == 1 ? ResolutionUnit::None
                                                                               : ResolutionUnit::Inch;
        p.resolution.x = x;
        p.resolution.y = y;
      }
    }
  }

  JpegErrors errors_;
  JpegSource source_;
  jpeg_decompress_struct cinfo_{};
  bool created_ = false;
  int64_t fileSize_;
  std::vector<JSAMPROW> pointers_;
};

}  // namespace

std::unique_ptr<FormatReader> NewJpegReader(std::FILE* f, int64_t fileSize) {
  return std::make_unique<JpegReader>(f, fileSize);
}

}  // namespace io
}  // namespace host
