// TIFF through libtiff.
//
// libtiff reads and writes through our stdio procedures, so opening, closing
// and error reporting work the same for both formats on every platform. Its
// messages go to per-file handlers that collect them for the error text;
// nothing reaches the console.
// libtiff's own int16, uint32, ... are deprecated aliases that collide with
// the host interface's names of the same types.
#define TIFF_DISABLE_DEPRECATED
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "host/io/io_support.h"

namespace host {
namespace io {
namespace {

// --- stdio procedures ----------------------------------------------------

std::FILE* FileOf(thandle_t h) { return static_cast<std::FILE*>(h); }

tmsize_t ReadProc(thandle_t h, void* data, tmsize_t size) {
  return size <= 0 ? 0 : tmsize_t(std::fread(data, 1, size_t(size), FileOf(h)));
}

tmsize_t WriteProc(thandle_t h, void* data, tmsize_t size) {
  return size <= 0 ? 0 : tmsize_t(std::fwrite(data, 1, size_t(size), FileOf(h)));
}

toff_t SeekProc(thandle_t h, toff_t offset, int whence) {
  // libtiff passes unsigned offsets; only SEEK_SET ones can be meaningful
  // beyond the signed range, and those are past any file we accept.
  if (offset > toff_t(INT64_MAX)) return toff_t(-1);
  if (Seek(FileOf(h), int64_t(offset), whence) != 0) return toff_t(-1);
  const int64_t at = Tell(FileOf(h));
  return at < 0 ? toff_t(-1) : toff_t(at);
}

int CloseProc(thandle_t) { return 0; }  // the caller owns, flushes and closes the file

toff_t SizeProc(thandle_t h) {
  std::FILE* f = FileOf(h);
  const int64_t at = Tell(f);
  if (at < 0 || Seek(f, 0, SEEK_END) != 0) return 0;
  const int64_t size = Tell(f);
  Seek(f, at, SEEK_SET);
  return size < 0 ? 0 : toff_t(size);
}

int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

// --- messages ------------------------------------------------------------

// Collected in a fixed buffer: the handlers are called from C and must not throw.
struct Messages {
  char text[512] = {};
  size_t used = 0;
  bool any = false;
};

// libtiff often starts a message with the file name; ours is in front already.
std::string Text(const Messages& m, const std::string& name) {
  std::string text = m.text;
  const std::string prefix = name + ": ";
  for (size_t at; (at = text.find(prefix)) != std::string::npos;) text.erase(at, prefix.size());
  return OneLine(text);
}

int OnError(TIFF*, void* user, const char*, const char* format, va_list args) {
  auto* m = static_cast<Messages*>(user);
  m->any = true;
  if (m->used + 3 >= sizeof m->text) return 1;
  if (m->used > 0) {
    std::memcpy(m->text + m->used, "; ", 2);
    m->used += 2;
  }
  const int n = std::vsnprintf(m->text + m->used, sizeof m->text - m->used, format, args);
  if (n > 0) m->used = std::min(sizeof m->text - 1, m->used + size_t(n));
  return 1;  // handled: libtiff must not pass it on to its process-wide handler
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// A few libtiff messages bypass per-file handlers; by default libtiff prints
// those to stderr. This process shows its errors its own way.
void SilenceProcessWideHandlers() {
  static const bool silenced = [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    return true;
  }();
  (void)silenced;
}

struct Options {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  ~Options() {
    if (options) TIFFOpenOptionsFree(options);
  }
};

struct Handle {
  TIFF* tif = nullptr;
  ~Handle() {
    if (tif) TIFFClose(tif);
  }
};

TIFF* Open(std::FILE* f, const std::string& name, const char* mode, Messages* messages) {
  SilenceProcessWideHandlers();
  Options o;
  if (!o.options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(o.options, OnError, messages);
  TIFFOpenOptionsSetWarningHandlerExtR(o.options, OnWarning, messages);
  return TIFFClientOpenExt(name.c_str(), mode, thandle_t(f), ReadProc, WriteProc, SeekProc,
                           CloseProc, SizeProc, MapProc, UnmapProc, o.options);
}

std::string Damaged(const Messages& m, const std::string& name, const std::string& what) {
  std::string text = "damaged TIFF: " + what;
  if (m.used > 0) text += " (" + Text(m, name) + ")";
  return text;
}

bool UsesPredictor(uint16_t compression) {
  return compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE ||
         compression == COMPRESSION_DEFLATE;
}

// --- reading -------------------------------------------------------------

struct Layout {
  uint32_t width = 0, height = 0;
  int spp = 0;          // samples per pixel, alpha included
  int bytes = 0;        // per sample
  bool separate = false;
};

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

bool ReadStrips(TIFF* tif, const Layout& l, Image& out, const Messages& m, const std::string& name,
                std::string* why) {
  uint32_t rowsPerStrip = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  if (rowsPerStrip == 0 || rowsPerStrip > l.height) rowsPerStrip = l.height;
  const int perPlane = l.separate ? 1 : l.spp;
  const size_t rowBytes = size_t(l.width) * size_t(perPlane) * size_t(l.bytes);
  const uint32_t stripsPerPlane = (l.height - 1) / rowsPerStrip + 1;
  const int planes = l.separate ? l.spp : 1;
  if (TIFFNumberOfStrips(tif) < uint64_t(stripsPerPlane) * uint64_t(planes)) {
    *why = Damaged(m, name, "fewer strips than the image needs");
    return false;
  }
  std::vector<uint8> strip(rowBytes * rowsPerStrip);
  for (int p = 0; p < planes; ++p) {
    for (uint32_t s = 0; s < stripsPerPlane; ++s) {
      const uint32_t y0 = s * rowsPerStrip;
      const uint32_t rows = std::min(rowsPerStrip, l.height - y0);
      const tmsize_t want = tmsize_t(rowBytes * rows);
      const tmsize_t got =
          TIFFReadEncodedStrip(tif, uint32_t(p) * stripsPerPlane + s, strip.data(), want);
      if (got < want) {
        *why = Damaged(m, name, "cannot read strip " + std::to_string(p * stripsPerPlane + s));
        return false;
      }
      for (uint32_t r = 0; r < rows; ++r) {
        PutSamples(out, 0, int32(y0 + r), int32(l.width), l.separate ? p : 0, perPlane,
                   strip.data() + r * rowBytes, size_t(perPlane) * size_t(l.bytes));
      }
    }
  }
  return true;
}

bool ReadTiles(TIFF* tif, const Layout& l, Image& out, const Messages& m, const std::string& name,
               std::string* why) {
  uint32_t tileWidth = 0, tileLength = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
  const tmsize_t tileSize = TIFFTileSize(tif);
  const int perPlane = l.separate ? 1 : l.spp;
  const size_t rowBytes = size_t(tileWidth) * size_t(perPlane) * size_t(l.bytes);
  if (tileWidth == 0 || tileLength == 0 || tileSize <= 0 ||
      uint64_t(tileSize) < uint64_t(rowBytes) * tileLength) {
    *why = Damaged(m, name, "impossible tile size");
    return false;
  }
  std::vector<uint8> tile(size_t(tileSize), 0);
  const int planes = l.separate ? l.spp : 1;
  for (int p = 0; p < planes; ++p) {
    for (uint32_t y0 = 0; y0 < l.height; y0 += tileLength) {
      for (uint32_t x0 = 0; x0 < l.width; x0 += tileWidth) {
        const uint32_t index = TIFFComputeTile(tif, x0, y0, 0, uint16_t(p));
        if (TIFFReadEncodedTile(tif, index, tile.data(), tileSize) < tileSize) {
          *why = Damaged(m, name, "cannot read tile " + std::to_string(index));
          return false;
        }
        const uint32_t rows = std::min(tileLength, l.height - y0);
        const uint32_t cols = std::min(tileWidth, l.width - x0);
        for (uint32_t r = 0; r < rows; ++r) {
          PutSamples(out, int32(x0), int32(y0 + r), int32(cols), l.separate ? p : 0, perPlane,
                     tile.data() + r * rowBytes, size_t(perPlane) * size_t(l.bytes));
        }
        // Tiles reach past the image's right edge; x0 + tileWidth may wrap.
        if (uint64_t(x0) + tileWidth >= l.width) break;
      }
      if (uint64_t(y0) + tileLength >= l.height) break;
    }
  }
  return true;
}

void ReadMetadata(TIFF* tif, Image& out) {
  uint32_t iccLength = 0;
  void* icc = nullptr;
  if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &iccLength, &icc) && icc && iccLength > 0) {
    const uint8* p = static_cast<const uint8*>(icc);
    out.iccProfile.assign(p, p + iccLength);
  }
  float x = 0, y = 0;
  uint16_t unit = RESUNIT_INCH;
  if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y) &&
      x > 0 && y > 0) {
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    out.resolution.present = true;
    out.resolution.unit = unit == RESUNIT_CENTIMETER ? ResolutionUnit::Centimetre
                          : unit == RESUNIT_NONE     ? ResolutionUnit::None
                                                     : ResolutionUnit::Inch;
    out.resolution.x = x;
    out.resolution.y = y;
  }
}

// --- writing -------------------------------------------------------------

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

bool WriteFields(TIFF* tif, const Image& image, int spp, bool separate, uint32_t rowsPerStrip) {
  const Document& d = image.document;
  const bool isFloat = d.depth == 32;
  // What we read from a TIFF stays; anything else (PNG input, a codec we
  // cannot write such as JPEG) becomes lossless deflate with a predictor.
  uint16_t compression = image.tiff.compression;
  if (image.format != ImageFormat::Tiff || !Writable(compression)) {
    compression = COMPRESSION_ADOBE_DEFLATE;
  }
  bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(d.width)) &&
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(d.height)) &&
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(spp)) &&
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(d.depth)) &&
            TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT,
                         uint16_t(isFloat ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT)) &&
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                         uint16_t(d.planes == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB)) &&
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG,
                         uint16_t(separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG)) &&
            TIFFSetField(tif, TIFFTAG_COMPRESSION, compression) &&
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip) &&
            TIFFSetField(tif, TIFFTAG_SOFTWARE, "Kestrelle");
  if (ok && UsesPredictor(compression)) {
    uint16_t predictor = image.format == ImageFormat::Tiff ? image.tiff.predictor : 0;
    const bool valid = predictor == PREDICTOR_NONE || predictor == PREDICTOR_HORIZONTAL ||
                       (predictor == PREDICTOR_FLOATINGPOINT && isFloat);
    if (!valid) predictor = isFloat ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL;
    ok = TIFFSetField(tif, TIFFTAG_PREDICTOR, predictor);
  }
  const uint16_t orientation = image.format == ImageFormat::Tiff ? image.tiff.orientation : 1;
  if (ok && orientation >= 2 && orientation <= 8) {
    ok = TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
  }
  if (ok && !image.alpha.empty()) {
    const uint16_t kind = image.alphaKind == AlphaKind::Premultiplied ? EXTRASAMPLE_ASSOCALPHA
                          : image.alphaKind == AlphaKind::Straight    ? EXTRASAMPLE_UNASSALPHA
                                                                      : EXTRASAMPLE_UNSPECIFIED;
    ok = TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), &kind);
  }
  if (ok && !image.iccProfile.empty()) {
    ok = TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(image.iccProfile.size()),
                      image.iccProfile.data());
  }
  const Resolution& r = image.resolution;
  if (ok && r.present && r.x > 0 && r.y > 0) {
    const uint16_t unit = r.unit == ResolutionUnit::Inch         ? RESUNIT_INCH
                          : r.unit == ResolutionUnit::Centimetre ? RESUNIT_CENTIMETER
                                                                 : RESUNIT_NONE;
    ok = TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(r.x)) &&
         TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(r.y)) &&
         TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, unit);
  }
  return ok;
}

}  // namespace

