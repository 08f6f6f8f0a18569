#include "imageio/exif_block.h"
#include "imageio/byte_order.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

namespace host {
namespace io {
namespace {

// Far beyond real EXIF, small enough that a damaged count cannot make us
// read or reserve much.
constexpr uint32 kMaxEntries = 1000;
constexpr uint64_t kMaxValueBytes = uint64_t(16) << 20;
// Directories reached through pointer entries: how deep and how many.
constexpr int kMaxDepth = 4;
constexpr int kMaxDirectories = 256;
// A pointer entry with more offsets than this is no directory list.
constexpr uint32 kMaxSubIfds = 64;

// Bytes per value of a TIFF field type and the size of the unit that byte
// order swaps (rationals swap as two 4-byte halves); 0: unknown type.
size_t TypeBytes(uint16 type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: case 16: case 17: case 18: return 8;
    default: return 0;
  }
}
size_t SwapUnit(uint16 type) {
  switch (type) {
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: case 5: case 10: return 4;
    case 12: case 16: case 17: case 18: return 8;
    default: return 1;
  }
}


// Pointers the block keeps as its own members (EXIF, GPS, interoperability
// directories, the thumbnail): laid out from those members, never as values.
bool IsBlockPointer(uint16 tag) {
  return tag == kTagExifIfd || tag == kTagGpsIfd || tag == kTagInteropIfd ||
         tag == kTagThumbnailOffset || tag == kTagThumbnailLength;
}

// Entries whose values are offsets of further directories: TIFF's SubIFDs,
// Kodak's private directories, the global-parameters directory, and any
// entry of the IFD type.
bool IsSubIfdPointer(const ExifEntry& e) {
  if (e.type == kTypeIfd) return true;
  if (e.type != kTypeLong) return false;
  switch (e.tag) {
    case kTagSubIfds:
    case 0x0190:  // GlobalParametersIFD
    case 0x8290:  // KodakIFD
    case 0xc36e:  // KodakEffectsIFD
    case 0xc36f:  // KodakBordersIFD
    case 0xfe00:  // KDC_IFD
      return true;
    default:
      return false;
  }
}

// Where a parse takes its bytes from: a block in memory, whose values are
// viewed where they lie, or a file, whose values are read once each.
struct Reader {
  std::shared_ptr<const std::vector<uint8>> block;
  const ReadAt* read = nullptr;
  uint64_t size = 0;  // of the source: no value can be larger
  bool be = false;
  uint64_t* budget = nullptr;  // bytes of values a file may still have read
  std::vector<std::string>* damage = nullptr;
  std::set<uint64_t> seen;  // directories already read: a loop ends here
  std::map<std::pair<uint64_t, size_t>, ExifBytes> values;  // values read from the file
  int directories = 0;
  bool overBudget = false;
  bool (*skip)(uint16 tag) = nullptr;  // entries not wanted: their values are never read

  bool Bytes(uint64_t at, size_t n, uint8* out) const {
    if (block) {
      if (at > block->size() || n > block->size() - at) return false;
      std::memcpy(out, block->data() + at, n);
      return true;
    }
    return (*read)(at, n, out);
  }

  void Note(const std::string& what) {
    if (damage && std::find(damage->begin(), damage->end(), what) == damage->end()) damage->push_back(what);
  }

