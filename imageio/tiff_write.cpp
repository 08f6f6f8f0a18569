// Writing TIFF through libtiff, strip by strip as rows arrive.
//
// Strips hold about 256 KiB. Uncompressed strips whose rows the caller
// holds in one piece are written from the caller's memory; everything else
// is gathered into a strip buffer first (the codecs' predictors change the
// buffer they are given, and the caller's rows are not ours to change).
// The EXIF and GPS directories are laid out by us right after the header,
// where their offsets are known before libtiff writes anything else, and
// where a camera's maker note can keep the offset it had from its TIFF
// header. Once libtiff has written its directory, we write the first
// directory again with the EXIF block's other IFD0 tags (XP tags, white
// point, ... which libtiff has no fields for) and a thumbnail made from the
// rows as a second directory, as EXIF lays them out.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "imageio/exif_output.h"
#include "imageio/byte_order.h"
#include "imageio/io_support.h"
#include "imageio/jpeg_segments.h"
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


// IFD0 tags of an EXIF block that we set through libtiff ourselves (text,
// camera, orientation) or that it writes for the pixels.
bool SetThroughLibtiff(uint16 tag) {
  switch (tag) {
    case kTagImageDescription: case kTagMake: case kTagModel: case kTagOrientation: case kTagSoftware:
    case kTagDateTime: case kTagArtist: case kTagCopyright: case kTagXResolution: case kTagYResolution:
    case kTagResolutionUnit:
      return true;
    default:
      return IsTiffLayoutTag(tag);
  }
}

