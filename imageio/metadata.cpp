#include "imageio/metadata.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "imageio/byte_order.h"
#include "imageio/io_support.h"

namespace host {
namespace io {
namespace {

struct TextTagName {
  uint16 exifTag;
  const char* pngKey;
  std::string TextTags::*field;
};

const TextTagName kTextTags[] = {
    {kTagImageDescription, "Description", &TextTags::description},
    {kTagSoftware, "Software", &TextTags::software},
    {kTagDateTime, "Creation Time", &TextTags::dateTime},
    {kTagArtist, "Author", &TextTags::artist},
    {kTagCopyright, "Copyright", &TextTags::copyright},
};

const char kPhotoshopIptc[] = {'8', 'B', 'I', 'M', 0x04, 0x04};

bool Digits(const std::string& s, size_t at, size_t n) {
  if (at + n > s.size()) return false;
  for (size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
  }
  return true;
}

}  // namespace

void TextFromExif(const std::vector<uint8>& exif, TextTags* text) {
  ExifBlock b;
  if (exif.empty() || !ParseExif(exif.data(), exif.size(), &b)) return;
  for (const TextTagName& t : kTextTags) {
    std::string& field = text->*t.field;
    if (field.empty()) field = b.Ascii(t.exifTag);
  }
}

uint16 ExifOrientation(const std::vector<uint8>& exif) {
  ExifBlock b;
  if (exif.empty() || !ParseExif(exif.data(), exif.size(), &b)) return 0;
  const uint16 o = b.Short(kTagOrientation);
  return o >= 1 && o <= 8 ? o : 0;
}

bool BringExifInLine(const ImageProperties& p, bool textIntoExif, ExifBlock* b) {
  bool changed = false;
  if (!p.exif.empty() || textIntoExif) {
    for (const TextTagName& t : kTextTags) {
      const std::string& value = p.text.*t.field;
      if (!value.empty() && b->Ascii(t.exifTag) != value) {
        b->PutAscii(t.exifTag, value);
        changed = true;
      }
    }
  }
  // A TIFF's orientation is a tag of its own; elsewhere it lives in EXIF.
  const uint16 o = p.tiff.orientation;
  if (p.format == ImageFormat::Tiff && o >= 1 && o <= 8 && b->Short(kTagOrientation) != o &&
      (o != 1 || b->ifd0.Find(kTagOrientation))) {
    b->PutShort(kTagOrientation, o);
    changed = true;
  }
  return changed;
}

std::vector<uint8> IptcFromPhotoshop(const uint8* data, size_t size) {
  size_t at = 0;
  while (at + 12 <= size) {
    if (std::memcmp(data + at, "8BIM", 4) != 0) break;
    const uint16 id = Get16(data + at + 4, true);
    size_t p = at + 6;
    const size_t nameBytes = (size_t(data[p]) + 2) & ~size_t(1);  // length byte and name, even
    p += nameBytes;
    if (p + 4 > size) break;
    const uint32 bytes = Get32(data + p, true);
    p += 4;
    if (bytes > size - p) break;
    if (id == 0x0404) return std::vector<uint8>(data + p, data + p + bytes);
    at = p + ((size_t(bytes) + 1) & ~size_t(1));
  }
  return {};
}

std::vector<uint8> PhotoshopFromIptc(const std::vector<uint8>& iptc) {
  std::vector<uint8> out(kPhotoshopIptc, kPhotoshopIptc + sizeof kPhotoshopIptc);
  out.push_back(0);  // an empty name, padded to an even length
  out.push_back(0);
  const uint32 n = uint32(iptc.size());
  for (int i = 0; i < 4; ++i) out.push_back(uint8(n >> (24 - 8 * i)));
  out.insert(out.end(), iptc.begin(), iptc.end());
  if (n % 2) out.push_back(0);
  return out;
}

namespace {

// One resource of Photoshop's list: "8BIM", its id, a name (a length byte
// and the name, padded to an even count), the data's size, the data
// (padded likewise). Sets *end to where the next one starts; false when
// the bytes at `at` are not a whole resource.
bool NextResource(const uint8* data, size_t size, size_t at, uint16* id, size_t* end) {
  if (at + 12 > size || std::memcmp(data + at, "8BIM", 4) != 0) return false;
  *id = Get16(data + at + 4, true);
  size_t p = at + 6 + ((size_t(data[at + 6]) + 2) & ~size_t(1));
  if (p + 4 > size) return false;
  const uint32 bytes = Get32(data + p, true);
  p += 4;
  if (bytes > size - p) return false;
  *end = std::min(size, p + ((size_t(bytes) + 1) & ~size_t(1)));
  return true;
}

}  // namespace

std::vector<uint8> PhotoshopWithIptc(const std::vector<uint8>& resources, const std::vector<uint8>& iptc) {
  if (resources.empty()) return iptc.empty() ? std::vector<uint8>() : PhotoshopFromIptc(iptc);
  if (IptcFromPhotoshop(resources.data(), resources.size()) == iptc) return resources;
  // The IPTC resource goes where the old one was, or after the others.
  const std::vector<uint8> record = iptc.empty() ? std::vector<uint8>() : PhotoshopFromIptc(iptc);
  std::vector<uint8> out;
  bool placed = false;
  size_t at = 0, end = 0;
  uint16 id = 0;
  while (NextResource(resources.data(), resources.size(), at, &id, &end)) {
    if (id != 0x0404) {
      out.insert(out.end(), resources.begin() + long(at), resources.begin() + long(end));
    } else if (!placed) {
      out.insert(out.end(), record.begin(), record.end());
      placed = true;
    }
    at = end;
  }
  if (!placed) out.insert(out.end(), record.begin(), record.end());
  out.insert(out.end(), resources.begin() + long(at), resources.end());  // what follows no resource, as it came
  return out;
}

std::vector<uint8> WithoutThumbnails(const std::vector<uint8>& resources, std::vector<std::string>* warnings) {
  std::vector<uint8> out;
  size_t at = 0, end = 0;
  uint16 id = 0;
  bool dropped = false;
  while (NextResource(resources.data(), resources.size(), at, &id, &end)) {
    if (id == 0x0409 || id == 0x040c) {
      dropped = true;
      Warn(warnings, "Photoshop's thumbnail (image resource " + std::to_string(id) + ", " + std::to_string(end - at) +
                         " bytes) is dropped: it shows the picture before the filter");
    } else {
      out.insert(out.end(), resources.begin() + long(at), resources.begin() + long(end));
    }
    at = end;
  }
  if (!dropped) return resources;
  out.insert(out.end(), resources.begin() + long(at), resources.end());
  return out;
}

bool HasResourcesBesidesIptc(const std::vector<uint8>& resources) {
  size_t at = 0, end = 0;
  uint16 id = 0;
  while (NextResource(resources.data(), resources.size(), at, &id, &end)) {
    if (id != 0x0404) return true;
    at = end;
  }
  return at < resources.size();
}

void NamePngGammaLeftOut(const ImageProperties& p, const char* format, std::vector<std::string>* warnings) {
  // sRGB's gamma is about 1/2.2 (45455 in PNG's units): what JPEG and TIFF
  // readers assume without a profile.
  if (p.pngGamma == 0 || !p.iccProfile.empty() || p.pngSrgbIntent >= 0 ||
      (p.pngGamma >= 44955 && p.pngGamma <= 45955)) {
    return;
  }
  char gamma[32];
  std::snprintf(gamma, sizeof gamma, "%.2f", 100000.0 / p.pngGamma);
  Warn(warnings, std::string(format) + " has no place for the PNG's gamma (1/" + gamma +
                     "); the picture will be shown as sRGB");
}

std::string RawProfile(const std::string& type, const std::vector<uint8>& bytes) {
  char head[64];
  std::snprintf(head, sizeof head, "\n%s\n%8u\n", type.c_str(), unsigned(bytes.size()));
  std::string out = head;
  static const char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < bytes.size(); ++i) {
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 15];
    if (i % 36 == 35 || i + 1 == bytes.size()) out += '\n';
  }
  return out;
}