  // The value of `n` bytes at `at` (a directory's record when it fits there).
  bool Value(uint64_t at, size_t n, const uint8* inRecord, ExifBytes* out) {
    if (inRecord) {
      *out = ExifBytes(std::vector<uint8>(inRecord, inRecord + n));
      return true;
    }
    if (block) {
      if (at > block->size() || n > block->size() - at) return false;
      *out = ExifBytes(block, size_t(at), n, uint32(at));
      return true;
    }
    const auto key = std::make_pair(at, n);
    auto found = values.find(key);
    if (found != values.end()) {
      *out = found->second;
      return true;
    }
    if (n > *budget) {
      overBudget = true;
      return false;
    }
    std::vector<uint8> bytes(n);
    if (!(*read)(at, n, bytes.data())) return false;
    *budget -= n;
    *out = ExifBytes(std::make_shared<const std::vector<uint8>>(std::move(bytes)), 0, n,
                     at <= 0xffffffffu ? uint32(at) : 0);
    values.emplace(key, *out);
    return true;
  }
};

bool ReadIfd(Reader& r, uint64_t offset, int depth, std::vector<ExifEntry>* entries, uint32* next);

// The directories an entry points to; false when none of them reads.
bool ReadSubIfds(Reader& r, ExifEntry& e, int depth) {
  if (depth >= kMaxDepth || e.count > kMaxSubIfds) {
    r.Note("directories nested too deep, or too many behind one EXIF entry; that entry was left out");
    return false;
  }
  for (uint32 i = 0; i < e.count; ++i) {
    std::vector<ExifEntry> sub;
    uint32 unused;
    if (!ReadIfd(r, Get32(e.value.data() + 4 * i, r.be), depth + 1, &sub, &unused)) {
      r.Note("a directory an EXIF entry points to is damaged; that entry was left out");
      return false;
    }
    // A sub-image's pixels are addressed by offsets we do not follow: such
    // a directory cannot travel.
    for (const ExifEntry& s : sub) {
      if (s.tag == 0x0111 || s.tag == 0x0144 || s.tag == kTagThumbnailOffset) {
        // A TIFF file's own reduced pictures never travel (the file's
        // pixels are read afresh); in an EXIF block they are a loss.
        if (r.block) r.Note("sub-images in the EXIF directories (their pixels addressed by offsets) were left out");
        return false;
      }
    }
    ExifIfd ifd;
    for (ExifEntry& s : sub) {
      if (!IsBlockPointer(s.tag)) ifd.entries.push_back(std::move(s));
    }
    e.subIfds.push_back(std::move(ifd));
  }
  return true;
}

// One directory: its entries (the block's pointer tags included, values
// fetched) and the offset of the next directory (0: none).
bool ReadIfd(Reader& r, uint64_t offset, int depth, std::vector<ExifEntry>* entries, uint32* next) {
  *next = 0;
  if (offset == 0 || !r.seen.insert(offset).second) return false;
  if (++r.directories > kMaxDirectories) {
    r.Note("too many EXIF directories; those after the first " + std::to_string(kMaxDirectories) +
           " were left out");
    return false;
  }
  uint8 head[2];
  if (!r.Bytes(offset, 2, head)) return false;
  const uint32 n = Get16(head, r.be);
  if (n == 0 || n > kMaxEntries) return false;
  std::vector<uint8> raw(size_t(n) * 12 + 4);
  if (!r.Bytes(offset + 2, size_t(n) * 12, raw.data())) return false;
  if (r.Bytes(offset + 2 + uint64_t(n) * 12, 4, raw.data() + size_t(n) * 12)) {
    *next = Get32(raw.data() + size_t(n) * 12, r.be);
  }
  size_t lost = 0;
  for (uint32 i = 0; i < n; ++i) {
    const uint8* e = raw.data() + size_t(i) * 12;
    ExifEntry entry;
    entry.tag = Get16(e, r.be);
    entry.type = Get16(e + 2, r.be);
    entry.count = Get32(e + 4, r.be);
    // The tags to pass over are the first directory's own (a TIFF file's
    // storage); a sub-image's strips must still be seen to be refused.
    if (depth == 0 && r.skip && r.skip(entry.tag)) continue;
    const uint64_t bytes = uint64_t(TypeBytes(entry.type)) * entry.count;
    if (TypeBytes(entry.type) == 0 || entry.count == 0 || bytes > kMaxValueBytes || bytes > r.size ||
        !r.Value(Get32(e + 8, r.be), size_t(bytes), bytes <= 4 ? e + 8 : nullptr, &entry.value)) {
      ++lost;  // a value outside the block: that entry alone is lost
      continue;
    }
    if (!IsBlockPointer(entry.tag) && IsSubIfdPointer(entry) && !ReadSubIfds(r, entry, depth)) continue;
    entries->push_back(std::move(entry));
  }
  if (lost > 0) {
    r.Note(r.overBudget ? "EXIF values that overlap one another beyond the file's size were left out"
                        : "damaged EXIF entries (values outside the block, unknown types) were left out");
  }
  std::stable_sort(entries->begin(), entries->end(),
                   [](const ExifEntry& a, const ExifEntry& b) { return a.tag < b.tag; });
  return true;
}

uint32 PointerValue(const std::vector<ExifEntry>& entries, uint16 tag, bool be) {
  for (const ExifEntry& e : entries) {
    if (e.tag != tag || e.value.size() < 4 || (e.type != kTypeLong && e.type != kTypeIfd)) continue;
    return Get32(e.value.data(), be);
  }
  return 0;
}

void TakeIfd(std::vector<ExifEntry> entries, ExifIfd* out) {
  out->entries.clear();
  for (ExifEntry& e : entries) {
    if (!IsBlockPointer(e.tag)) out->entries.push_back(std::move(e));
  }
}

// --- layout ---------------------------------------------------------------

uint32 Even(uint64_t n) { return uint32((n + 1) & ~uint64_t(1)); }

// Places directories and values from a base offset on, around one reserved
// range (the maker note at its own offset), each shared value once.
class Layout {
 public:
  Layout(uint32 base, bool srcBe, bool dstBe) : base_(base), cursor_(base), srcBe_(srcBe), dstBe_(dstBe) {}

