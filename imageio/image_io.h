// PNG, TIFF and JPEG files in and out of the host's documents.
//
// Reading gives the colour planes in host ranges (8-bit, 16-bit 0..32768,
// 32-bit float), interleaved; an alpha channel is set aside untouched, in the
// file's own encoding, so the filter never sees it and it is written back
// exactly as it was read. Everything else worth keeping to write a faithful
// file back (bit depth, TIFF layout and compression, JPEG quality and
// subsampling, ICC profile, EXIF, XMP, IPTC, text, resolution) travels with
// the image as its properties.
//
// Two ways in and out: whole images (ReadImage, WriteImage, WriteImageToFile)
// and streams of rows (ImageReader, ImageWriter), which hold no more than a
// band of rows of their own for the layouts that allow it. The whole-image
// calls are built on the streams.
#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "imageio/document.h"

namespace host {

enum class ImageFormat : uint8 { Png, Tiff, Jpeg };

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

// JPEG-only encoding, kept so a JPEG is written back at the quality and
// chroma subsampling it came with.
struct JpegLayout {
  int quality = 0;          // estimated from the quantisation tables, 1..100; 0: unknown
  uint8 lumaH = 0;          // the luma component's sampling factors (2, 2: chroma
  uint8 lumaV = 0;          // halved both ways, 4:2:0); 0: unknown or greyscale
  bool progressive = false;
};

// A text chunk of a PNG file. The ones with a home in every format
// (description, software, date, author, copyright) travel as TextTags; the
// others are kept for PNG outputs, and "Comment" also as a JPEG comment.
struct PngText {
  std::string key;
  std::string text;        // UTF-8 for iTXt, Latin-1 for tEXt and zTXt
  bool international = false;  // iTXt
  bool compressed = false;
  std::string language;    // iTXt only
  std::string translatedKey;
};

// The TIFF tags (and EXIF IFD0 entries, and PNG keywords) that describe the
// picture; empty: absent. dateTime is in TIFF's "YYYY:MM:DD HH:MM:SS" form.
struct TextTags {
  std::string description;  // ImageDescription, PNG "Description"
  std::string software;     // Software, PNG "Software"
  std::string dateTime;     // DateTime, PNG "Creation Time"
  std::string artist;       // Artist, PNG "Author"
  std::string copyright;    // Copyright, PNG "Copyright"
  bool empty() const {
    return description.empty() && software.empty() && dateTime.empty() && artist.empty() &&
           copyright.empty();
  }
};

// An APPn or COM segment of a JPEG file as the file has it: the marker
// (0xe0..0xef, or 0xfe for a comment) and the bytes after its length field.
struct JpegSegment {
  uint8 marker = 0;
  std::vector<uint8> bytes;
};

// Everything about an image but its samples.
struct ImageProperties {
  AlphaKind alphaKind = AlphaKind::Straight;
  ImageFormat format = ImageFormat::Png;  // what was read; writing goes by the file name
  TiffLayout tiff;
  JpegLayout jpeg;
  std::vector<uint8> iccProfile;  // empty when the file carried none
  std::string iccProfileName;     // PNG requires a name; TIFF and JPEG have none
  int pngSrgbIntent = -1;         // PNG sRGB chunk rendering intent, -1: none
  uint32 pngGamma = 0;            // PNG gAMA chunk (gamma x 100000), 0: none
  Resolution resolution;
  // An EXIF block as JPEG's APP1 and PNG's eXIf chunk hold it: a small TIFF
  // structure ("II*\0" or "MM\0*") whose first directory may point to the
  // EXIF and GPS directories. A TIFF's own EXIF and GPS directories are
  // read into one of these too.
  std::vector<uint8> exif;
  std::string xmp;           // the XMP packet
  std::vector<uint8> iptc;   // IPTC-IIM records
  // Photoshop's image resources whole (JPEG APP13, TIFF tag 34377, a PNG's
  // "Raw profile type iptc" in Photoshop's container); empty when the file
  // had none. IPTC is one of the resources: `iptc` is what is written, and
  // replaces the resource it came from.
  std::vector<uint8> photoshop;
  TextTags text;
  std::vector<PngText> pngText;
  // A JPEG input's APPn and COM segments in file order, every byte as it
  // came, those read into the fields above as well. A JPEG output writes
  // them again in their places, laying out afresh only what the fields
  // above hold (imageio/jpeg_segments.h says which); PNG and TIFF outputs
  // name those they have no place for.
  std::vector<JpegSegment> jpegSegments;
};

struct Image : ImageProperties {
  Document document;         // colour planes only (1 or 3), host ranges
  std::vector<uint8> alpha;  // empty, or one sample per pixel in the file's depth and encoding
                             // (16-bit: 0..65535, 32-bit: float), native byte order
};

// The size and sample layout of an image, known before its rows.
struct ImageShape {
  int32 width = 0;
  int32 height = 0;
  int16 planes = 3;  // colour planes: 1 or 3
  int32 depth = 8;   // bits per sample: 8, 16 or 32 (float)
  bool alpha = false;