bool ReadTiff(std::FILE* f, const std::string& name, Image& out, std::string* why) {
  Messages m;
  Handle h;
  // "m": no memory mapping; our procedures do not offer it anyway.
  h.tif = Open(f, name, "rm", &m);
  if (!h.tif) {
    *why = m.used > 0 ? "damaged TIFF: " + Text(m, name) : "damaged TIFF: cannot read the header";
    return false;
  }
  TIFF* tif = h.tif;
  uint32_t width = 0, height = 0;
  uint16_t spp = 1, bits = 1, format = SAMPLEFORMAT_UINT, photometric = 0;
  uint16_t planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
  uint16_t predictor = PREDICTOR_NONE, orientation = ORIENTATION_TOPLEFT;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) ||
      !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height)) {
    *why = Damaged(m, name, "no image size");
    return false;
  }
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) {
    *why = Damaged(m, name, "no photometric interpretation");
    return false;
  }
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  // Only the codecs that have one answer for the predictor; asking any
  // other is an error (or worse, reads another codec's state).
  if (UsesPredictor(compression)) TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &predictor);
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
  const bool supportedDepth = ((bits == 8 || bits == 16) && isUnsigned) ||
                              (bits == 32 && format == SAMPLEFORMAT_IEEEFP);
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
  Layout l;
  l.width = width;
  l.height = height;
  l.spp = spp;
  l.bytes = bits / 8;
  l.separate = planar == PLANARCONFIG_SEPARATE && spp > 1;
  if (!CheckShape(width, height, spp, l.bytes, why)) return false;
  const bool hasAlpha = spp > colours;
  if (!AllocateImage(out, int32(width), int32(height), int16(colours), bits, hasAlpha)) {
    *why = "not enough memory for the image";
    return false;
  }
  out.format = ImageFormat::Tiff;
  out.alphaKind = AlphaKind::Unspecified;
  if (hasAlpha) {
    uint16_t count = 0;
    uint16_t* kinds = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds) && count >= 1 && kinds) {
      out.alphaKind = kinds[0] == EXTRASAMPLE_ASSOCALPHA   ? AlphaKind::Premultiplied
                      : kinds[0] == EXTRASAMPLE_UNASSALPHA ? AlphaKind::Straight
                                                           : AlphaKind::Unspecified;
    }
  }
  out.tiff.separatePlanes = l.separate;
  out.tiff.compression = compression;
  out.tiff.predictor = predictor;
  out.tiff.orientation = orientation;
  try {
    if (!(TIFFIsTiled(tif) ? ReadTiles(tif, l, out, m, name, why)
                           : ReadStrips(tif, l, out, m, name, why))) {
      return false;
    }
  } catch (const std::bad_alloc&) {
    *why = "not enough memory for the image";
    return false;
  }
  ReadMetadata(tif, out);
  return true;
}