  void Reserve(uint32 at, uint32 bytes) {
    holeAt_ = at;
    holeEnd_ = at + bytes;
  }

  // The absolute offset of `bytes` new bytes.
  uint32 Place(uint64_t bytes) {
    uint64_t at = Even(cursor_);
    if (holeEnd_ > holeAt_ && at < holeEnd_ && at + bytes > holeAt_) at = Even(holeEnd_);
    cursor_ = at + bytes;
    Grow(cursor_);
    return uint32(at);
  }

  uint8* At(uint32 absolute) { return out_.data() + (absolute - base_); }
  void Grow(uint64_t end) {
    if (end - base_ > out_.size()) out_.resize(size_t(end - base_), 0);
  }

  // A value's bytes, in the destination's byte order.
  void Copy(uint8* to, const ExifEntry& e) const {
    std::memcpy(to, e.value.data(), e.value.size());
    const size_t unit = SwapUnit(e.type);
    if (srcBe_ != dstBe_ && unit > 1) {
      for (size_t k = 0; k + unit <= e.value.size(); k += unit) std::reverse(to + k, to + k + unit);
    }
  }

  // Writes a directory and everything it points to; returns its offset.
  // `recordAt` (when not null) receives the offset of each entry's record.
  uint32 Ifd(const std::vector<ExifEntry>& entries, uint32 next, std::vector<uint32>* recordAt = nullptr) {
    const uint32 at = Place(2 + entries.size() * 12 + 4);
    Put16(At(at), uint16(entries.size()), dstBe_);
    Put32(At(at) + 2 + entries.size() * 12, next, dstBe_);
    if (recordAt) recordAt->assign(entries.size(), 0);
    for (size_t i = 0; i < entries.size(); ++i) {
      const ExifEntry& e = entries[i];
      const uint32 record = at + 2 + uint32(i) * 12;
      if (recordAt) (*recordAt)[i] = record;
      Put16(At(record), e.tag, dstBe_);
      Put16(At(record) + 2, e.type, dstBe_);
      Put32(At(record) + 4, e.count, dstBe_);
      if (!e.subIfds.empty()) continue;  // after the values, below
      if (e.value.size() <= 4) {
        Copy(At(record) + 8, e);
        continue;
      }
      uint32 valueAt = 0;
      if (keepMakerNote_ && e.tag == kTagMakerNote && e.value.SameView(makerNote_->value)) {
        valueAt = holeAt_;
        Grow(uint64_t(holeEnd_));
      } else {
        const auto key = std::make_tuple(e.value.data(), e.value.size(), SwapUnit(e.type));
        auto found = placed_.find(key);
        if (found != placed_.end()) {
          valueAt = found->second;
        } else {
          valueAt = Place(e.value.size());
          placed_.emplace(key, valueAt);
        }
      }
      Copy(At(valueAt), e);
      Put32(At(record) + 8, valueAt, dstBe_);
    }
    // Directories pointed to come after this one's values.
    for (size_t i = 0; i < entries.size(); ++i) {
      const ExifEntry& e = entries[i];
      if (e.subIfds.empty()) continue;
      std::vector<uint32> offsets;
      for (const ExifIfd& sub : e.subIfds) offsets.push_back(Ifd(sub.entries, 0));
      const uint32 record = at + 2 + uint32(i) * 12;
      Put32(At(record) + 4, uint32(offsets.size()), dstBe_);
      uint8* values = At(record) + 8;
      if (offsets.size() > 1) {
        const uint32 valueAt = Place(offsets.size() * 4);
        Put32(At(record) + 8, valueAt, dstBe_);
        values = At(valueAt);
      }
      for (size_t k = 0; k < offsets.size(); ++k) Put32(values + 4 * k, offsets[k], dstBe_);
    }
    return at;
  }

