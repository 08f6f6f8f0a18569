// EXIF blocks as a tree of directories: parsed from the bytes a JPEG or PNG
// carries (or from a TIFF file's own directories), changed, and laid out
// again, at offset 0 for JPEG and PNG or at a file offset inside a TIFF.
//
// Values are views of the block they came from, never copied one by one: a
// block whose entries all point at the same megabyte costs that megabyte
// once, however many entries there are, when read and when laid out again.
// Values stay in the byte order they came in and are swapped only when
// written in the other order. A maker note keeps the offset it had from its
// TIFF header, because cameras address its values from there. Internal to
// kestrelle_imageio.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
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
  kTagSubIfds = 0x014a,
  kTagThumbnailOffset = 0x0201,
  kTagThumbnailLength = 0x0202,
  kTagCopyright = 0x8298,
  kTagExifIfd = 0x8769,
  kTagGpsIfd = 0x8825,
  kTagMakerNote = 0x927c,
  kTagInteropIfd = 0xa005,
};

enum ExifType : uint16 {
  kTypeByte = 1, kTypeAscii = 2, kTypeShort = 3, kTypeLong = 4, kTypeRational = 5,
  kTypeUndefined = 7, kTypeSLong = 9, kTypeSRational = 10, kTypeIfd = 13,
};

// The bytes of one value: a view of the block it was read from (kept alive
// by a shared reference) or bytes of its own.
class ExifBytes {
 public:
  ExifBytes() = default;
  ExifBytes(std::vector<uint8> own);  // NOLINT: a value is made from its bytes
  ExifBytes(std::initializer_list<uint8> own) : ExifBytes(std::vector<uint8>(own)) {}
  ExifBytes(std::shared_ptr<const std::vector<uint8>> store, size_t at, size_t size, uint32 origin);

  const uint8* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const uint8* begin() const { return data_; }
  const uint8* end() const { return data_ + size_; }
  const uint8& operator[](size_t i) const { return data_[i]; }
  // The same bytes in memory (not merely equal ones): laid out once.
  bool SameView(const ExifBytes& o) const { return data_ == o.data_ && size_ == o.size_; }
  // Where the bytes lay, counted from the TIFF header of the block or file
  // they were read from; 0 for values made here or held in an entry.
  uint32 origin() const { return origin_; }
  void clear() { *this = ExifBytes(); }

  friend bool operator==(const ExifBytes& a, const std::vector<uint8>& b);
  friend bool operator==(const std::vector<uint8>& a, const ExifBytes& b) { return b == a; }
  friend bool operator==(const ExifBytes& a, const ExifBytes& b);

 private:
  std::shared_ptr<const std::vector<uint8>> store_;
  const uint8* data_ = nullptr;
  size_t size_ = 0;
  uint32 origin_ = 0;
};

struct ExifIfd;

struct ExifEntry {
  uint16 tag = 0;
  uint16 type = 0;
  uint32 count = 0;
  ExifBytes value;  // count values of the type, in the block's byte order
  // For an entry that points to directories (SubIFDs, a maker's private
  // directories): those directories, one per offset in the value. Their
  // offsets are written afresh wherever the block is laid out.
  std::vector<ExifIfd> subIfds;
};

struct ExifIfd {
  std::vector<ExifEntry> entries;  // sorted by tag
  const ExifEntry* Find(uint16 tag) const;
  void Put(ExifEntry entry);  // replaces an entry of the same tag
  void Remove(uint16 tag);
  bool empty() const { return entries.empty(); }
};

// An entry holding one SHORT or LONG, in the given byte order.
ExifEntry OneNumber(uint16 tag, uint16 type, uint32 value, bool bigEndian);

struct ExifBlock {
  bool bigEndian = false;
  ExifIfd ifd0, exif, gps, interop, ifd1;
  ExifBytes thumbnail;  // the JPEG that IFD1 points to

  // Values of IFD0 entries, in this block's byte order.
  std::string Ascii(uint16 tag) const;  // empty when absent or not text
  void PutAscii(uint16 tag, const std::string& text);
  uint16 Short(uint16 tag) const;  // 0 when absent
  void PutShort(uint16 tag, uint16 value);
  bool Rational(uint16 tag, double* value) const;
  void PutRational(uint16 tag, double value);
  // The maker note entry of the EXIF directory, null when none.
  const ExifEntry* MakerNote() const { return exif.Find(kTagMakerNote); }
};