bool WriteTiff(std::FILE* f, const std::string& name, const Image& image, std::string* why) {
  Messages m;
  Handle h;
  h.tif = Open(f, name, "w", &m);
  if (!h.tif) {
    *why = "cannot start the TIFF file" + (m.used ? " (" + Text(m, name) + ")" : std::string());
    return false;
  }
  const Document& d = image.document;
  const int spp = SamplesPerPixel(image);
  const bool separate = image.format == ImageFormat::Tiff && image.tiff.separatePlanes && spp > 1;
  const int perPlane = separate ? 1 : spp;
  const size_t rowBytes = size_t(d.width) * size_t(perPlane) * size_t(d.SampleBytes());
  // Strips of about 256 KiB: small enough to stream, large enough to compress well.
  const uint32_t rowsPerStrip =
      uint32_t(std::max<size_t>(1, std::min<size_t>(size_t(d.height), (256u << 10) / rowBytes)));
  auto failed = [&](const char* what) {
    *why = std::string(what) + (m.used ? " (" + Text(m, name) + ")" : std::string());
    return false;
  };
  if (!WriteFields(h.tif, image, spp, separate, rowsPerStrip)) return failed("cannot set the TIFF fields");

  std::vector<uint8> strip;
  try {
    strip.resize(rowBytes * rowsPerStrip);
  } catch (const std::bad_alloc&) {
    *why = "not enough memory";
    return false;
  }
  const uint32_t height = uint32_t(d.height);
  const uint32_t stripsPerPlane = (height - 1) / rowsPerStrip + 1;
  const int planes = separate ? spp : 1;
  for (int p = 0; p < planes; ++p) {
    for (uint32_t s = 0; s < stripsPerPlane; ++s) {
      const uint32_t y0 = s * rowsPerStrip;
      const uint32_t rows = std::min(rowsPerStrip, height - y0);
      for (uint32_t r = 0; r < rows; ++r) {
        GetSamples(image, 0, int32(y0 + r), d.width, separate ? p : 0, perPlane,
                   strip.data() + r * rowBytes, size_t(perPlane) * size_t(d.SampleBytes()));
      }
      if (TIFFWriteEncodedStrip(h.tif, uint32_t(p) * stripsPerPlane + s, strip.data(),
                                tmsize_t(rows * rowBytes)) < 0) {
        return failed("cannot write the image data");
      }
    }
  }
  if (!TIFFWriteDirectory(h.tif)) return failed("cannot write the TIFF directory");
  TIFFClose(h.tif);
  h.tif = nullptr;
  // TIFFClose reports trouble only through the handlers.
  if (m.any) return failed("cannot finish the TIFF file");
  return true;
}

}  // namespace io
}  // namespace host
