// Writing TIFF through libtiff, strip by strip as rows arrive.
//
// Strips hold about 256 KiB. Uncompressed strips whose rows the caller
// holds in one piece are written from the caller's memory; everything else
// is gathered into a strip buffer first (the codecs' predictors change the
// buffer they are given, and the caller's rows are not ours to change).
// The EXIF and GPS directories are laid out by us right after the header,
// where their offsets are known before libtiff writes anything else.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "imageio/io_support.h"
#include "imageio/metadata.h"
#include "imageio/tiff_common.h"

namespace host {
namespace io {
namespace {

bool Writable(uint16_t compression) {
  switch (compression) {
    case COMPRESSION_NONE:
    case COMPRESSION_LZW:
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
    case COMPRESSION_PACKBITS: return TIFFIsCODECConfigured(compression) != 0;
    default: return false;
  }
}

bool NativeBigEndian() {
  const uint16 one = 1;
  uint8 first;
  std::memcpy(&first, &one, 1);
  return first == 0;
}

class TiffWriter : public FormatWriter {
 public:
  explicit TiffWriter(std::FILE* f) {
    file_.file = f;
    file_.name = "TIFF";
  }

  bool Start(const ImageShape& shape, const ImageProperties& p, const WriteOptions&,
             std::string* why) override {
    shape_ = shape;
    h_.tif = OpenTiff(file_, "w");
    if (!h_.tif) {
      *why = TiffWriteFailed(file_, "cannot start the TIFF file");
      return false;
    }
    spp_ = FileSamples(shape);
    separate_ = p.format == ImageFormat::Tiff && p.tiff.separatePlanes && spp_ > 1;
    // What we read from a TIFF stays; anything else (other formats, a codec
    // we cannot write such as JPEG) becomes lossless deflate with a predictor.
    compression_ = p.tiff.compression;
    if (p.format != ImageFormat::Tiff || !Writable(compression_)) compression_ = COMPRESSION_ADOBE_DEFLATE;
    const size_t rowBytes = PlaneRowBytes();
    // Strips of about 256 KiB: small enough to stream, large enough to compress well.
    rowsPerStrip_ = uint32_t(std::max<size_t>(1, std::min<size_t>(size_t(shape.height), (256u << 10) / rowBytes)));
    stripsPerPlane_ = (uint32_t(shape.height) - 1) / rowsPerStrip_ + 1;
    try {
      if (!WriteExif(p, why)) return false;
      if (!WriteFields(p)) {
        *why = TiffWriteFailed(file_, "cannot set the TIFF fields");
        return false;
      }
      const int planes = separate_ ? spp_ : 1;
      strip_.resize(rowBytes * rowsPerStrip_ * size_t(planes));
    } catch (const std::bad_alloc&) {
      *why = "not enough memory";
      return false;
    }
    return true;
  }

  bool WriteRows(int32 y, int32 rows, const RowsIn& in, std::string* why) override {
    const size_t rowBytes = PlaneRowBytes();
    const bool raw = compression_ == COMPRESSION_NONE && !separate_ && SameAsHost(shape_) &&
                     in.colourStride == rowBytes;
    for (int32 r = 0; r < rows;) {
      const uint32_t row = uint32_t(y + r);
      const uint32_t strip = row / rowsPerStrip_;
      const uint32_t inStrip = row - strip * rowsPerStrip_;
      const uint32_t stripRows = std::min(rowsPerStrip_, uint32_t(shape_.height) - strip * rowsPerStrip_);
      if (raw && inStrip == 0 && int32(stripRows) <= rows - r) {
        // The caller's rows are the strip's bytes.
        if (TIFFWriteRawStrip(h_.tif, strip, const_cast<uint8*>(in.ColourRow(r)),
                              tmsize_t(rowBytes * stripRows)) < 0) {
          *why = TiffWriteFailed(file_, "cannot write the image data");
          return false;
        }
        r += int32(stripRows);
        continue;
      }
      if (separate_) {
        for (int p = 0; p < spp_; ++p) {
          HostPlaneToFile(in.ColourRow(r), in.AlphaRow(r), shape_, p,
                          strip_.data() + (size_t(p) * rowsPerStrip_ + inStrip) * rowBytes);
        }
      } else {
        HostRowToFile(in.ColourRow(r), in.AlphaRow(r), shape_, strip_.data() + size_t(inStrip) * rowBytes);
      }
      if (inStrip + 1 == stripRows && !FlushStrip(strip, stripRows, why)) return false;
      ++r;
    }
    return true;
  }

  bool Finish(std::string* why) override {
    if (!TIFFWriteDirectory(h_.tif)) {
      *why = TiffWriteFailed(file_, "cannot write the TIFF directory");
      return false;
    }
    TIFFClose(h_.tif);
    h_.tif = nullptr;
    // TIFFClose reports trouble only through the handlers.
    if (file_.messages.any || file_.writeError) {
      *why = TiffWriteFailed(file_, "cannot finish the TIFF file");
      return false;
    }
    return true;
  }

 private:
  size_t PlaneRowBytes() const {
    return size_t(shape_.width) * size_t(separate_ ? 1 : spp_) * size_t(shape_.SampleBytes());
  }

  bool FlushStrip(uint32_t strip, uint32_t rows, std::string* why) {
    const size_t rowBytes = PlaneRowBytes();
    const int planes = separate_ ? spp_ : 1;
    for (int p = 0; p < planes; ++p) {
      uint8* data = strip_.data() + size_t(p) * rowsPerStrip_ * rowBytes;
      if (TIFFWriteEncodedStrip(h_.tif, uint32_t(p) * stripsPerPlane_ + strip, data,
                                tmsize_t(rows * rowBytes)) < 0) {
        *why = TiffWriteFailed(file_, "cannot write the image data");
        return false;
      }
    }
    return true;
  }