bool FromRawProfile(const std::string& text, std::vector<uint8>* bytes) {
  // "\n" type "\n" spaces length "\n" hex digits with line breaks
  if (text.empty() || text[0] != '\n') return false;
  size_t at = text.find('\n', 1);
  if (at == std::string::npos) return false;
  size_t p = at + 1;
  while (p < text.size() && text[p] == ' ') ++p;
  uint64_t length = 0;
  while (p < text.size() && text[p] >= '0' && text[p] <= '9' && length < (uint64_t(1) << 32)) {
    length = length * 10 + uint64_t(text[p++] - '0');
  }
  if (length > text.size()) return false;
  bytes->clear();
  bytes->reserve(size_t(length));
  int high = -1;
  for (; p < text.size() && bytes->size() < length; ++p) {
    const char c = text[p];
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (v < 0) continue;  // line breaks
    if (high < 0) {
      high = v;
    } else {
      bytes->push_back(uint8(high << 4 | v));
      high = -1;
    }
  }
  return bytes->size() == length;
}

std::string PngDate(const std::string& d) {
  if (d.size() < 19 || !Digits(d, 0, 4) || d[4] != ':' || !Digits(d, 5, 2) || d[7] != ':' ||
      !Digits(d, 8, 2) || !Digits(d, 11, 2) || d[13] != ':' || !Digits(d, 14, 2) || d[16] != ':' ||
      !Digits(d, 17, 2)) {
    return d;  // not TIFF's form: kept as written
  }
  return d.substr(0, 4) + "-" + d.substr(5, 2) + "-" + d.substr(8, 2) + "T" + d.substr(11, 8);
}