  int32 SampleBytes() const { return depth == 16 ? 2 : depth == 32 ? 4 : 1; }
  size_t RowBytes() const { return size_t(width) * size_t(planes) * size_t(SampleBytes()); }
  size_t AlphaRowBytes() const { return alpha ? size_t(width) * size_t(SampleBytes()) : 0; }
};

ImageShape ShapeOf(const Image& image);

struct ReadOptions {
  // Polled between bands of rows; once true, reading fails with "cancelled".
  const std::atomic<bool>* cancel = nullptr;
  // Receives one line per piece of metadata that was found but cannot be
  // kept (damaged, say), so nothing is dropped without a word.
  std::vector<std::string>* warnings = nullptr;
};

struct WriteOptions {
  int quality = 0;  // JPEG 1..100; 0: the input JPEG's own, or 92
  // Polled between bands of rows; once true, writing fails with "cancelled".
  const std::atomic<bool>* cancel = nullptr;
  // Receives one line per piece of the input's metadata the output format
  // cannot carry, so nothing is dropped without a word.
  std::vector<std::string>* warnings = nullptr;
};

// Reads a PNG, TIFF or JPEG file, recognised by its first bytes. On failure
// returns false with a one-line message naming the file in *error (when not
// null).
bool ReadImage(const std::string& path, Image& out, std::string* error,
               const ReadOptions& options = {});

// Is `path`'s extension one we write (.png, .tif, .tiff, .jpg, .jpeg, any case)?
bool FormatFromName(const std::string& path, ImageFormat* format);

// Can an image of this shape be written as `format`? Says why not without
// touching any file, so a caller can refuse before doing any work.
bool CanWrite(ImageFormat format, const ImageShape& shape, std::string* why);

// Writes `image` as `format` into `file` (opened "w+b" at offset 0; libtiff
// may read back what it wrote), without closing, renaming or syncing it. On
// failure: false, with a one-line reason in *error.
bool WriteImageToFile(std::FILE* file, ImageFormat format, const Image& image, std::string* error,
                      const WriteOptions& options = {});

// Writes by the extension of `path` at the image's depth. The file is written
// next to the target under a temporary name and takes the target's place only
// once complete, so a failed write leaves an existing file as it was.
bool WriteImage(const std::string& path, const Image& image, std::string* error,
                const WriteOptions& options = {});

namespace io {
class FormatReader;
class FormatWriter;
}  // namespace io

// Rows of an image file, top to bottom, into buffers the caller owns. Open
// reads the header and every piece of metadata; ReadRows then delivers the
// next rows, colour planes interleaved in host ranges, alpha (when the image
// has it) into its own rows or dropped when `alpha` is null.
class ImageReader {
 public:
  ImageReader();
  ~ImageReader();
  ImageReader(const ImageReader&) = delete;
  ImageReader& operator=(const ImageReader&) = delete;

  // Errors name the file.
  bool Open(const std::string& path, std::string* error, const ReadOptions& options = {});
  const ImageShape& shape() const { return shape_; }
  const ImageProperties& properties() const { return properties_; }
  int32 nextRow() const { return next_; }
  // The file's size in bytes, for callers that weigh a header against it.
  int64_t fileSize() const { return fileSize_; }
  // Reads rows nextRow() .. nextRow() + rows - 1. `colourStride` and
  // `alphaStride` are the distances between the starts of two rows.
  bool ReadRows(int32 rows, uint8* colour, size_t colourStride, uint8* alpha, size_t alphaStride,
                std::string* error);
  // Checks what follows the last row (a PNG's end, say); false when damaged.
  bool Finish(std::string* error);

 private:
  bool Fail(std::string* error, const std::string& why);
  std::FILE* file_ = nullptr;
  std::string path_;
  std::unique_ptr<io::FormatReader> format_;
  ImageShape shape_;
  ImageProperties properties_;
  ReadOptions options_;
  int32 next_ = 0;
  int64_t fileSize_ = 0;
  bool failed_ = false;
};

// Rows into an image file, top to bottom. Start writes what precedes the
// pixels; WriteRows takes the next rows; Finish completes the file. The file
// is the caller's: the writer never closes, syncs or renames it.
class ImageWriter {
 public:
  ImageWriter();
  ~ImageWriter();
  ImageWriter(const ImageWriter&) = delete;
  ImageWriter& operator=(const ImageWriter&) = delete;

  bool Start(std::FILE* file, ImageFormat format, const ImageShape& shape,
             const ImageProperties& properties, std::string* error,
             const WriteOptions& options = {});
  bool WriteRows(int32 rows, const uint8* colour, size_t colourStride, const uint8* alpha,
                 size_t alphaStride, std::string* error);
  bool Finish(std::string* error);
  int32 nextRow() const { return next_; }

 private:
  bool Fail(std::string* error, const std::string& why);
  std::unique_ptr<io::FormatWriter> format_;
  ImageShape shape_;
  WriteOptions options_;
  int32 next_ = 0;
  bool failed_ = false;
};

// 16-bit samples between a file's 0..65535 and the host's 0..32768. Exact and
// reversible: HostFromFile16(FileFromHost16(h)) == h for every host value.
inline uint16 HostFromFile16(uint16 v) { return uint16((uint32(v) * 32768u + 32767u) / 65535u); }
// Host values above 32768 (which only a faulty filter produces) saturate.
inline uint16 FileFromHost16(uint16 h) {
  uint32 c = h > 32768 ? 32768u : h;
  return uint16((c * 65535u + 16384u) / 32768u);
}

}  // namespace host