// Reads `size` bytes at `offset` of the source; false past its end.
using ReadAt = std::function<bool(uint64_t offset, size_t size, uint8* out)>;

// Parses a block starting with its TIFF header. Damaged directories are
// dropped, entry by entry where possible, each loss named in *damage (when
// not null); false only when nothing is usable.
bool ParseExif(const uint8* data, size_t size, ExifBlock* out, std::vector<std::string>* damage = nullptr);
// Whether `exif`, parsed into `parsed` with no thumbnail, still links a
// directory after IFD0: a thumbnail in strips, whose offsets are not
// followed, so every output leaves it out.
bool DropsUnreadThumbnail(const std::vector<uint8>& exif, const ExifBlock& parsed);
// Parses one directory of a TIFF file of `size` bytes in the given byte
// order, the directories its entries point to, and (with `interop`) the
// interoperability directory an EXIF directory points to. Values are read
// once each: the values of all calls sharing `budget` add up to at most its
// bytes (the file's size is a fair start: values cannot add up to more
// without overlapping; null: this call's own budget of `size`); what does
// not fit is named in *damage. Entries for which `skip` is true are passed
// over before their values are read (a TIFF's strip offsets, its layers).
bool ParseIfdAt(const ReadAt& read, uint64_t size, bool bigEndian, uint64_t offset, ExifIfd* out,
                ExifIfd* interop, uint64_t* budget = nullptr, std::vector<std::string>* damage = nullptr,
                bool (*skip)(uint16 tag) = nullptr);

// Tags of a TIFF file's first directory that describe how its pixels are
// stored (sizes, strips, compression, ...) or that libtiff writes itself:
// they never travel as EXIF.
bool IsTiffLayoutTag(uint16 tag);

// Where the layout put what a writer patches later.
struct ExifLayout {
  std::vector<uint8> bytes;
  uint32 thumbnailAt = 0;     // offset of the thumbnail's bytes in `bytes` (0: no thumbnail)
  uint32 thumbnailRoom = 0;   // bytes kept for it there
  uint32 lengthAt = 0;        // offset in `bytes` of the ThumbnailLength value (4 bytes)
  uint32 ifd0NextAt = 0;      // offset in `bytes` of IFD0's next-directory link
  bool makerNoteKept = true;  // false: the maker note could not stay at its offset
};

struct LayoutOptions {
  // The block's bytes go at this file offset (0 for JPEG and PNG, where the
  // TIFF header is the block's start).
  uint32 base = 0;
  bool bigEndian = false;
  // No larger than this, when the maker note's own offset makes it larger
  // it moves (and layout.makerNoteKept says so).
  size_t maxBytes = size_t(1) << 20;
  // Room for a thumbnail of up to this many bytes instead of the block's own
  // (0: the block's own thumbnail, if any).
  uint32 thumbnailRoom = 0;
};

// Lays the block out from offset 0, header first, in its own byte order.
std::vector<uint8> SerializeExif(const ExifBlock& block);
ExifLayout LayOutExif(const ExifBlock& block, const LayoutOptions& options);
// Lays out the EXIF (with its interoperability directory) and GPS
// directories for a TIFF file: the bytes go at file offset `base`, in the
// file's byte order; *exifAt and *gpsAt receive their offsets (0: none). The
// maker note lands at the file offset it had from its TIFF header when that
// is within `maxBytes` of `base` (*makerNoteKept says whether it did).
std::vector<uint8> SerializeTiffSubIfds(const ExifBlock& block, uint32 base, bool bigEndian,
                                        uint32* exifAt, uint32* gpsAt, bool* makerNoteKept = nullptr,
                                        size_t maxBytes = size_t(1) << 20);
// IFD0 entries laid out for a TIFF's own first directory: the extra entries
// (sorted by tag, pointer entries with their directories) whose
// out-of-line values and directories go at file offset `base` into *data.
std::vector<uint8> SerializeIfdEntries(const std::vector<ExifEntry>& entries, bool srcBigEndian, uint32 base,
                                       bool bigEndian, std::vector<uint8>* data);

}  // namespace io
}  // namespace host