bool TiffDate(const std::string& d, std::string* out) {
  const bool separators = d.size() >= 19 && (d[4] == ':' || d[4] == '-') && d[7] == d[4] &&
                          (d[10] == ' ' || d[10] == 'T') && d[13] == ':' && d[16] == ':';
  if (!separators || !Digits(d, 0, 4) || !Digits(d, 5, 2) || !Digits(d, 8, 2) ||
      !Digits(d, 11, 2) || !Digits(d, 14, 2) || !Digits(d, 17, 2)) {
    return false;
  }
  // Anything after the seconds (fractions, a zone) has no place in TIFF's form.
  *out = d.substr(0, 4) + ":" + d.substr(5, 2) + ":" + d.substr(8, 2) + " " + d.substr(11, 8);
  return true;
}

std::string* TextTagForKey(TextTags& text, const std::string& key) {
  for (const TextTagName& t : kTextTags) {
    if (key == t.pngKey) return &(text.*t.field);
  }
  return nullptr;
}

std::vector<std::pair<std::string, std::string>> PngKeywords(const TextTags& text) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const TextTagName& t : kTextTags) {
    const std::string& value = text.*t.field;
    if (value.empty()) continue;
    out.emplace_back(t.pngKey, t.exifTag == kTagDateTime ? PngDate(value) : value);
  }
  return out;
}

std::string Utf8FromLatin1(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += char(c);
    } else {
      out += char(0xc0 | c >> 6);
      out += char(0x80 | (c & 0x3f));
    }
  }
  return out;
}

bool IsAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

bool Latin1FromUtf8(const std::string& text, std::string* latin1) {
  latin1->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = text[i];
    if (c < 0x80) {
      *latin1 += char(c);
    } else if ((c == 0xc2 || c == 0xc3) && i + 1 < text.size() &&
               (static_cast<unsigned char>(text[i + 1]) & 0xc0) == 0x80) {
      *latin1 += char((c & 0x03) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3f));
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace io
}  // namespace host
