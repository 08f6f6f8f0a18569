// PNG and TIFF files in and out of the host's document.
//
// Reading fills the document with the colour planes in host ranges; an alpha
// channel is set aside untouched, in the file's own encoding, so the filter
// never sees it and it is written back exactly as it was read. Everything
// else worth keeping to write a faithful file back (bit depth, TIFF layout
// and compression, ICC profile, resolution) travels with the image.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "host/document.h"

namespace host {

enum class ImageFormat : uint8 { Png, Tiff };

// How the colour samples relate to alpha. PNG alpha is always Straight; TIFF
// names it in ExtraSamples (and may leave it Unspecified).
enum class AlphaKind : uint8 { Straight, Premultiplied, Unspecified };

enum class ResolutionUnit : uint8 { None, Inch, Centimetre };

struct Resolution {
  bool present = false;
  ResolutionUnit unit = ResolutionUnit::None;  // None: only the aspect ratio is known
  double x = 0;                                // pixels per unit
  double y = 0;
};

// TIFF-only layout, kept so a TIFF is written back the way it came.
struct TiffLayout {
  bool separatePlanes = false;  // PLANARCONFIG_SEPARATE
  uint16 compression = 0;       // a TIFF COMPRESSION_ value; 0: our default
  uint16 predictor = 0;         // a TIFF PREDICTOR_ value; 0: our default
  uint16 orientation = 1;       // ORIENTATION_TOPLEFT
};

struct Image {
  Document document;         // colour planes only (1 or 3), host ranges
  std::vector<uint8> alpha;  // empty, or one sample per pixel in the file's depth and encoding
                             // (16-bit: 0..65535, 32-bit: float), native byte order
  AlphaKind alphaKind = AlphaKind::Straight;
  ImageFormat format = ImageFormat::Png;  // what was read; writing goes by the file name
  TiffLayout tiff;
  std::vector<uint8> iccProfile;  // empty when the file carried none
  std::string iccProfileName;     // PNG requires a name; TIFF has none
  int pngSrgbIntent = -1;         // PNG sRGB chunk rendering intent, -1: none
  uint32 pngGamma = 0;            // PNG gAMA chunk (gamma x 100000), 0: none
  Resolution resolution;
};

// Reads a PNG or TIFF file, recognised by its first bytes. On failure returns
// false with a one-line message naming the file in *error (when not null).
bool ReadImage(const std::string& path, Image& out, std::string* error);

// Is `path`'s extension one we write (.png, .tif, .tiff, any case)?
bool FormatFromName(const std::string& path, ImageFormat* format);

// Writes `image` as `format` into `file` (opened "w+b" at offset 0; libtiff
// may read back what it wrote), without closing, renaming or syncing it. On
// failure: false, with a one-line reason in *error.
bool WriteImageToFile(std::FILE* file, ImageFormat format, const Image& image, std::string* error);

// Writes PNG or TIFF by the extension of `path` at the image's depth,
// through a temporary file next to it that replaces it only once complete
// (host/files), so a failed write leaves an existing file as it was.
bool WriteImage(const std::string& path, const Image& image, std::string* error);

// 16-bit samples between a file's 0..65535 and the host's 0..32768. Exact and
// reversible: HostFromFile16(FileFromHost16(h)) == h for every host value.
inline uint16 HostFromFile16(uint16 v) { return uint16((uint32(v) * 32768u + 32767u) / 65535u); }
// Host values above 32768 (which only a faulty filter produces) saturate.
inline uint16 FileFromHost16(uint16 h) {
  uint32 c = h > 32768 ? 32768u : h;
  return uint16((c * 65535u + 16384u) / 32768u);
}

}  // namespace host
