// What the format readers and writers share: the limits on what we accept,
// moving rows between file layout and host layout, stdio with 64-bit
// offsets, and the interfaces each format implements. Internal to
// kestrelle_imageio.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "imageio/image_io.h"

namespace host {
namespace io {

// Larger than any camera or scan, small enough that a damaged header cannot
// make us reserve absurd amounts of memory.
constexpr int64_t kMaxSide = 2000000;
constexpr uint64_t kMaxPixelBytes = uint64_t(2) << 30;  // 2 GiB of samples, alpha included

// Checks dimensions and sample layout read from a file header against the
// limits above; on failure returns false with the reason in *why.
bool CheckShape(int64_t width, int64_t height, int samplesPerPixel, int bytesPerSample,
                std::string* why);

// Refuses a header whose pixels cannot come out of a file this small: raw
// bytes above fileBytes x maxRatio (the best the format's compression can
// do). Keeps a damaged 70-byte file from reserving gigabytes.
bool CheckFileHoldsImage(const char* format, int64_t fileBytes, uint64_t rawBytes, uint64_t maxRatio,
                         int64_t width, int64_t height, std::string* why);

// --- rows ----------------------------------------------------------------------

// Where a band of host rows goes to or comes from.
struct RowsOut {
  uint8* colour;
  size_t colourStride;
  uint8* alpha;  // null: alpha is dropped
  size_t alphaStride;
  uint8* ColourRow(int32 r) const { return colour + size_t(r) * colourStride; }
  uint8* AlphaRow(int32 r) const { return alpha ? alpha + size_t(r) * alphaStride : nullptr; }
};
struct RowsIn {
  const uint8* colour;
  size_t colourStride;
  const uint8* alpha;
  size_t alphaStride;
  const uint8* ColourRow(int32 r) const { return colour + size_t(r) * colourStride; }
  const uint8* AlphaRow(int32 r) const { return alpha ? alpha + size_t(r) * alphaStride : nullptr; }
};

// A file row of interleaved samples (colour planes, then alpha when the
// shape has it), native byte order and the file's 0..65535 for 16 bits, into
// host colour samples and the alpha row (skipped when null).
void FileRowToHost(const uint8* file, const ImageShape& shape, uint8* colour, uint8* alpha);
// The reverse, for writing.
void HostRowToFile(const uint8* colour, const uint8* alpha, const ImageShape& shape, uint8* file);
// One sample plane of a file row (a TIFF with separate planes): sample
// `s` of the file's samples goes to colour plane s, or to alpha after them.
void FilePlaneToHost(const uint8* file, const ImageShape& shape, int s, uint8* colour, uint8* alpha);
void HostPlaneToFile(const uint8* colour, const uint8* alpha, const ImageShape& shape, int s,
                     uint8* file);
// In place: the file's 16-bit values into host range.
void HostFrom16(uint8* samples, size_t count);
// Byte order of 16-bit values, in place.
void Swap16(uint8* samples, size_t count);

inline int FileSamples(const ImageShape& s) { return s.planes + (s.alpha ? 1 : 0); }
inline size_t FileRowBytes(const ImageShape& s) {
  return size_t(s.width) * size_t(FileSamples(s)) * size_t(s.SampleBytes());
}
// A file row that is the host row as it stands: no alpha to set aside and
// no 16-bit scaling, so a reader can fill the caller's row directly.
inline bool SameAsHost(const ImageShape& s) { return !s.alpha && s.depth != 16; }

// --- text and files ----------------------------------------------------------------

// One line of text: messages from the libraries may contain line breaks.
std::string OneLine(std::string text);
std::string SystemError(int code);
// Adds a line to a list of warnings, when there is a list and the line is
// not in it yet.
void Warn(std::vector<std::string>* warnings, const std::string& text);

// stdio with 64-bit offsets on every platform.
int Seek(std::FILE* f, int64_t offset, int whence);
int64_t Tell(std::FILE* f);
// The size the system holds for the file, without the bytes still in
// stdio's buffer and without moving the stream; -1 when unknown.
int64_t StoredFileSize(std::FILE* f);
int64_t FileSize(std::FILE* f);  // -1 when unknown; the position is kept
// Exactly `n` bytes at offset `at`, or false; the stream is left after them.
bool ReadExactly(std::FILE* f, int64_t at, uint8* out, size_t n);
bool WriteExactly(std::FILE* f, int64_t at, const uint8* data, size_t n);

// --- the formats -----------------------------------------------------------------

// A format's reader. The file is positioned at its start; messages are the
// reason alone (the caller names the file).
class FormatReader {
 public:
  virtual ~FormatReader() = default;
  virtual bool ReadHeader(ImageShape& shape, ImageProperties& properties, std::string* why) = 0;
  // The rows y .. y + rows - 1, always the ones after those read before.
  virtual bool ReadRows(int32 y, int32 rows, const RowsOut& out, std::string* why) = 0;
  // After the last row.
  virtual bool Finish(std::string*) { return true; }
  // Metadata found damaged while reading the header, one line each.
  std::vector<std::string> warnings;
};

class FormatWriter {
 public:
  virtual ~FormatWriter() = default;
  virtual bool Start(const ImageShape& shape, const ImageProperties& properties,
                     const WriteOptions& options, std::string* why) = 0;
  virtual bool WriteRows(int32 y, int32 rows, const RowsIn& in, std::string* why) = 0;
  virtual bool Finish(std::string* why) = 0;
};

std::unique_ptr<FormatReader> NewPngReader(std::FILE* f, int64_t fileSize);
std::unique_ptr<FormatReader> NewTiffReader(std::FILE* f, const std::string& name, int64_t fileSize);
std::unique_ptr<FormatReader> NewJpegReader(std::FILE* f, int64_t fileSize);
std::unique_ptr<FormatWriter> NewPngWriter(std::FILE* f);
std::unique_ptr<FormatWriter> NewTiffWriter(std::FILE* f);
std::unique_ptr<FormatWriter> NewJpegWriter(std::FILE* f);

}  // namespace io
}  // namespace host