  // The maker note goes at its own offset when that leaves room for the
  // header and keeps the layout within `maxEnd`.
  bool KeepMakerNote(const ExifEntry* note, uint32 lowest, uint64_t maxEnd) {
    makerNote_ = note;
    keepMakerNote_ = false;
    if (!note || note->value.size() <= 4) return true;
    const uint64_t at = note->value.origin();
    if (at < lowest || at + note->value.size() > maxEnd) return false;
    Reserve(uint32(at), uint32(note->value.size()));
    keepMakerNote_ = true;
    return true;
  }

  std::vector<uint8>& bytes() { return out_; }
  uint32 base() const { return base_; }

 private:
  uint32 base_;
  uint64_t cursor_;
  bool srcBe_, dstBe_;
  uint32 holeAt_ = 0, holeEnd_ = 0;
  const ExifEntry* makerNote_ = nullptr;
  bool keepMakerNote_ = false;
  // Values already placed, by where their bytes lie: each view is laid out once.
  std::map<std::tuple<const uint8*, size_t, size_t>, uint32> placed_;
  std::vector<uint8> out_;
};

// A pointer entry standing for one directory.
ExifEntry PointerTo(uint16 tag, const ExifIfd& ifd, bool be) {
  ExifEntry e = OneNumber(tag, kTypeLong, 0, be);
  e.subIfds.push_back(ifd);
  return e;
}

// The directory's entries with the given ones added, in tag order.
std::vector<ExifEntry> With(const ExifIfd& ifd, std::vector<ExifEntry> more) {
  std::vector<ExifEntry> all = ifd.entries;
  for (ExifEntry& p : more) all.push_back(std::move(p));
  std::stable_sort(all.begin(), all.end(), [](const ExifEntry& a, const ExifEntry& b) { return a.tag < b.tag; });
  return all;
}

// The EXIF directory with the interoperability directory it points to.
std::vector<ExifEntry> ExifEntries(const ExifBlock& b) {
  std::vector<ExifEntry> more;
  if (!b.interop.empty()) more.push_back(PointerTo(kTagInteropIfd, b.interop, b.bigEndian));
  return With(b.exif, std::move(more));
}

}  // namespace

ExifEntry OneNumber(uint16 tag, uint16 type, uint32 value, bool be) {
  ExifEntry e;
  e.tag = tag;
  e.type = type;
  e.count = 1;
  std::vector<uint8> bytes(type == kTypeShort ? 2 : 4);
  if (type == kTypeShort) {
    Put16(bytes.data(), uint16(value), be);
  } else {
    Put32(bytes.data(), value, be);
  }
  e.value = std::move(bytes);
  return e;
}

ExifBytes::ExifBytes(std::vector<uint8> own) {
  if (own.empty()) return;
  auto store = std::make_shared<const std::vector<uint8>>(std::move(own));
  data_ = store->data();
  size_ = store->size();
  store_ = std::move(store);
}

ExifBytes::ExifBytes(std::shared_ptr<const std::vector<uint8>> store, size_t at, size_t size, uint32 origin)
    : store_(std::move(store)), origin_(origin) {
  if (size == 0) return;
  data_ = store_->data() + at;
  size_ = size;
}

bool operator==(const ExifBytes& a, const std::vector<uint8>& b) {
  return a.size() == b.size() && (b.empty() || std::memcmp(a.data(), b.data(), b.size()) == 0);
}
bool operator==(const ExifBytes& a, const ExifBytes& b) {
  return a.size() == b.size() && (a.SameView(b) || std::memcmp(a.data(), b.data(), b.size()) == 0);
}

const ExifEntry* ExifIfd::Find(uint16 tag) const {
  for (const ExifEntry& e : entries) {
    if (e.tag == tag) return &e;
  }
  return nullptr;
}

void ExifIfd::Put(ExifEntry entry) {
  Remove(entry.tag);
  auto at = std::lower_bound(entries.begin(), entries.end(), entry.tag,
                             [](const ExifEntry& e, uint16 tag) { return e.tag < tag; });
  entries.insert(at, std::move(entry));
}

void ExifIfd::Remove(uint16 tag) {
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [tag](const ExifEntry& e) { return e.tag == tag; }),
                entries.end());
}

