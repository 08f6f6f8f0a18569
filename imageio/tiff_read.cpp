// Reading TIFF through libtiff, a band of rows at a time.
//
// Uncompressed strips, the common case for large files, are read straight
// from the file into the caller's rows. Compressed strips are decoded one at
// a time (straight into the caller's rows when a whole strip fits), or line
// by line when a strip is too big to hold; tiles a row of tiles at a time.
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

// A compressed strip larger than this is decoded line by line instead.
constexpr size_t kMaxStripBuffer = size_t(64) << 20;

const char* PhotometricName(uint16_t photometric) {
  switch (photometric) {
    case PHOTOMETRIC_MINISWHITE: return "white-is-zero greyscale";
    case PHOTOMETRIC_PALETTE: return "palette colour";
    case PHOTOMETRIC_MASK: return "transparency mask";
    case PHOTOMETRIC_SEPARATED: return "CMYK";
    case PHOTOMETRIC_YCBCR: return "YCbCr";
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB: return "Lab";
    default: return nullptr;
  }
}

// The most raw bytes one compressed byte can become, for the codecs whose
// best is known (LZW's is bounded by its 4096-entry table); 0: unknown.
uint64_t MaxRatio(uint16_t compression) {
  switch (compression) {
    case COMPRESSION_NONE: return 1;
    case COMPRESSION_PACKBITS: return 64;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return 1032;
    case COMPRESSION_LZW: return 4096;
    default: return 0;
  }
}

// Pages, not counting reduced-resolution images (thumbnails and previews).
int CountPages(TIFF* tif) {
  const tdir_t directories = TIFFNumberOfDirectories(tif);
  if (directories <= 1) return int(directories);
  int pages = 0;
  for (tdir_t d = 0; d < directories; ++d) {
    if (!TIFFSetDirectory(tif, d)) break;
    uint32_t kind = 0;
    TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &kind);
    if (!(kind & FILETYPE_REDUCEDIMAGE)) ++pages;
  }
  TIFFSetDirectory(tif, 0);
  return pages;
}

void Swap32(uint8* p, size_t count) {
  for (size_t i = 0; i < count; ++i, p += 4) {
    std::swap(p[0], p[3]);
    std::swap(p[1], p[2]);
  }
}

std::string TextField(TIFF* tif, uint32_t tag) {
  const char* text = nullptr;
  if (!TIFFGetField(tif, tag, &text) || !text) return {};
  return text;
}

class TiffReader : public FormatReader {
 public:
  TiffReader(std::FILE* f, const std::string& name, int64_t fileSize) : fileSize_(fileSize) {
    file_.file = f;
    file_.name = name;
  }

