// EXIF blocks as a list of directories: parsed from the bytes a JPEG or PNG
// carries (or from a TIFF file's own EXIF and GPS directories), changed, and
// laid out again, at offset 0 for JPEG and PNG or at a file offset inside a
// TIFF. Values stay in the byte order they came in and are swapped only
// when written in the other order. Internal to kestrelle_imageio.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hostapi/host_interface.h"

namespace host {
namespace io {

enum ExifTag : uint16 {
  kTagImageDescription = 0x010e,
  kTagMake = 0x010f,
  kTagModel = 0x0110,
  kTagOrientation = 0x0112,
  kTagXResolution = 0x011a,
  kTagYResolution = 0x011b,
  kTagResolutionUnit = 0x0128,
  kTagSoftware = 0x0131,
  kTagDateTime = 0x0132,
  kTagArtist = 0x013b,
  kTagThumbnailOffset = 0x0201,
  kTagThumbnailLength = 0x0202,
  kTagCopyright = 0x8298,
  kTagExifIfd = 0x8769,
  kTagGpsIfd = 0x8825,
  kTagInteropIfd = 0xa005,
};

enum ExifType : uint16 {
  kTypeByte = 1, kTypeAscii = 2, kTypeShort = 3, kTypeLong = 4, kTypeRational = 5,
  kTypeUndefined = 7, kTypeSLong = 9, kTypeSRational = 10,
};

struct ExifEntry {
  uint16 tag = 0;
  uint16 type = 0;
  uint32 count = 0;
  std::vector<uint8> value;  // count values of the type, in the block's byte order
};

struct ExifIfd {
  std::vector<ExifEntry> entries;  // sorted by tag
  const ExifEntry* Find(uint16 tag) const;
  void Put(ExifEntry entry);  // replaces an entry of the same tag
  void Remove(uint16 tag);
  bool empty() const { return entries.empty(); }
};

struct ExifBlock {
  bool bigEndian = false;
  ExifIfd ifd0, exif, gps, interop, ifd1;
  std::vector<uint8> thumbnail;  // the JPEG that IFD1 points to

  // Values of IFD0 entries, in this block's byte order.
  std::string Ascii(uint16 tag) const;  // empty when absent or not text
  void PutAscii(uint16 tag, const std::string& text);
  uint16 Short(uint16 tag) const;  // 0 when absent
  void PutShort(uint16 tag, uint16 value);
  bool Rational(uint16 tag, double* value) const;
  void PutRational(uint16 tag, double value);
};

// Reads `size` bytes at `offset` of the source; false past its end.
using ReadAt = std::function<bool(uint64_t offset, size_t size, uint8* out)>;

// Parses a block starting with its TIFF header. Damaged directories are
// dropped, entry by entry where possible; false only when nothing is usable.
bool ParseExif(const uint8* data, size_t size, ExifBlock* out);
// Parses one directory (and the interoperability directory an EXIF one
// points to) of a TIFF file of `size` bytes in the given byte order.
bool ParseIfdAt(const ReadAt& read, uint64_t size, bool bigEndian, uint64_t offset, ExifIfd* out,
                ExifIfd* interop);

// Lays the block out from offset 0, header first, in its own byte order.
std::vector<uint8> SerializeExif(const ExifBlock& block);
// Lays out the EXIF (with its interoperability directory) and GPS
// directories for a TIFF file: the bytes go at file offset `base`, in the
// file's byte order; *exifAt and *gpsAt receive their offsets (0: none).
std::vector<uint8> SerializeTiffSubIfds(const ExifBlock& block, uint32 base, bool bigEndian,
                                        uint32* exifAt, uint32* gpsAt);

}  // namespace io
}  // namespace host