std::string ExifBlock::Ascii(uint16 tag) const {
  const ExifEntry* e = ifd0.Find(tag);
  if (!e || e->type != kTypeAscii) return {};
  std::string text(e->value.begin(), e->value.end());
  text.resize(std::strlen(text.c_str()));  // up to the first NUL
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

void ExifBlock::PutAscii(uint16 tag, const std::string& text) {
  ExifEntry e;
  e.tag = tag;
  e.type = kTypeAscii;
  std::vector<uint8> bytes(text.begin(), text.end());
  bytes.push_back(0);
  e.count = uint32(bytes.size());
  e.value = std::move(bytes);
  ifd0.Put(std::move(e));
}

uint16 ExifBlock::Short(uint16 tag) const {
  const ExifEntry* e = ifd0.Find(tag);
  if (!e || e->value.size() < 2) return 0;
  if (e->type == kTypeShort) return Get16(e->value.data(), bigEndian);
  if (e->type == kTypeLong && e->value.size() >= 4) return uint16(Get32(e->value.data(), bigEndian));
  return 0;
}

void ExifBlock::PutShort(uint16 tag, uint16 value) { ifd0.Put(OneNumber(tag, kTypeShort, value, bigEndian)); }

bool ExifBlock::Rational(uint16 tag, double* value) const {
  const ExifEntry* e = ifd0.Find(tag);
  if (!e || e->type != kTypeRational || e->value.size() < 8) return false;
  const uint32 num = Get32(e->value.data(), bigEndian), den = Get32(e->value.data() + 4, bigEndian);
  if (den == 0) return false;
  *value = double(num) / double(den);
  return true;
}

void ExifBlock::PutRational(uint16 tag, double value) {
  // Resolutions are whole or simple fractions: a denominator of 1000 keeps
  // three decimals and the numerator within 32 bits for any real density.
  uint32 den = 1;
  while (den < 1000 && std::fabs(value * den - std::round(value * den)) > 1e-9) den *= 10;
  const double num = std::round(value * den);
  if (!(num >= 0 && num <= 4294967295.0)) return;
  ExifEntry e;
  e.tag = tag;
  e.type = kTypeRational;
  e.count = 1;
  std::vector<uint8> bytes(8);
  Put32(bytes.data(), uint32(num), bigEndian);
  Put32(bytes.data() + 4, den, bigEndian);
  e.value = std::move(bytes);
  ifd0.Put(std::move(e));
}

bool ParseExif(const uint8* data, size_t size, ExifBlock* out, std::vector<std::string>* damage) {
  *out = ExifBlock();
  if (size < 8) return false;
  const bool be = data[0] == 'M' && data[1] == 'M';
  if (!(be || (data[0] == 'I' && data[1] == 'I')) || Get16(data + 2, be) != 42) return false;
  out->bigEndian = be;
  // One copy of the block, which every value views.
  Reader r;
  r.block = std::make_shared<const std::vector<uint8>>(data, data + size);
  r.size = size;
  r.be = be;
  r.damage = damage;
  std::vector<ExifEntry> ifd0;
  uint32 next = 0;
  if (!ReadIfd(r, Get32(data + 4, be), 0, &ifd0, &next)) return false;
  if (const uint32 at = PointerValue(ifd0, kTagExifIfd, be)) {
    std::vector<ExifEntry> exif;
    uint32 unused;
    if (ReadIfd(r, at, 1, &exif, &unused)) {
      if (const uint32 interopAt = PointerValue(exif, kTagInteropIfd, be)) {
        std::vector<ExifEntry> interop;
        if (ReadIfd(r, interopAt, 2, &interop, &unused)) TakeIfd(std::move(interop), &out->interop);
      }
      TakeIfd(std::move(exif), &out->exif);
    } else {
      r.Note("the EXIF directory is damaged; its tags were left out");
    }
  }
  if (const uint32 at = PointerValue(ifd0, kTagGpsIfd, be)) {
    std::vector<ExifEntry> gps;
    uint32 unused;
    if (ReadIfd(r, at, 1, &gps, &unused)) {
      TakeIfd(std::move(gps), &out->gps);
    } else {
      r.Note("the GPS directory is damaged; its tags were left out");
    }
  }
  std::vector<ExifEntry> ifd1;
  uint32 unused;
  if (next != 0 && ReadIfd(r, next, 1, &ifd1, &unused)) {
    const uint32 thumbAt = PointerValue(ifd1, kTagThumbnailOffset, be);
    const uint32 thumbBytes = PointerValue(ifd1, kTagThumbnailLength, be);
    const bool jpeg = thumbAt != 0 && thumbBytes != 0 && thumbAt <= size && thumbBytes <= size - thumbAt;
    // A thumbnail in strips (uncompressed) is addressed by offsets we would
    // have to follow: such a directory is left out rather than kept with
    // offsets into nothing.
    bool strips = false;
    for (const ExifEntry& e : ifd1) strips = strips || e.tag == 0x0111 || e.tag == 0x0144;
    if (!strips) {
      if (jpeg) out->thumbnail = ExifBytes(r.block, thumbAt, thumbBytes, thumbAt);
      TakeIfd(std::move(ifd1), &out->ifd1);
    }
  }
  TakeIfd(std::move(ifd0), &out->ifd0);
  return true;
}

bool ParseIfdAt(const ReadAt& read, uint64_t size, bool bigEndian, uint64_t offset, ExifIfd* out,
                ExifIfd* interop, uint64_t* budget, std::vector<std::string>* damage, bool (*skip)(uint16)) {
  Reader r;
  r.skip = skip;
  r.read = &read;
  r.size = size;
  r.be = bigEndian;
  uint64_t own = size;
  r.budget = budget ? budget : &own;
  r.damage = damage;
  std::vector<ExifEntry> entries;
  uint32 unused;
  if (!ReadIfd(r, offset, 0, &entries, &unused)) return false;
  if (interop) {
    if (const uint32 at = PointerValue(entries, kTagInteropIfd, bigEndian)) {
      std::vector<ExifEntry> sub;
      if (ReadIfd(r, at, 1, &sub, &unused)) TakeIfd(std::move(sub), interop);
    }
  }
  TakeIfd(std::move(entries), out);
  return true;
}

bool DropsUnreadThumbnail(const std::vector<uint8>& exif, const ExifBlock& parsed) {
  if (!parsed.ifd1.empty() || !parsed.thumbnail.empty() || exif.size() < 8) return false;
  const bool be = parsed.bigEndian;
  const uint32 ifd0 = Get32(&exif[4], be);
  if (ifd0 > exif.size() - 2) return false;
  const uint64_t link = uint64_t(ifd0) + 2 + uint64_t(Get16(&exif[ifd0], be)) * 12;
  return link + 4 <= exif.size() && Get32(&exif[size_t(link)], be) != 0;
}

bool IsTiffLayoutTag(uint16 tag) {
  switch (tag) {
    case 0x00fe: case 0x00ff:                            // (New)SubfileType
    case 0x0100: case 0x0101: case 0x0102: case 0x0103:  // size, bits, compression
    case 0x0106: case 0x0107: case 0x0108: case 0x0109:  // photometric, thresholding, cell size
    case 0x010a:                                         // FillOrder
    case 0x0111: case 0x0115: case 0x0116: case 0x0117:  // strips, samples per pixel
    case 0x0118: case 0x0119:                            // Min/MaxSampleValue
    case 0x011c: case 0x0124: case 0x0125:               // PlanarConfiguration, T4/T6 options
    case 0x013d: case 0x0140:                            // Predictor, ColorMap
    case 0x0142: case 0x0143: case 0x0144: case 0x0145:  // tiles
    case 0x0152: case 0x0153: case 0x0154: case 0x0155:  // ExtraSamples, SampleFormat, S(Min/Max)SampleValue
    case 0x015b:                                         // JPEGTables
    case 0x0200: case 0x0201: case 0x0202: case 0x0203: case 0x0205: case 0x0206: case 0x0207:
    case 0x0208: case 0x0209:                            // old-style JPEG
    case 0x0212:                                         // YCbCrSubSampling
    case 0x0120: case 0x0121:                            // FreeOffsets, FreeByteCounts
    case 0x02bc: case 0x83bb: case 0x8773:               // XMP, IPTC, ICC: properties of their own
    case 0x8649:                                         // Photoshop's resources (their thumbnail would go stale)
    case 0x935c:                                         // Photoshop's layers, as stale as the picture
    case 0x8769: case 0x8825: case 0xa005:               // the EXIF, GPS, interoperability directories
      return true;
    default:
      return false;
  }
}

std::vector<uint8> SerializeExif(const ExifBlock& b) { return LayOutExif(b, LayoutOptions{0, b.bigEndian}).bytes; }

ExifLayout LayOutExif(const ExifBlock& b, const LayoutOptions& o) {
  const bool be = o.bigEndian;
  ExifLayout result;
  Layout layout(o.base, b.bigEndian, be);
  result.makerNoteKept = layout.KeepMakerNote(b.MakerNote(), o.base + 8, uint64_t(o.base) + o.maxBytes);
  uint8* header = layout.At(layout.Place(8));
  header[0] = header[1] = be ? 'M' : 'I';
  Put16(header + 2, 42, be);

  const uint32 room = o.thumbnailRoom ? o.thumbnailRoom : uint32(b.thumbnail.size());
  const bool hasIfd1 = !b.ifd1.empty() || room > 0;
  std::vector<ExifEntry> p0;
  if (!b.exif.empty() || !b.interop.empty()) {
    ExifIfd exif;
    exif.entries = ExifEntries(b);
    p0.push_back(PointerTo(kTagExifIfd, exif, b.bigEndian));
  }
  if (!b.gps.empty()) p0.push_back(PointerTo(kTagGpsIfd, b.gps, b.bigEndian));
  const std::vector<ExifEntry> ifd0 = With(b.ifd0, std::move(p0));
  const uint32 ifd0At = layout.Ifd(ifd0, 0);
  Put32(layout.At(o.base) + 4, ifd0At, be);
  result.ifd0NextAt = ifd0At + 2 + uint32(ifd0.size()) * 12 - o.base;
  if (hasIfd1) {
    std::vector<ExifEntry> p1;
    if (room > 0) {
      p1.push_back(OneNumber(kTagThumbnailOffset, kTypeLong, 0, b.bigEndian));
      p1.push_back(OneNumber(kTagThumbnailLength, kTypeLong, uint32(b.thumbnail.size()), b.bigEndian));
    }
    const std::vector<ExifEntry> ifd1 = With(b.ifd1, std::move(p1));
    std::vector<uint32> records;
    const uint32 ifd1At = layout.Ifd(ifd1, 0, &records);
    Put32(layout.At(o.base + result.ifd0NextAt), ifd1At, be);
    if (room > 0) {
      const uint32 thumbAt = layout.Place(room);
      for (size_t i = 0; i < ifd1.size(); ++i) {
        if (ifd1[i].tag == kTagThumbnailOffset) Put32(layout.At(records[i]) + 8, thumbAt, be);
        if (ifd1[i].tag == kTagThumbnailLength) result.lengthAt = records[i] + 8 - o.base;
      }
      if (!b.thumbnail.empty() && b.thumbnail.size() <= room) {
        std::memcpy(layout.At(thumbAt), b.thumbnail.data(), b.thumbnail.size());
      }
      result.thumbnailAt = thumbAt - o.base;
      result.thumbnailRoom = room;
    }
  }
  result.bytes = std::move(layout.bytes());
  return result;
}

std::vector<uint8> SerializeTiffSubIfds(const ExifBlock& b, uint32 base, bool bigEndian, uint32* exifAtOut,
                                        uint32* gpsAtOut, bool* makerNoteKept, size_t maxBytes) {
  *exifAtOut = *gpsAtOut = 0;
  Layout layout(base, b.bigEndian, bigEndian);
  const bool kept = layout.KeepMakerNote(b.MakerNote(), base, uint64_t(base) + maxBytes);
  if (makerNoteKept) *makerNoteKept = kept;
  if (!b.exif.empty() || !b.interop.empty()) *exifAtOut = layout.Ifd(ExifEntries(b), 0);
  if (!b.gps.empty()) *gpsAtOut = layout.Ifd(b.gps.entries, 0);
  return std::move(layout.bytes());
}

std::vector<uint8> SerializeIfdEntries(const std::vector<ExifEntry>& entries, bool srcBigEndian, uint32 base,
                                       bool bigEndian, std::vector<uint8>* data) {
  // Laid out as a directory of its own in `data`, then its records taken out:
  // the values and directories they point to stay where they were placed.
  Layout layout(base, srcBigEndian, bigEndian);
  const uint32 at = layout.Ifd(entries, 0);
  std::vector<uint8>& bytes = layout.bytes();
  const size_t from = at - base + 2;
  std::vector<uint8> records(bytes.begin() + from, bytes.begin() + from + entries.size() * 12);
  std::fill(bytes.begin() + (at - base), bytes.begin() + from + entries.size() * 12 + 4, uint8(0));
  *data = std::move(bytes);
  return records;
}

}  // namespace io
}  // namespace host