// A maker note further than this from the header moves rather than leave
// that much padding in the file.
constexpr size_t kMaxExifRegion = size_t(1) << 20;

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

  bool Start(const ImageShape& shape, const ImageProperties& p, const WriteOptions& options,
             std::string* why) override {
    shape_ = shape;
    warnings_ = options.warnings;
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
      if (!WriteExif(p, shape, options, why)) return false;
      NameLeftOut(p, options.warnings);
      if (!WriteFields(p, options.warnings)) {
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
    if (thumbnail_.planned()) thumbnail_.AddRows(y, rows, in);
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
    return RewriteFirstDirectory(why);
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
  // byte order; the first directory points to them. The EXIF block's other
  // IFD0 tags wait for the first directory to be written again.
  bool WriteExif(const ImageProperties& p, const ImageShape& shape, const WriteOptions& options,
                 std::string* why) {
    ExifBlock b;
    if (p.exif.empty() || !ParseExif(p.exif.data(), p.exif.size(), &b)) return true;
    make_ = b.Ascii(kTagMake);
    model_ = b.Ascii(kTagModel);
    exifOrientation_ = b.Short(kTagOrientation);
    exifBigEndian_ = b.bigEndian;
    // A camera's JPEG states its resolution in EXIF (JFIF's is often a
    // default); a PNG's or TIFF's own is in the properties already.
    exifResolution_ = p.format == ImageFormat::Jpeg && b.ifd0.Find(kTagXResolution) &&
                      b.ifd0.Find(kTagYResolution);
    for (const ExifEntry& e : b.ifd0.entries) {
      const bool resolution = e.tag == kTagXResolution || e.tag == kTagYResolution || e.tag == kTagResolutionUnit;
      if ((resolution && exifResolution_) || !SetThroughLibtiff(e.tag)) extra_.push_back(e);
    }
    orientationTagged_ = b.ifd0.Find(kTagOrientation) != nullptr;
    ifd1_ = b.ifd1;
    if (!b.thumbnail.empty() && !thumbnail_.Plan(b.thumbnail, shape)) Warn(options.warnings, kUnreadableThumbnail);
    if (DropsUnreadThumbnail(p.exif, b)) Warn(options.warnings, kUnreadThumbnail);
    if (b.exif.empty() && b.interop.empty() && b.gps.empty()) return true;
    const int64_t at = (FileSize(file_.file) + 1) & ~int64_t(1);
    if (at < 8 || at > 0x7fff0000) return true;
    uint32 exifAt = 0, gpsAt = 0;
    bool kept = true;
    const std::vector<uint8> bytes =
        SerializeTiffSubIfds(b, uint32(at), NativeBigEndian(), &exifAt, &gpsAt, &kept, kMaxExifRegion);
    if (!kept) {
      Warn(options.warnings, "the camera's maker note could not keep its offset from the TIFF header; values "
                             "the camera addresses from there may read wrongly");
    }
    if (Seek(file_.file, at, SEEK_SET) != 0 ||
        std::fwrite(bytes.data(), 1, bytes.size(), file_.file) != bytes.size()) {
      *why = "write error: " + SystemError(errno);
      return false;
    }
    exifAt_ = exifAt;
    gpsAt_ = gpsAt;
    return true;
  }

  // libtiff's first directory again, at the end of the file, with the
  // extra IFD0 entries merged in by tag and, when there is a thumbnail, a
  // second directory for it; the header then points to the new one.
  bool RewriteFirstDirectory(std::string* why) {
    if (extra_.empty() && !thumbnail_.planned()) return true;
    std::FILE* f = file_.file;
    uint8 header[8], count[2];
    if (!ReadExactly(f, 0, header, 8)) return Failed(why);
    const bool be = header[0] == 'M';
    const uint32 ifd0 = Get32(header + 4, be);
    if (!ReadExactly(f, ifd0, count, 2)) return Failed(why);
    const size_t n = Get16(count, be);
    std::vector<uint8> records(n * 12);
    if (!ReadExactly(f, int64_t(ifd0) + 2, records.data(), records.size())) return Failed(why);
    const int64_t end = (FileSize(f) + 1) & ~int64_t(1);
    std::vector<ExifEntry> extra;
    for (const ExifEntry& e : extra_) {
      bool written = false;
      for (size_t i = 0; i < n && !written; ++i) written = Get16(&records[i * 12], be) == e.tag;
      if (!written) extra.push_back(e);
    }
    const std::vector<uint8> jpeg = thumbnail_.planned() ? thumbnail_.Encode(uint32(kMaxExifRegion)) : std::vector<uint8>();
    const uint64_t dirBytes = 2 + (n + extra.size()) * 12 + 4;
    if (end < 8 || uint64_t(end) + dirBytes + (uint64_t(64) << 20) > 0xffffffffu) {
      if (!extra.empty() || !jpeg.empty()) {
        Warn(warnings_, "the file is too large for the EXIF tags libtiff does not write and the thumbnail; they "
                        "were left out");
      }
      return true;
    }
    const uint32 at = uint32(end);
    std::vector<uint8> data;
    const std::vector<uint8> extraRecords =
        SerializeIfdEntries(extra, exifBigEndian_, uint32(at + dirBytes), be, &data);
    // Every record, by tag.
    std::vector<const uint8*> all;
    for (size_t i = 0; i < n; ++i) all.push_back(&records[i * 12]);
    for (size_t i = 0; i < extra.size(); ++i) all.push_back(&extraRecords[i * 12]);
    std::stable_sort(all.begin(), all.end(), [be](const uint8* a, const uint8* b) { return Get16(a, be) < Get16(b, be); });
    std::vector<uint8> out(size_t(dirBytes), 0);
    Put16(out.data(), uint16(all.size()), be);
    for (size_t i = 0; i < all.size(); ++i) std::memcpy(&out[2 + i * 12], all[i], 12);
    out.insert(out.end(), data.begin(), data.end());
    if (out.size() % 2) out.push_back(0);
    if (!jpeg.empty()) {
      // As EXIF's IFD1: a reduced picture, its JPEG first, then the
      // directory addressing it with the old one's other tags.
      const uint32 thumbAt = at + uint32(out.size());
      out.insert(out.end(), jpeg.begin(), jpeg.end());
      if (out.size() % 2) out.push_back(0);
      const uint32 ifd1 = at + uint32(out.size());
      Put32(&out[2 + all.size() * 12], ifd1, be);
      const bool src = exifBigEndian_;
      ExifIfd dir = ifd1_;
      dir.Put(OneNumber(0x00fe, kTypeLong, 1, src));  // a reduced picture
      dir.Put(OneNumber(0x0100, kTypeLong, uint32(thumbnail_.width()), src));
      dir.Put(OneNumber(0x0101, kTypeLong, uint32(thumbnail_.height()), src));
      dir.Put(OneNumber(0x0103, kTypeShort, 6, src));  // JPEG
      dir.Put(OneNumber(kTagThumbnailOffset, kTypeLong, thumbAt, src));
      dir.Put(OneNumber(kTagThumbnailLength, kTypeLong, uint32(jpeg.size()), src));
      const uint32 ifd1Bytes = uint32(2 + dir.entries.size() * 12 + 4);
      std::vector<uint8> values;
      const std::vector<uint8> ifd1Records = SerializeIfdEntries(dir.entries, src, ifd1 + ifd1Bytes, be, &values);
      std::vector<uint8> d(ifd1Bytes, 0);
      Put16(d.data(), uint16(dir.entries.size()), be);
      std::memcpy(&d[2], ifd1Records.data(), ifd1Records.size());
      out.insert(out.end(), d.begin(), d.end());
      out.insert(out.end(), values.begin(), values.end());
    } else if (thumbnail_.planned()) {
      Warn(warnings_, "the EXIF thumbnail could not be made again; it was left out");
    }
    uint8 link[4];
    Put32(link, at, be);
    if (Seek(f, at, SEEK_SET) != 0 || std::fwrite(out.data(), 1, out.size(), f) != out.size() ||
        Seek(f, 4, SEEK_SET) != 0 || std::fwrite(link, 1, 4, f) != 4 || Seek(f, 0, SEEK_END) != 0) {
      *why = "write error: " + SystemError(errno);
      return false;
    }
    return true;
  }

  bool Failed(std::string* why) {
    *why = "cannot read back the TIFF directory: " + SystemError(errno);
    return false;
  }

  // What TIFF has no tag for: text other than the five tags, comments among
  // it, and a JPEG's segments of its own.
  static void NameLeftOut(const ImageProperties& p, std::vector<std::string>* warnings) {
    for (const PngText& t : p.pngText) {
      Warn(warnings, "TIFF has no place for " + (t.key == "Comment" ? std::string("the comment") : "the text \"" + t.key + "\"") +
                         "; it is dropped");
    }
    NameSegmentsLeftOut(p, "TIFF", warnings);
    NamePngGammaLeftOut(p, "TIFF", warnings);
  }

  bool WriteFields(const ImageProperties& p, std::vector<std::string>* warnings) {
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
    // Orientation 1 is the default, written only when the input stated it.
    if (ok && ((orientation >= 2 && orientation <= 8) || (orientation == 1 && orientationTagged_))) ok = TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
    if (ok && shape_.alpha) {
      const uint16_t kind = p.alphaKind == AlphaKind::Premultiplied ? EXTRASAMPLE_ASSOCALPHA
                            : p.alphaKind == AlphaKind::Straight    ? EXTRASAMPLE_UNASSALPHA
                                                                    : EXTRASAMPLE_UNSPECIFIED;
      ok = TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), &kind);
    }
    if (ok && !p.iccProfile.empty()) {
      ok = TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(p.iccProfile.size()), p.iccProfile.data());
    }
    const std::string xmp = WholeXmp(p, "TIFF", warnings);
    if (ok && !xmp.empty()) {
      ok = TIFFSetField(tif, TIFFTAG_XMLPACKET, uint32_t(xmp.size()), xmp.data());
    }
    if (ok && !p.iptc.empty()) {
      ok = TIFFSetField(tif, TIFFTAG_RICHTIFFIPTC, uint32_t(p.iptc.size()), p.iptc.data());
    }
    // Photoshop's other resources, when the input had them; IPTC has its
    // own tag above, and a second copy would only drift from it.
    if (ok && !p.photoshop.empty()) {
      const std::vector<uint8> resources = WithoutThumbnails(PhotoshopWithIptc(p.photoshop, {}), warnings);
      if (!resources.empty()) ok = TIFFSetField(tif, TIFFTAG_PHOTOSHOP, uint32_t(resources.size()), resources.data());
    }
    const std::pair<uint32_t, const std::string*> texts[] = {
        {TIFFTAG_IMAGEDESCRIPTION, &p.text.description}, {TIFFTAG_DATETIME, &p.text.dateTime},
        {TIFFTAG_ARTIST, &p.text.artist}, {TIFFTAG_COPYRIGHT, &p.text.copyright},
        {TIFFTAG_MAKE, &make_}, {TIFFTAG_MODEL, &model_}};
    for (const auto& [tag, value] : texts) {
      if (ok && !value->empty()) ok = TIFFSetField(tif, tag, value->c_str());
    }
    const Resolution& r = p.resolution;
    if (ok && !exifResolution_ && r.present && r.x > 0 && r.y > 0) {
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
  bool exifBigEndian_ = false;
  bool exifResolution_ = false;
  std::vector<ExifEntry> extra_;  // IFD0 entries libtiff does not write
  ExifIfd ifd1_;                  // the old thumbnail's directory: its tags describe the new one too
  bool orientationTagged_ = false;
  ThumbnailMaker thumbnail_;
  std::vector<std::string>* warnings_ = nullptr;
};

}  // namespace

std::unique_ptr<FormatWriter> NewTiffWriter(std::FILE* f) { return std::make_unique<TiffWriter>(f); }

}  // namespace io
}  // namespace host