  // The EXIF and GPS directories go right after the header, in this file's
  // byte order; the first directory points to them.
  bool WriteExif(const ImageProperties& p, std::string* why) {
    ExifBlock b;
    if (p.exif.empty() || !ParseExif(p.exif.data(), p.exif.size(), &b)) return true;
    make_ = b.Ascii(kTagMake);
    model_ = b.Ascii(kTagModel);
    exifOrientation_ = b.Short(kTagOrientation);
    if (b.exif.empty() && b.interop.empty() && b.gps.empty()) return true;
    const int64_t at = (FileSize(file_.file) + 1) & ~int64_t(1);
    if (at < 8 || at > 0x7fff0000) return true;
    uint32 exifAt = 0, gpsAt = 0;
    const std::vector<uint8> bytes = SerializeTiffSubIfds(b, uint32(at), NativeBigEndian(), &exifAt, &gpsAt);
    if (Seek(file_.file, at, SEEK_SET) != 0 ||
        std::fwrite(bytes.data(), 1, bytes.size(), file_.file) != bytes.size()) {
      *why = "write error: " + SystemError(errno);
      return false;
    }
    exifAt_ = exifAt;
    gpsAt_ = gpsAt;
    return true;
  }

  bool WriteFields(const ImageProperties& p) {
    TIFF* tif = h_.tif;
    const bool isFloat = shape_.depth == 32;
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(shape_.width)) &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(shape_.height)) &&
              TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(spp_)) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(shape_.depth)) &&
              TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, uint16_t(isFloat ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT)) &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                           uint16_t(shape_.planes == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB)) &&
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG,
                           uint16_t(separate_ ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG)) &&
              TIFFSetField(tif, TIFFTAG_COMPRESSION, compression_) &&
              TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip_) &&
              TIFFSetField(tif, TIFFTAG_SOFTWARE,
                           p.text.software.empty() ? "Kestrelle" : p.text.software.c_str());
    if (ok && TiffUsesPredictor(compression_)) {
      uint16_t predictor = p.format == ImageFormat::Tiff ? p.tiff.predictor : 0;
      const bool valid = predictor == PREDICTOR_NONE || predictor == PREDICTOR_HORIZONTAL ||
                         (predictor == PREDICTOR_FLOATINGPOINT && isFloat);
      if (!valid) predictor = isFloat ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL;
      ok = TIFFSetField(tif, TIFFTAG_PREDICTOR, predictor);
    }
    const uint16_t orientation = p.format == ImageFormat::Tiff ? p.tiff.orientation : exifOrientation_;
    if (ok && orientation >= 2 && orientation <= 8) ok = TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
    if (ok && shape_.alpha) {
      const uint16_t kind = p.alphaKind == AlphaKind::Premultiplied ? EXTRASAMPLE_ASSOCALPHA
                            : p.alphaKind == AlphaKind::Straight    ? EXTRASAMPLE_UNASSALPHA
                                                                    : EXTRASAMPLE_UNSPECIFIED;
      ok = TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), &kind);
    }
    if (ok && !p.iccProfile.empty()) {
      ok = TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(p.iccProfile.size()), p.iccProfile.data());
    }
    if (ok && !p.xmp.empty()) {
      ok = TIFFSetField(tif, TIFFTAG_XMLPACKET, uint32_t(p.xmp.size()), p.xmp.data());
    }
    if (ok && !p.iptc.empty()) {
      ok = TIFFSetField(tif, TIFFTAG_RICHTIFFIPTC, uint32_t(p.iptc.size()), p.iptc.data());
    }
    const std::pair<uint32_t, const std::string*> texts[] = {
        {TIFFTAG_IMAGEDESCRIPTION, &p.text.description}, {TIFFTAG_DATETIME, &p.text.dateTime},
        {TIFFTAG_ARTIST, &p.text.artist}, {TIFFTAG_COPYRIGHT, &p.text.copyright},
        {TIFFTAG_MAKE, &make_}, {TIFFTAG_MODEL, &model_}};
    for (const auto& [tag, value] : texts) {
      if (ok && !value->empty()) ok = TIFFSetField(tif, tag, value->c_str());
    }
    const Resolution& r = p.resolution;
    if (ok && r.present && r.x > 0 && r.y > 0) {
      const uint16_t unit = r.unit == ResolutionUnit::Inch         ? RESUNIT_INCH
                            : r.unit == ResolutionUnit::Centimetre ? RESUNIT_CENTIMETER
                                                                   : RESUNIT_NONE;
      ok = TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(r.x)) &&
           TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(r.y)) &&
           TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, unit);
    }
    if (ok && exifAt_ != 0) ok = TIFFSetField(tif, TIFFTAG_EXIFIFD, uint64_t(exifAt_));
    if (ok && gpsAt_ != 0) ok = TIFFSetField(tif, TIFFTAG_GPSIFD, uint64_t(gpsAt_));
    return ok;
  }

  TiffFile file_;
  TiffHandle h_;
  ImageShape shape_;
  int spp_ = 0;
  bool separate_ = false;
  uint16_t compression_ = COMPRESSION_NONE;
  uint32_t rowsPerStrip_ = 0, stripsPerPlane_ = 0;
  std::vector<uint8> strip_;
  std::string make_, model_;
  uint16 exifOrientation_ = 0;
  uint32 exifAt_ = 0, gpsAt_ = 0;
};

}  // namespace

std::unique_ptr<FormatWriter> NewTiffWriter(std::FILE* f) { return std::make_unique<TiffWriter>(f); }

}  // namespace io
}  // namespace host