  bool ReadHeader(ImageShape& shape, ImageProperties& p, std::string* why) override {
    h_.tif = OpenTiff(file_, "r");
    if (!h_.tif) {
      *why = file_.messages.used > 0 ? "damaged TIFF: " + TiffText(file_)
                                     : "damaged TIFF: cannot read the header";
      return false;
    }
    TIFF* tif = h_.tif;
    const int pages = CountPages(tif);
    if (pages > 1) {
      *why = "the TIFF has " + std::to_string(pages) +
             " pages; only single-page TIFFs can be read (split it into one file per page first)";
      return false;
    }
    uint32_t width = 0, height = 0;
    uint16_t spp = 1, bits = 1, format = SAMPLEFORMAT_UINT, photometric = 0;
    uint16_t planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
    uint16_t predictor = PREDICTOR_NONE, orientation = ORIENTATION_TOPLEFT;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height)) {
      *why = TiffDamaged(file_, "no image size");
      return false;
    }
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) {
      *why = TiffDamaged(file_, "no photometric interpretation");
      return false;
    }
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    // Only the codecs that have one answer for the predictor; asking any
    // other is an error (or worse, reads another codec's state).
    if (TiffUsesPredictor(compression)) TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &predictor);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);

    int colours = 0;
    if (photometric == PHOTOMETRIC_MINISBLACK) {
      colours = 1;
    } else if (photometric == PHOTOMETRIC_RGB) {
      colours = 3;
    } else {
      const char* what = PhotometricName(photometric);
      *why = what ? std::string(what) + " TIFFs are not supported (only greyscale and RGB)"
                  : "TIFF photometric interpretation " + std::to_string(photometric) +
                        " is not supported (only greyscale and RGB)";
      return false;
    }
    if (spp != colours && spp != colours + 1) {
      *why = std::to_string(spp) + " samples per pixel are not supported for " +
             (colours == 1 ? "greyscale" : "RGB") + " (only the colours and at most one alpha)";
      return false;
    }
    const bool isUnsigned = format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_VOID;
    const bool supportedDepth =
        ((bits == 8 || bits == 16) && isUnsigned) || (bits == 32 && format == SAMPLEFORMAT_IEEEFP);
    if (!supportedDepth) {
      const char* kind = format == SAMPLEFORMAT_IEEEFP ? "floating-point"
                         : format == SAMPLEFORMAT_INT  ? "signed integer"
                         : isUnsigned                  ? "unsigned integer"
                                                       : "complex";
      *why = std::to_string(bits) + "-bit " + kind +
             " TIFF samples are not supported (only 8- and 16-bit unsigned, 32-bit float)";
      return false;
    }
    if (!TIFFIsCODECConfigured(compression)) {
      const TIFFCodec* codec = TIFFFindCODEC(compression);
      *why = std::string("TIFF compression ") + (codec ? codec->name : std::to_string(compression)) +
             " is not supported";
      return false;
    }
    if (!CheckShape(width, height, spp, bits / 8, why)) return false;
    const uint64_t raw = uint64_t(width) * height * spp * (bits / 8);
    if (const uint64_t ratio = MaxRatio(compression)) {
      if (!CheckFileHoldsImage("TIFF", fileSize_, raw, ratio, width, height, why)) return false;
    }
    shape.width = int32(width);
    shape.height = int32(height);
    shape.planes = int16(colours);
    shape.depth = bits;
    shape.alpha = spp > colours;
    shape_ = shape;
    spp_ = spp;
    separate_ = planar == PLANARCONFIG_SEPARATE && spp > 1;
    swapped_ = TIFFIsByteSwapped(tif) && bits > 8;

    p.format = ImageFormat::Tiff;
    p.alphaKind = AlphaKind::Unspecified;
    if (shape.alpha) {
      uint16_t count = 0;
      uint16_t* kinds = nullptr;
      if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds) && count >= 1 && kinds) {
        p.alphaKind = kinds[0] == EXTRASAMPLE_ASSOCALPHA   ? AlphaKind::Premultiplied
                      : kinds[0] == EXTRASAMPLE_UNASSALPHA ? AlphaKind::Straight
                                                           : AlphaKind::Unspecified;
      }
    }
    p.tiff.separatePlanes = separate_;
    p.tiff.compression = compression;
    p.tiff.predictor = predictor;
    p.tiff.orientation = orientation;
    try {
      ReadMetadata(p);
      return Plan(compression, why);
    } catch (const std::bad_alloc&) {
      *why = "not enough memory";
      return false;
    }
  }

  bool ReadRows(int32 y, int32 rows, const RowsOut& out, std::string* why) override {
    try {
      switch (mode_) {
        case Mode::Raw: return ReadRaw(y, rows, out, why);
        case Mode::Strips: return ReadStrips(y, rows, out, why);
        case Mode::Lines: return ReadLines(y, rows, out, why);
        case Mode::Tiles: return ReadTiles(y, rows, out, why);
      }
    } catch (const std::bad_alloc&) {
      *why = "not enough memory for the image";
    }
    return false;
  }

 private:
  enum class Mode { Raw, Strips, Lines, Tiles };

  size_t PlaneRowBytes() const {
    return size_t(shape_.width) * size_t(separate_ ? 1 : spp_) * size_t(shape_.SampleBytes());
  }

  // Picks how rows come out of the file and checks the layout's numbers.
  bool Plan(uint16_t compression, std::string* why) {
    TIFF* tif = h_.tif;
    const uint32_t height = uint32_t(shape_.height);
    const int planes = separate_ ? spp_ : 1;
    if (TIFFIsTiled(tif)) {
      mode_ = Mode::Tiles;
      TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth_);
      TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength_);
      const tmsize_t tileSize = TIFFTileSize(tif);
      const size_t tileRow = size_t(tileWidth_) * (separate_ ? 1 : spp_) * shape_.SampleBytes();
      // A tile may reach past the image, but not by absurd amounts: no more
      // than the whole image's bytes twice, or 64 MiB for small images.
      const uint64_t imageBytes = uint64_t(PlaneRowBytes()) * height * uint64_t(separate_ ? spp_ : 1);
      if (tileWidth_ == 0 || tileLength_ == 0 || tileSize <= 0 ||
          uint64_t(tileSize) < uint64_t(tileRow) * tileLength_ ||
          uint64_t(tileSize) > std::max<uint64_t>(uint64_t(64) << 20, 2 * imageBytes)) {
        *why = TiffDamaged(file_, "impossible tile size");
        return false;
      }
      return true;
    }
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip_);
    if (rowsPerStrip_ == 0 || rowsPerStrip_ > height) rowsPerStrip_ = height;
    stripsPerPlane_ = (height - 1) / rowsPerStrip_ + 1;
    if (TIFFNumberOfStrips(tif) < uint64_t(stripsPerPlane_) * uint64_t(planes)) {
      *why = TiffDamaged(file_, "fewer strips than the image needs");
      return false;
    }
    const size_t stripBytes = PlaneRowBytes() * rowsPerStrip_;
    if (compression == COMPRESSION_NONE && !separate_) {
      // Every strip must be in the file whole: checked before any row is read.
      for (uint32_t s = 0; s < stripsPerPlane_; ++s) {
        const uint32_t rows = std::min(rowsPerStrip_, height - s * rowsPerStrip_);
        const uint64_t offset = TIFFGetStrileOffset(tif, s);
        const uint64_t bytes = TIFFGetStrileByteCount(tif, s);
        const uint64_t need = uint64_t(PlaneRowBytes()) * rows;
        if (offset == 0 || bytes < need || (fileSize_ >= 0 && offset + need > uint64_t(fileSize_))) {
          *why = TiffDamaged(file_, "strip " + std::to_string(s) + " is missing or cut short");
          return false;
        }
      }
      mode_ = Mode::Raw;
    } else if (!separate_ && stripBytes > kMaxStripBuffer) {
      mode_ = Mode::Lines;
    } else {
      mode_ = Mode::Strips;
    }
    return true;
  }

  // File samples as the host takes them: native order (libtiff's decoders
  // swap for us; rows read raw are swapped here), then split and scaled.
  void ToHost(uint8* fileRow, const RowsOut& out, int32 r, bool raw) {
    const size_t samples = size_t(shape_.width) * size_t(spp_);
    if (raw && swapped_) {
      if (shape_.depth == 16) Swap16(fileRow, samples);
      else Swap32(fileRow, samples);
    }
    FileRowToHost(fileRow, shape_, out.ColourRow(r), out.AlphaRow(r));
  }

  // Without alpha the file row is the host row, fixed up in place.
  void FixInPlace(uint8* row, bool raw) {
    const size_t samples = size_t(shape_.width) * size_t(shape_.planes);
    if (raw && swapped_) {
      if (shape_.depth == 16) Swap16(row, samples);
      else Swap32(row, samples);
    }
    if (shape_.depth == 16) HostFrom16(row, samples);
  }

  bool ReadRaw(int32 y, int32 rows, const RowsOut& out, std::string* why) {
    const size_t rowBytes = PlaneRowBytes();
    const bool direct = !shape_.alpha;
    for (int32 r = 0; r < rows;) {
      const uint32_t row = uint32_t(y + r);
      const uint32_t strip = row / rowsPerStrip_;
      const uint32_t inStrip = row - strip * rowsPerStrip_;
      const int32 run = int32(std::min<uint32_t>(uint32_t(rows - r), rowsPerStrip_ - inStrip));
      const uint64_t offset = TIFFGetStrileOffset(h_.tif, strip) + uint64_t(inStrip) * rowBytes;
      if (Seek(file_.file, int64_t(offset), SEEK_SET) != 0) return ReadFailed(why, strip);
      if (direct && out.colourStride == rowBytes) {
        // One read for the run: the bytes land where the caller wants them.
        if (std::fread(out.ColourRow(r), 1, rowBytes * size_t(run), file_.file) != rowBytes * size_t(run)) {
          return ReadFailed(why, strip);
        }
        for (int32 k = 0; k < run; ++k) FixInPlace(out.ColourRow(r + k), true);
      } else {
        if (!direct && scratch_.size() < rowBytes) scratch_.resize(rowBytes);
        for (int32 k = 0; k < run; ++k) {
          uint8* target = direct ? out.ColourRow(r + k) : scratch_.data();
          if (std::fread(target, 1, rowBytes, file_.file) != rowBytes) return ReadFailed(why, strip);
          if (direct) FixInPlace(target, true);
          else ToHost(target, out, r + k, true);
        }
      }
      r += run;
    }
    return true;
  }

  bool ReadFailed(std::string* why, uint32_t strip) {
    if (std::ferror(file_.file) && file_.readError == 0) file_.readError = errno ? errno : EIO;
    *why = TiffDamaged(file_, "cannot read strip " + std::to_string(strip) + ": the file is truncated");
    return false;
  }

  // Decodes strip `s` of every plane into stripBuffers_.
  bool LoadStrip(uint32_t s, std::string* why) {
    const int planes = separate_ ? spp_ : 1;
    const uint32_t rows = std::min(rowsPerStrip_, uint32_t(shape_.height) - s * rowsPerStrip_);
    const tmsize_t want = tmsize_t(PlaneRowBytes() * rows);
    stripBuffers_.resize(size_t(planes));
    for (int p = 0; p < planes; ++p) {
      std::vector<uint8>& buffer = stripBuffers_[size_t(p)];
      if (buffer.size() < size_t(want)) buffer.resize(PlaneRowBytes() * rowsPerStrip_);
      const uint32_t index = uint32_t(p) * stripsPerPlane_ + s;
      if (TIFFReadEncodedStrip(h_.tif, index, buffer.data(), want) < want) {
        *why = TiffDamaged(file_, "cannot read strip " + std::to_string(index));
        return false;
      }
    }
    loadedStrip_ = int64_t(s);
    return true;
  }

  bool ReadStrips(int32 y, int32 rows, const RowsOut& out, std::string* why) {
    const size_t rowBytes = PlaneRowBytes();
    for (int32 r = 0; r < rows;) {
      const uint32_t row = uint32_t(y + r);
      const uint32_t strip = row / rowsPerStrip_;
      const uint32_t inStrip = row - strip * rowsPerStrip_;
      const uint32_t stripRows = std::min(rowsPerStrip_, uint32_t(shape_.height) - strip * rowsPerStrip_);
      // A whole strip inside the band decodes straight into the caller's rows.
      if (!separate_ && !shape_.alpha && inStrip == 0 && int32(stripRows) <= rows - r &&
          out.colourStride == rowBytes) {
        const tmsize_t want = tmsize_t(rowBytes * stripRows);
        if (TIFFReadEncodedStrip(h_.tif, strip, out.ColourRow(r), want) < want) {
          *why = TiffDamaged(file_, "cannot read strip " + std::to_string(strip));
          return false;
        }
        for (uint32_t k = 0; k < stripRows; ++k) FixInPlace(out.ColourRow(r + int32(k)), false);
        r += int32(stripRows);
        continue;
      }
      if (loadedStrip_ != int64_t(strip) && !LoadStrip(strip, why)) return false;
      if (separate_) {
        for (int p = 0; p < spp_; ++p) {
          const uint8* planeRow = stripBuffers_[size_t(p)].data() + size_t(inStrip) * rowBytes;
          FilePlaneToHost(planeRow, shape_, p, out.ColourRow(r), out.AlphaRow(r));
        }
      } else {
        ToHost(stripBuffers_[0].data() + size_t(inStrip) * rowBytes, out, r, false);
      }
      ++r;
    }
    return true;
  }

  bool ReadLines(int32 y, int32 rows, const RowsOut& out, std::string* why) {
    const size_t rowBytes = PlaneRowBytes();
    if (scratch_.size() < rowBytes) scratch_.resize(rowBytes);
    for (int32 r = 0; r < rows; ++r) {
      const bool direct = !shape_.alpha;
      uint8* target = direct ? out.ColourRow(r) : scratch_.data();
      if (TIFFReadScanline(h_.tif, target, uint32_t(y + r), 0) < 0) {
        *why = TiffDamaged(file_, "cannot read row " + std::to_string(y + r));
        return false;
      }
      if (direct) FixInPlace(target, false);
      else ToHost(target, out, r, false);
    }
    return true;
  }

  // Decodes the row of tiles holding `row` into tileRows_: for each plane,
  // the rows of the whole width that lie in the image.
  bool LoadTileRow(uint32_t row, std::string* why) {
    const uint32_t y0 = row / tileLength_ * tileLength_;
    const int planes = separate_ ? spp_ : 1;
    const size_t pixelBytes = size_t(separate_ ? 1 : spp_) * size_t(shape_.SampleBytes());
    const size_t rowBytes = PlaneRowBytes();
    const tmsize_t tileSize = TIFFTileSize(h_.tif);
    if (tile_.size() < size_t(tileSize)) tile_.resize(size_t(tileSize));
    // Rows of a tile below the image are never delivered: not held either.
    const uint32_t held = std::min(tileLength_, uint32_t(shape_.height));
    tileRows_.resize(rowBytes * held * size_t(planes));
    const uint32_t rows = std::min(tileLength_, uint32_t(shape_.height) - y0);
    for (int p = 0; p < planes; ++p) {
      for (uint32_t x0 = 0; x0 < uint32_t(shape_.width); x0 += tileWidth_) {
        const uint32_t index = TIFFComputeTile(h_.tif, x0, y0, 0, uint16_t(p));
        if (TIFFReadEncodedTile(h_.tif, index, tile_.data(), tileSize) < tileSize) {
          *why = TiffDamaged(file_, "cannot read tile " + std::to_string(index));
          return false;
        }
        const uint32_t cols = std::min(tileWidth_, uint32_t(shape_.width) - x0);
        for (uint32_t r = 0; r < rows; ++r) {
          std::memcpy(tileRows_.data() + (size_t(p) * held + r) * rowBytes + x0 * pixelBytes,
                      tile_.data() + size_t(r) * tileWidth_ * pixelBytes, cols * pixelBytes);
        }
        // Tiles reach past the image's right edge; x0 + tileWidth may wrap.
        if (uint64_t(x0) + tileWidth_ >= uint64_t(shape_.width)) break;
      }
    }
    loadedTileRow_ = int64_t(y0);
    return true;
  }

  bool ReadTiles(int32 y, int32 rows, const RowsOut& out, std::string* why) {
    const size_t rowBytes = PlaneRowBytes();
    const uint32_t held = std::min(tileLength_, uint32_t(shape_.height));
    for (int32 r = 0; r < rows; ++r) {
      const uint32_t row = uint32_t(y + r);
      const uint32_t y0 = row / tileLength_ * tileLength_;
      if (loadedTileRow_ != int64_t(y0) && !LoadTileRow(row, why)) return false;
      if (separate_) {
        for (int p = 0; p < spp_; ++p) {
          const uint8* planeRow = tileRows_.data() + (size_t(p) * held + (row - y0)) * rowBytes;
          FilePlaneToHost(planeRow, shape_, p, out.ColourRow(r), out.AlphaRow(r));
        }
      } else {
        ToHost(tileRows_.data() + size_t(row - y0) * rowBytes, out, r, false);
      }
    }
    return true;
  }

  void ReadMetadata(ImageProperties& p) {
    TIFF* tif = h_.tif;
    uint32_t length = 0;
    void* data = nullptr;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &length, &data) && data && length > 0) {
      p.iccProfile.assign(static_cast<const uint8*>(data), static_cast<const uint8*>(data) + length);
    }
    if (TIFFGetField(tif, TIFFTAG_XMLPACKET, &length, &data) && data && length > 0) {
      p.xmp.assign(static_cast<const char*>(data), length);
    }
    if (TIFFGetField(tif, TIFFTAG_RICHTIFFIPTC, &length, &data) && data && length > 0) {
      p.iptc.assign(static_cast<const uint8*>(data), static_cast<const uint8*>(data) + length);
    }
    if (TIFFGetField(tif, TIFFTAG_PHOTOSHOP, &length, &data) && data && length > 0) {
      p.photoshop.assign(static_cast<const uint8*>(data), static_cast<const uint8*>(data) + length);
      if (p.iptc.empty()) p.iptc = IptcFromPhotoshop(p.photoshop.data(), p.photoshop.size());
    }
    float x = 0, y = 0;
    uint16_t unit = RESUNIT_INCH;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y) &&
        x > 0 && y > 0) {
      TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
      p.resolution.present = true;
      p.resolution.unit = unit == RESUNIT_CENTIMETER ? ResolutionUnit::Centimetre
                          : unit == RESUNIT_NONE     ? ResolutionUnit::None
                                                     : ResolutionUnit::Inch;
      p.resolution.x = x;
      p.resolution.y = y;
    }
    p.text.description = TextField(tif, TIFFTAG_IMAGEDESCRIPTION);
    p.text.software = TextField(tif, TIFFTAG_SOFTWARE);
    p.text.dateTime = TextField(tif, TIFFTAG_DATETIME);
    p.text.artist = TextField(tif, TIFFTAG_ARTIST);
    p.text.copyright = TextField(tif, TIFFTAG_COPYRIGHT);
    ReadExif(p);
  }

  // The EXIF and GPS directories, read as they are in the file, with the
  // first directory's tags that describe the picture rather than its
  // storage (camera, text, orientation, resolution, the XP tags, white
  // point, ...), into one EXIF block that every output can carry. A maker
  // note keeps its offset from the file's start where the block can hold it.
  void ReadExif(ImageProperties& p) {
    TIFF* tif = h_.tif;
    uint64_t exifAt = 0, gpsAt = 0;
    TIFFGetField(tif, TIFFTAG_EXIFIFD, &exifAt);
    TIFFGetField(tif, TIFFTAG_GPSIFD, &gpsAt);
    const uint64_t ifd0At = TIFFCurrentDirOffset(tif);
    std::FILE* f = file_.file;
    const ReadAt read = [f](uint64_t offset, size_t n, uint8* out) {
      return offset <= uint64_t(INT64_MAX) && ReadExactly(f, int64_t(offset), out, n);
    };
    ExifBlock b;
    b.bigEndian = TIFFIsBigEndian(tif) != 0;
    const uint64_t size = fileSize_ < 0 ? 0 : uint64_t(fileSize_);
    // Values cannot add up to more than the file without overlapping.
    uint64_t budget = size;
    // BigTIFF directories have another layout; only the classic one is read whole.
    if (!TIFFIsBigTIFF(tif) && ifd0At != 0) {
      ExifIfd ifd0;
      // The tags that describe the storage (strip offsets, Photoshop's
      // layers, ...) are never read: they may be large and never travel.
      if (ParseIfdAt(read, size, b.bigEndian, ifd0At, &ifd0, nullptr, &budget, &warnings, IsTiffLayoutTag)) {
        b.ifd0 = std::move(ifd0);
      }
    }
    if (exifAt != 0 && !ParseIfdAt(read, size, b.bigEndian, exifAt, &b.exif, &b.interop, &budget, &warnings)) {
      warnings.push_back("the EXIF directory is damaged; its tags were left out");
    }
    if (gpsAt != 0 && !ParseIfdAt(read, size, b.bigEndian, gpsAt, &b.gps, nullptr, &budget, &warnings)) {
      warnings.push_back("the GPS directory is damaged; its tags were left out");
    }
    const std::string make = TextField(tif, TIFFTAG_MAKE), model = TextField(tif, TIFFTAG_MODEL);
    if (!make.empty()) b.PutAscii(kTagMake, make);
    if (!model.empty()) b.PutAscii(kTagModel, model);
    if (p.tiff.orientation >= 2 && p.tiff.orientation <= 8) b.PutShort(kTagOrientation, p.tiff.orientation);
    const struct {
      uint16 tag;
      const std::string* value;
    } texts[] = {{kTagImageDescription, &p.text.description}, {kTagSoftware, &p.text.software},
                 {kTagDateTime, &p.text.dateTime}, {kTagArtist, &p.text.artist},
                 {kTagCopyright, &p.text.copyright}};
    for (const auto& t : texts) {
      if (!t.value->empty() && b.Ascii(t.tag) != *t.value) b.PutAscii(t.tag, *t.value);
    }
    if (p.resolution.present && p.resolution.unit != ResolutionUnit::None && !b.ifd0.Find(kTagXResolution)) {
      b.PutRational(kTagXResolution, p.resolution.x);
      b.PutRational(kTagYResolution, p.resolution.y);
      b.PutShort(kTagResolutionUnit, p.resolution.unit == ResolutionUnit::Inch ? 2 : 3);
    }
    if (b.ifd0.empty() && b.exif.empty() && b.gps.empty() && b.interop.empty()) return;
    LayoutOptions o;
    o.bigEndian = b.bigEndian;
    const ExifLayout l = LayOutExif(b, o);
    if (!l.makerNoteKept) {
      warnings.push_back("the camera's maker note lies too far into the file to keep its offset; values "
                         "the camera addresses from the file's start may read wrongly");
    }
    p.exif = l.bytes;
  }

  TiffFile file_;
  TiffHandle h_;
  int64_t fileSize_;
  ImageShape shape_;
  int spp_ = 0;
  bool separate_ = false;
  bool swapped_ = false;
  Mode mode_ = Mode::Strips;
  uint32_t rowsPerStrip_ = 0, stripsPerPlane_ = 0;
  uint32_t tileWidth_ = 0, tileLength_ = 0;
  int64_t loadedStrip_ = -1, loadedTileRow_ = -1;
  std::vector<std::vector<uint8>> stripBuffers_;
  std::vector<uint8> tile_, tileRows_, scratch_;
};

}  // namespace

std::unique_ptr<FormatReader> NewTiffReader(std::FILE* f, const std::string& name, int64_t fileSize) {
  return std::make_unique<TiffReader>(f, name, fileSize);
}

}  // namespace io
}  // namespace host
