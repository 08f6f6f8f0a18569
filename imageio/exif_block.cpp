#include "imageio/exif_block.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

namespace host {
namespace io {
namespace {

// Far beyond real EXIF, small enough that a damaged count cannot make us
// read or reserve much.
constexpr uint32 kMaxEntries = 1000;
constexpr uint64_t kMaxValueBytes = uint64_t(16) << 20;

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

uint16 Get16(const uint8* p, bool be) { return be ? uint16(p[0] << 8 | p[1]) : uint16(p[1] << 8 | p[0]); }
uint32 Get32(const uint8* p, bool be) {
  return be ? uint32(p[0]) << 24 | uint32(p[1]) << 16 | uint32(p[2]) << 8 | p[3]
            : uint32(p[3]) << 24 | uint32(p[2]) << 16 | uint32(p[1]) << 8 | p[0];
}
void Put16(uint8* p, uint16 v, bool be) {
  p[be ? 0 : 1] = uint8(v >> 8);
  p[be ? 1 : 0] = uint8(v);
}
void Put32(uint8* p, uint32 v, bool be) {
  for (int i = 0; i < 4; ++i) p[be ? i : 3 - i] = uint8(v >> (24 - 8 * i));
}

bool IsPointer(uint16 tag) {
  return tag == kTagExifIfd || tag == kTagGpsIfd || tag == kTagInteropIfd ||
         tag == kTagThumbnailOffset || tag == kTagThumbnailLength;
}

struct Reader {
  const ReadAt& read;
  uint64_t size;  // of the source: no value can be larger
  bool be;
  std::set<uint64_t> seen;  // directories already read: a loop ends here
};

// One directory: its entries (pointer tags included, values fetched) and the
// offset of the next directory (0: none).
bool ReadIfd(Reader& r, uint64_t offset, std::vector<ExifEntry>* entries, uint32* next) {
  *next = 0;
  if (offset == 0 || !r.seen.insert(offset).second) return false;
  uint8 head[2];
  if (!r.read(offset, 2, head)) return false;
  const uint32 n = Get16(head, r.be);
  if (n == 0 || n > kMaxEntries) return false;
  std::vector<uint8> raw(size_t(n) * 12 + 4);
  if (!r.read(offset + 2, size_t(n) * 12, raw.data())) return false;
  if (r.read(offset + 2 + uint64_t(n) * 12, 4, raw.data() + size_t(n) * 12)) {
    *next = Get32(raw.data() + size_t(n) * 12, r.be);
  }
  for (uint32 i = 0; i < n; ++i) {
    const uint8* e = raw.data() + size_t(i) * 12;
    ExifEntry entry;
    entry.tag = Get16(e, r.be);
    entry.type = Get16(e + 2, r.be);
    entry.count = Get32(e + 4, r.be);
    const uint64_t bytes = uint64_t(TypeBytes(entry.type)) * entry.count;
    if (TypeBytes(entry.type) == 0 || entry.count == 0 || bytes > kMaxValueBytes || bytes > r.size) continue;
    entry.value.resize(size_t(bytes));
    if (bytes <= 4) {
      std::memcpy(entry.value.data(), e + 8, size_t(bytes));
    } else if (!r.read(Get32(e + 8, r.be), size_t(bytes), entry.value.data())) {
      continue;  // a value outside the block: that entry alone is lost
    }
    entries->push_back(std::move(entry));
  }
  std::stable_sort(entries->begin(), entries->end(),
                   [](const ExifEntry& a, const ExifEntry& b) { return a.tag < b.tag; });
  return true;
}

uint32 PointerValue(const std::vector<ExifEntry>& entries, uint16 tag, bool be) {
  for (const ExifEntry& e : entries) {
    if (e.tag != tag || e.value.size() < 4 || (e.type != kTypeLong && e.type != 13)) continue;
    return Get32(e.value.data(), be);
  }
  return 0;
}

void TakeIfd(std::vector<ExifEntry> entries, ExifIfd* out) {
  out->entries.clear();
  for (ExifEntry& e : entries) {
    if (!IsPointer(e.tag)) out->entries.push_back(std::move(e));
  }
}

// --- layout ---------------------------------------------------------------

size_t Even(size_t n) { return (n + 1) & ~size_t(1); }

size_t IfdBytes(const std::vector<ExifEntry>& entries) {
  size_t n = 2 + entries.size() * 12 + 4;
  for (const ExifEntry& e : entries) {
    if (e.value.size() > 4) n += Even(e.value.size());
  }
  return n;
}

// An entry holding one SHORT or LONG.
ExifEntry OneNumber(uint16 tag, uint16 type, uint32 value, bool be) {
  ExifEntry e;
  e.tag = tag;
  e.type = type;
  e.count = 1;
  e.value.resize(type == kTypeShort ? 2 : 4);
  if (type == kTypeShort) {
    Put16(e.value.data(), uint16(value), be);
  } else {
    Put32(e.value.data(), value, be);
  }
  return e;
}

ExifEntry PointerEntry(uint16 tag, uint32 value, bool be) { return OneNumber(tag, kTypeLong, value, be); }

// The directory's entries with the given pointers added, in tag order.
std::vector<ExifEntry> WithPointers(const ExifIfd& ifd, std::vector<ExifEntry> pointers) {
  std::vector<ExifEntry> all = ifd.entries;
  for (ExifEntry& p : pointers) all.push_back(std::move(p));
  std::stable_sort(all.begin(), all.end(),
                   [](const ExifEntry& a, const ExifEntry& b) { return a.tag < b.tag; });
  return all;
}

// Appends a directory that starts at file offset `at` (= base + out.size()).
void Emit(const std::vector<ExifEntry>& entries, uint32 at, bool srcBe, bool dstBe, uint32 next,
          std::vector<uint8>& out) {
  const size_t start = out.size();
  out.resize(start + IfdBytes(entries), 0);
  uint8* p = out.data() + start;
  Put16(p, uint16(entries.size()), dstBe);
  uint32 data = at + uint32(2 + entries.size() * 12 + 4);
  size_t dataAt = 2 + entries.size() * 12 + 4;
  for (size_t i = 0; i < entries.size(); ++i) {
    const ExifEntry& e = entries[i];
    uint8* d = p + 2 + i * 12;
    Put16(d, e.tag, dstBe);
    Put16(d + 2, e.type, dstBe);
    Put32(d + 4, e.count, dstBe);
    uint8* value = d + 8;
    if (e.value.size() > 4) {
      Put32(d + 8, data, dstBe);
      value = p + dataAt;
      data += uint32(Even(e.value.size()));
      dataAt += Even(e.value.size());
    }
    std::memcpy(value, e.value.data(), e.value.size());
    const size_t unit = SwapUnit(e.type);
    if (srcBe != dstBe && unit > 1) {
      for (size_t k = 0; k + unit <= e.value.size(); k += unit) std::reverse(value + k, value + k + unit);
    }
  }
  Put32(p + 2 + entries.size() * 12, next, dstBe);
}

}  // namespace

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
  e.value.assign(text.begin(), text.end());
  e.value.push_back(0);
  e.count = uint32(e.value.size());
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
  e.value.resize(8);
  Put32(e.value.data(), uint32(num), bigEndian);
  Put32(e.value.data() + 4, den, bigEndian);
  ifd0.Put(std::move(e));
}

bool ParseExif(const uint8* data, size_t size, ExifBlock* out) {
  *out = ExifBlock();
  if (size < 8) return false;
  const bool be = data[0] == 'M' && data[1] == 'M';
  if (!(be || (data[0] == 'I' && data[1] == 'I')) || Get16(data + 2, be) != 42) return false;
  out->bigEndian = be;
  const ReadAt read = [data, size](uint64_t offset, size_t n, uint8* to) {
    if (offset > size || n > size - offset) return false;
    std::memcpy(to, data + offset, n);
    return true;
  };
  Reader r{read, size, be, {}};
  std::vector<ExifEntry> ifd0;
  uint32 next = 0;
  if (!ReadIfd(r, Get32(data + 4, be), &ifd0, &next)) return false;
  if (const uint32 at = PointerValue(ifd0, kTagExifIfd, be)) {
    std::vector<ExifEntry> exif;
    uint32 unused;
    if (ReadIfd(r, at, &exif, &unused)) {
      if (const uint32 interopAt = PointerValue(exif, kTagInteropIfd, be)) {
        std::vector<ExifEntry> interop;
        if (ReadIfd(r, interopAt, &interop, &unused)) TakeIfd(std::move(interop), &out->interop);
      }
      TakeIfd(std::move(exif), &out->exif);
    }
  }
  if (const uint32 at = PointerValue(ifd0, kTagGpsIfd, be)) {
    std::vector<ExifEntry> gps;
    uint32 unused;
    if (ReadIfd(r, at, &gps, &unused)) TakeIfd(std::move(gps), &out->gps);
  }
  std::vector<ExifEntry> ifd1;
  uint32 unused;
  if (next != 0 && ReadIfd(r, next, &ifd1, &unused)) {
    const uint32 thumbAt = PointerValue(ifd1, kTagThumbnailOffset, be);
    const uint32 thumbBytes = PointerValue(ifd1, kTagThumbnailLength, be);
    if (thumbAt != 0 && thumbBytes != 0 && thumbBytes <= size - std::min<uint64_t>(size, thumbAt)) {
      out->thumbnail.resize(thumbBytes);
      if (!read(thumbAt, thumbBytes, out->thumbnail.data())) out->thumbnail.clear();
    }
    TakeIfd(std::move(ifd1), &out->ifd1);
  }
  TakeIfd(std::move(ifd0), &out->ifd0);
  return true;
}

bool ParseIfdAt(const ReadAt& read, uint64_t size, bool bigEndian, uint64_t offset, ExifIfd* out,
                ExifIfd* interop) {
  Reader r{read, size, bigEndian, {}};
  std::vector<ExifEntry> entries;
  uint32 unused;
  if (!ReadIfd(r, offset, &entries, &unused)) return false;
  if (interop) {
    if (const uint32 at = PointerValue(entries, kTagInteropIfd, bigEndian)) {
      std::vector<ExifEntry> sub;
      if (ReadIfd(r, at, &sub, &unused)) TakeIfd(std::move(sub), interop);
    }
  }
  TakeIfd(std::move(entries), out);
  return true;
}

std::vector<uint8> SerializeExif(const ExifBlock& b) {
  const bool be = b.bigEndian;
  // Offsets first: every directory's size is known from its entries.
  const bool hasExif = !b.exif.empty() || !b.interop.empty();
  const bool hasGps = !b.gps.empty();
  const bool hasIfd1 = !b.ifd1.empty() || !b.thumbnail.empty();
  std::vector<ExifEntry> p0;
  if (hasExif) p0.push_back(PointerEntry(kTagExifIfd, 0, be));
  if (hasGps) p0.push_back(PointerEntry(kTagGpsIfd, 0, be));
  const uint32 ifd0At = 8;
  const uint32 exifAt = ifd0At + uint32(IfdBytes(WithPointers(b.ifd0, p0)));
  std::vector<ExifEntry> pe;
  if (!b.interop.empty()) pe.push_back(PointerEntry(kTagInteropIfd, 0, be));
  const uint32 interopAt = exifAt + (hasExif ? uint32(IfdBytes(WithPointers(b.exif, pe))) : 0);
  const uint32 gpsAt = interopAt + (b.interop.empty() ? 0 : uint32(IfdBytes(b.interop.entries)));
  const uint32 ifd1At = gpsAt + (hasGps ? uint32(IfdBytes(b.gps.entries)) : 0);
  std::vector<ExifEntry> p1;
  if (!b.thumbnail.empty()) {
    p1.push_back(PointerEntry(kTagThumbnailOffset, 0, be));
    p1.push_back(PointerEntry(kTagThumbnailLength, uint32(b.thumbnail.size()), be));
  }
  const uint32 thumbAt = ifd1At + (hasIfd1 ? uint32(IfdBytes(WithPointers(b.ifd1, p1))) : 0);

  std::vector<uint8> out(8);
  out[0] = out[1] = be ? 'M' : 'I';
  Put16(&out[2], 42, be);
  Put32(&out[4], ifd0At, be);
  p0.clear();
  if (hasExif) p0.push_back(PointerEntry(kTagExifIfd, exifAt, be));
  if (hasGps) p0.push_back(PointerEntry(kTagGpsIfd, gpsAt, be));
  Emit(WithPointers(b.ifd0, p0), ifd0At, be, be, hasIfd1 ? ifd1At : 0, out);
  if (hasExif) {
    pe.clear();
    if (!b.interop.empty()) pe.push_back(PointerEntry(kTagInteropIfd, interopAt, be));
    Emit(WithPointers(b.exif, pe), exifAt, be, be, 0, out);
  }
  if (!b.interop.empty()) Emit(b.interop.entries, interopAt, be, be, 0, out);
  if (hasGps) Emit(b.gps.entries, gpsAt, be, be, 0, out);
  if (hasIfd1) {
    p1.clear();
    if (!b.thumbnail.empty()) {
      p1.push_back(PointerEntry(kTagThumbnailOffset, thumbAt, be));
      p1.push_back(PointerEntry(kTagThumbnailLength, uint32(b.thumbnail.size()), be));
    }
    Emit(WithPointers(b.ifd1, p1), ifd1At, be, be, 0, out);
    out.insert(out.end(), b.thumbnail.begin(), b.thumbnail.end());
  }
  return out;
}

std::vector<uint8> SerializeTiffSubIfds(const ExifBlock& b, uint32 base, bool bigEndian,
                                        uint32* exifAtOut, uint32* gpsAtOut) {
  *exifAtOut = *gpsAtOut = 0;
  std::vector<uint8> out;
  const bool hasExif = !b.exif.empty() || !b.interop.empty();
  if (hasExif) {
    std::vector<ExifEntry> pe;
    if (!b.interop.empty()) pe.push_back(PointerEntry(kTagInteropIfd, 0, b.bigEndian));
    const std::vector<ExifEntry> sized = WithPointers(b.exif, pe);
    const uint32 exifAt = base;
    const uint32 interopAt = exifAt + uint32(IfdBytes(sized));
    pe.clear();
    if (!b.interop.empty()) pe.push_back(PointerEntry(kTagInteropIfd, interopAt, b.bigEndian));
    Emit(WithPointers(b.exif, pe), exifAt, b.bigEndian, bigEndian, 0, out);
    if (!b.interop.empty()) Emit(b.interop.entries, interopAt, b.bigEndian, bigEndian, 0, out);
    *exifAtOut = exifAt;
  }
  if (!b.gps.empty()) {
    const uint32 gpsAt = base + uint32(out.size());
    Emit(b.gps.entries, gpsAt, b.bigEndian, bigEndian, 0, out);
    *gpsAtOut = gpsAt;
  }
  return out;
}

}  // namespace io
}  // namespace host
