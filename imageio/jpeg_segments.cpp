#include "imageio/jpeg_segments.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "imageio/byte_order.h"
#include "imageio/io_support.h"
#include "imageio/metadata.h"

namespace host {
namespace io {
namespace {

// Each name as a segment starts with it, its NUL included.
const char kJfif[] = "JFIF";
const char kJfifExtension[] = "JFXX";
const char kExif[] = "Exif\0";
const char kXmp[] = "http://ns.adobe.com/xap/1.0/";
const char kExtendedXmp[] = "http://ns.adobe.com/xmp/extension/";
const char kIcc[] = "ICC_PROFILE";
const char kMpf[] = "MPF";
const char kPhotoshop[] = "Photoshop 3.0";

constexpr int kApp0 = 0xe0;
constexpr int kComment = 0xfe;
// After the name: the GUID (32 hex digits), the whole packet's length and
// this piece's offset in it.
constexpr size_t kExtendedHead = sizeof kExtendedXmp + 32 + 8;
// After the name: the piece's number (from 1) and how many there are.
constexpr size_t kIccHead = sizeof kIcc + 2;

template <size_t N>
bool Named(const JpegSegment& s, const char (&name)[N]) {
  return s.bytes.size() >= N && std::memcmp(s.bytes.data(), name, N) == 0;
}

std::string Bytes(size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

template <size_t N>
JpegMarker Make(int code, const char (&name)[N], const uint8* data, size_t size) {
  JpegMarker m{code, std::vector<uint8>(name, name + N)};
  m.bytes.insert(m.bytes.end(), data, data + size);
  return m;
}

// The ICC profile in as many APP2 segments as it takes (255 at most).
void AddIcc(std::vector<JpegMarker>& out, const std::vector<uint8>& icc, std::vector<std::string>* warnings) {
  if (icc.empty()) return;
  constexpr size_t kPiece = kMaxSegmentBytes - kIccHead;
  const size_t count = (icc.size() + kPiece - 1) / kPiece;
  if (count > 255) {
    Warn(warnings, "the ICC profile (" + Bytes(icc.size()) + ") is larger than JPEG's 255 profile segments hold; it is dropped");
    return;
  }
  for (size_t i = 0; i < count; ++i) {
    const size_t at = i * kPiece, n = std::min(kPiece, icc.size() - at);
    const uint8 numbers[2] = {uint8(i + 1), uint8(count)};
    JpegMarker m = Make(kApp0 + 2, kIcc, numbers, 2);
    m.bytes.insert(m.bytes.end(), icc.begin() + long(at), icc.begin() + long(at + n));
    out.push_back(std::move(m));
  }
}

// A packet too large for one segment goes whole into an extended packet in
// as many segments as it takes, named by its MD5 digest, with a main packet
// that names it, as XMP lays out large packets in JPEG.
void AddExtendedXmp(std::vector<JpegMarker>& out, const std::string& xmp, std::vector<std::string>* warnings) {
  const size_t open = xmp.find("<x:xmpmeta"), close = xmp.rfind("</x:xmpmeta>");
  if (open == std::string::npos || close == std::string::npos || close < open || xmp.find("HasExtendedXMP") != std::string::npos) {
    Warn(warnings, "the XMP packet (" + Bytes(xmp.size()) +
                       ") is larger than a JPEG segment holds and not laid out so it can be split; it is dropped");
    return;
  }
  const std::string extended = xmp.substr(open, close + 12 - open);
  const std::string guid = Md5Hex(extended);
  const std::string main =
      "<?xpacket begin='\xef\xbb\xbf' id='W5M0MpCehiHzreSzNTczkc9d'?>\n<x:xmpmeta xmlns:x='adobe:ns:meta/'>"
      "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about='' "
      "xmlns:xmpNote='http://ns.adobe.com/xmp/note/' xmpNote:HasExtendedXMP='" + guid +
      "'/></rdf:RDF></x:xmpmeta>\n<?xpacket end='w'?>";
  out.push_back(Make(kApp0 + 1, kXmp, reinterpret_cast<const uint8*>(main.data()), main.size()));
  constexpr size_t kPiece = kMaxSegmentBytes - kExtendedHead;
  for (size_t at = 0; at < extended.size(); at += kPiece) {
    const size_t n = std::min(kPiece, extended.size() - at);
    JpegMarker m = Make(kApp0 + 1, kExtendedXmp, reinterpret_cast<const uint8*>(guid.data()), guid.size());
    for (uint32 v : {uint32(extended.size()), uint32(at)}) {
      for (int i = 0; i < 4; ++i) m.bytes.push_back(uint8(v >> (24 - 8 * i)));
    }
    m.bytes.insert(m.bytes.end(), extended.begin() + long(at), extended.begin() + long(at + n));
    out.push_back(std::move(m));
  }
}

void AddXmp(std::vector<JpegMarker>& out, const std::string& xmp, std::vector<std::string>* warnings) {
  if (xmp.empty()) return;
  if (xmp.size() + sizeof kXmp > kMaxSegmentBytes) {
    AddExtendedXmp(out, xmp, warnings);
    return;
  }
  out.push_back(Make(kApp0 + 1, kXmp, reinterpret_cast<const uint8*>(xmp.data()), xmp.size()));
}

// Photoshop splits resources too large for one segment over several, each
// named; readers join them again.
void AddResources(std::vector<JpegMarker>& out, const std::vector<uint8>& resources) {
  constexpr size_t kPiece = kMaxSegmentBytes - sizeof kPhotoshop;
  for (size_t at = 0; at < resources.size(); at += kPiece) {
    out.push_back(Make(kApp0 + 13, kPhotoshop, resources.data() + at, std::min(kPiece, resources.size() - at)));
  }
}

std::string MpfDropped(const JpegSegment& s) {
  return "the MPF segment (APP2, " + Bytes(s.bytes.size()) +
         ") is dropped: it points at the camera's secondary images (a large preview, say), which are not written";
}

// A JFIF extension holds nothing but a thumbnail, which would show the
// picture as it was before the filter.
std::string JfifThumbnailDropped(const JpegSegment& s) {
  return "the JFIF extension's thumbnail (APP0 \"JFXX\", " + Bytes(s.bytes.size()) +
         ") is dropped: it shows the picture before the filter";
}

// The GUID the main XMP packet gives its extended packet, in the digits it
// is written with; empty when it names none.
std::string ExtendedGuid(const std::string& xmp) {
  const size_t at = xmp.find("HasExtendedXMP");
  if (at == std::string::npos) return {};
  size_t p = at + 14;
  // ="GUID", ='GUID' or >GUID<, with spaces around the equals sign allowed
  while (p < xmp.size() && p < at + 20 && (xmp[p] == '=' || xmp[p] == ' ' || xmp[p] == '"' || xmp[p] == '\'' || xmp[p] == '>')) ++p;
  if (p + 32 > xmp.size()) return {};
  const std::string guid = xmp.substr(p, 32);
  for (char c : guid) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
  }
  return guid;
}

// The main packet without its pointer to the extended one (an attribute or
// an element); empty when the pointer is not laid out as either.
std::string WithoutPointer(std::string xmp) {
  const size_t at = xmp.find("HasExtendedXMP");
  if (at == std::string::npos) return xmp;
  size_t start = at;
  auto nameChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '_' || c == '-' || c == '.'; };
  while (start > 0 && nameChar(xmp[start - 1])) --start;
  if (start > 0 && xmp[start - 1] == '<') {
    const size_t close = xmp.find("HasExtendedXMP", at + 14);
    const size_t end = close == std::string::npos ? close : xmp.find('>', close);
    if (end == std::string::npos) return {};
    xmp.erase(start - 1, end + 1 - (start - 1));
    return xmp;
  }
  const size_t open = xmp.find_first_of("\"'", at);
  const size_t end = open == std::string::npos ? open : xmp.find(xmp[open], open + 1);
  if (end == std::string::npos) return {};
  while (start > 0 && std::isspace(static_cast<unsigned char>(xmp[start - 1]))) --start;
  xmp.erase(start, end + 1 - start);
  return xmp;
}

}  // namespace

std::string Md5Hex(const std::string& text) {
  static const uint32 k[64] = {
      0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
      0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
      0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
      0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
      0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
      0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
      0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
      0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
  static const int r[16] = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};
  std::string m = text;
  const uint64_t bits = uint64_t(text.size()) * 8;
  m += char(0x80);
  while (m.size() % 64 != 56) m += char(0);
  for (int i = 0; i < 8; ++i) m += char(bits >> (8 * i));
  uint32 h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  for (size_t at = 0; at < m.size(); at += 64) {
    uint32 w[16];
    for (int i = 0; i < 16; ++i) {
      const auto* b = reinterpret_cast<const uint8*>(m.data() + at + 4 * i);
      w[i] = Get32(b, false);
    }
    uint32 a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; ++i) {
      uint32 f;
      int g;
      if (i < 16) {
        f = (b & c) | (~b & d), g = i;
      } else if (i < 32) {
        f = (d & b) | (~d & c), g = (5 * i + 1) % 16;
      } else if (i < 48) {
        f = b ^ c ^ d, g = (3 * i + 5) % 16;
      } else {
        f = c ^ (b | ~d), g = (7 * i) % 16;
      }
      const uint32 sum = a + f + k[i] + w[g];
      const int shift = r[i / 16 * 4 + i % 4];
      a = d, d = c, c = b;
      b += sum << shift | sum >> (32 - shift);
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d;
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string hex;
  for (uint32 v : h) {
    for (int i = 0; i < 4; ++i) {
      const uint8 byte = uint8(v >> (8 * i));
      hex += kHex[byte >> 4];
      hex += kHex[byte & 15];
    }
  }
  return hex;
}

SegmentKind KindOf(const JpegSegment& s) {
  switch (s.marker) {
    case kApp0:
      if (Named(s, kJfif)) return SegmentKind::Jfif;
      if (Named(s, kJfifExtension)) return SegmentKind::JfifThumbnail;
      break;
    case kApp0 + 1:
      if (Named(s, kExif)) return SegmentKind::Exif;
      if (Named(s, kXmp)) return SegmentKind::Xmp;
      if (Named(s, kExtendedXmp)) return SegmentKind::ExtendedXmp;
      break;
    case kApp0 + 2:
      if (Named(s, kIcc)) return SegmentKind::Icc;
      if (Named(s, kMpf)) return SegmentKind::Mpf;
      break;
    case kApp0 + 13:
      if (Named(s, kPhotoshop)) return SegmentKind::Photoshop;
      break;
    case kApp0 + 14:
      // "Adobe", a version, two flag words and the transform: 12 bytes.
      if (s.bytes.size() >= 12 && std::memcmp(s.bytes.data(), "Adobe", 5) == 0) return SegmentKind::Adobe;
      break;
    case kComment: return SegmentKind::Comment;
  }
  return SegmentKind::Other;
}

std::string DescribeSegment(const JpegSegment& s) {
  std::string text = s.marker == kComment ? "COM segment" : "APP" + std::to_string(s.marker - kApp0) + " segment";
  // The name most segments start with, when it is text.
  std::string name;
  for (size_t i = 0; i < s.bytes.size() && i < 40 && s.bytes[i] != 0; ++i) {
    const uint8 c = s.bytes[i];
    if (c < 0x20 || c > 0x7e) {
      name.clear();
      break;
    }
    name += char(c);
  }
  if (name.size() >= 2) text += " \"" + name + "\"";
  return text + " (" + Bytes(s.bytes.size()) + ")";
}

std::vector<uint8> PhotoshopFromSegments(const std::vector<JpegSegment>& segments) {
  std::vector<uint8> resources;
  for (const JpegSegment& s : segments) {
    if (KindOf(s) == SegmentKind::Photoshop) resources.insert(resources.end(), s.bytes.begin() + sizeof kPhotoshop, s.bytes.end());
  }
  return resources;
}

bool JpegOutputHasJfif(const ImageProperties& p) {
  if (p.format != ImageFormat::Jpeg || p.jpegSegments.empty()) return true;
  return std::any_of(p.jpegSegments.begin(), p.jpegSegments.end(),
                     [](const JpegSegment& s) { return KindOf(s) == SegmentKind::Jfif; });
}

bool InputJfif(const ImageProperties& p, JfifFields* out) {
  if (p.format != ImageFormat::Jpeg) return false;
  for (const JpegSegment& s : p.jpegSegments) {
    // "JFIF\0", the version (2 bytes), the unit, x and y (2 bytes each).
    if (KindOf(s) != SegmentKind::Jfif || s.bytes.size() < 12) continue;
    const uint8* b = s.bytes.data();
    if (b[7] > 2 || (b[8] == 0 && b[9] == 0) || (b[10] == 0 && b[11] == 0)) return false;
    out->minorVersion = b[5] == 1 ? b[6] : 1;
    out->unit = b[7];
    out->x = long(Get16(b + 8, true));
    out->y = long(Get16(b + 10, true));
    return true;
  }
  return false;
}

std::vector<JpegMarker> JpegOutputMarkers(const ImageProperties& p, const std::vector<uint8>& exif,
                                          int components, std::vector<std::string>* warnings) {
  std::vector<JpegMarker> out;
  const std::vector<uint8> resources = WithoutThumbnails(PhotoshopWithIptc(p.photoshop, p.iptc), warnings);
  const bool sameResources = resources == PhotoshopFromSegments(p.jpegSegments);
  bool exifDone = false, iccDone = false, xmpDone = false, resourcesDone = false;
  // The extended packet belongs to the main one; a new main packet that
  // does not name it leaves it behind.
  const std::string guid = ExtendedGuid(p.xmp);
  std::string originalXmp;
  for (const JpegSegment& s : p.jpegSegments) {
    if (KindOf(s) != SegmentKind::Xmp) continue;
    originalXmp.assign(s.bytes.begin() + long(sizeof kXmp), s.bytes.end());
    break;
  }
  const auto extendsXmp = [&](const JpegSegment& s) {
    return originalXmp == p.xmp ||
           (!guid.empty() && s.bytes.size() >= kExtendedHead && std::memcmp(s.bytes.data() + sizeof kExtendedXmp, guid.data(), 32) == 0);
  };
  for (const JpegSegment& s : p.jpegSegments) {
    const auto pass = [&out, &s] { out.push_back({s.marker, s.bytes}); };
    switch (KindOf(s)) {
      case SegmentKind::Jfif:
        // Thumbnail pixels: its width and height, then 3 bytes a pixel.
        if (s.bytes.size() >= 14 && s.bytes[12] != 0 && s.bytes[13] != 0)
          Warn(warnings, "the JFIF thumbnail (" + std::to_string(s.bytes[12]) + " x " + std::to_string(s.bytes[13]) +
                             ") is dropped: it shows the picture before the filter");
        break;
      case SegmentKind::Adobe: {
        // Transform 1: YCbCr, which we write for colour; 0 for grey.
        JpegMarker m{s.marker, s.bytes};
        m.bytes[11] = components == 3 ? 1 : 0;
        out.push_back(std::move(m));
        break;
      }
      case SegmentKind::Exif:
        if (exifDone) {
          pass();
        } else if (!exif.empty()) {
          out.push_back({kApp0 + 1, exif});
        }
        exifDone = true;
        break;
      case SegmentKind::Icc:
        // The profile goes where its first piece was, whole.
        if (!iccDone) AddIcc(out, p.iccProfile, warnings);
        iccDone = true;
        break;
      case SegmentKind::Xmp:
        if (xmpDone) {
          pass();
        } else {
          AddXmp(out, p.xmp, warnings);
        }
        xmpDone = true;
        break;
      case SegmentKind::Mpf:
        Warn(warnings, MpfDropped(s));
        break;
      case SegmentKind::JfifThumbnail:
        Warn(warnings, JfifThumbnailDropped(s));
        break;
      case SegmentKind::Photoshop:
        if (sameResources) {
          pass();
        } else if (!resourcesDone) {
          AddResources(out, resources);
        }
        resourcesDone = true;
        break;
      case SegmentKind::ExtendedXmp:
        if (extendsXmp(s)) pass();
        break;
      case SegmentKind::Comment:
      case SegmentKind::Other:
        pass();
        break;
    }
  }
  // What has no segment of its own yet goes where other programs put it:
  // EXIF first, then XMP, the image resources, comments, the profile last.
  if (!exifDone && !exif.empty()) out.insert(out.begin(), JpegMarker{kApp0 + 1, exif});
  if (!xmpDone) AddXmp(out, p.xmp, warnings);
  if (!resourcesDone) AddResources(out, resources);
  // A JPEG's comments are among its segments; other formats' are text.
  if (p.jpegSegments.empty()) {
    for (const PngText& t : p.pngText) {
      if (t.key != "Comment") {
        Warn(warnings, "JPEG has no place for the text \"" + t.key + "\"; it is dropped");
        continue;
      }
      if (t.text.empty()) continue;
      const std::string text = t.international ? t.text : Utf8FromLatin1(t.text);
      if (text.size() > kMaxSegmentBytes) {
        Warn(warnings, "the comment (" + Bytes(text.size()) + ") is larger than a JPEG segment holds; it is dropped");
        continue;
      }
      out.push_back({kComment, std::vector<uint8>(text.begin(), text.end())});
    }
  }
  if (!iccDone) AddIcc(out, p.iccProfile, warnings);
  return out;
}

std::string ExtendedXmp(const std::vector<JpegSegment>& segments, const std::string& xmp, std::string* problem) {
  problem->clear();
  const std::string guid = ExtendedGuid(xmp);
  std::vector<const JpegSegment*> pieces;
  bool any = false;
  for (const JpegSegment& s : segments) {
    if (KindOf(s) != SegmentKind::ExtendedXmp) continue;
    any = true;
    if (!guid.empty() && s.bytes.size() >= kExtendedHead &&
        std::memcmp(s.bytes.data() + sizeof kExtendedXmp, guid.data(), 32) == 0) {
      pieces.push_back(&s);
    }
  }
  if (!any) return {};
  if (pieces.empty()) {
    *problem = guid.empty() ? "the main packet names none" : "none of its pieces has the GUID the main packet names";
    return {};
  }
  // The pieces may come in any order; together they must cover the packet.
  const uint32 total = Get32(pieces[0]->bytes.data() + sizeof kExtendedXmp + 32, true);
  size_t held = 0;
  for (const JpegSegment* s : pieces) held += s->bytes.size() - kExtendedHead;
  if (total == 0 || total > held) {
    *problem = "its pieces hold " + Bytes(held) + " of the " + Bytes(total) + " it should have";
    return {};
  }
  std::string packet(total, '\0');
  std::vector<bool> covered(total, false);
  for (const JpegSegment* s : pieces) {
    const uint8* b = s->bytes.data() + sizeof kExtendedXmp + 32;
    const uint32 length = Get32(b, true), offset = Get32(b + 4, true);
    const size_t n = s->bytes.size() - kExtendedHead;
    if (length != total || offset > total || n > total - offset) {
      *problem = "its pieces disagree about its length";
      return {};
    }
    std::memcpy(&packet[offset], b + 8, n);
    std::fill(covered.begin() + long(offset), covered.begin() + long(offset + n), true);
  }
  if (std::find(covered.begin(), covered.end(), false) != covered.end()) {
    *problem = "a piece of it is missing";
    return {};
  }
  return packet;
}

std::string MergeXmp(const std::string& xmp, const std::string& extended) {
  const size_t open = extended.find("<rdf:RDF");
  const size_t openEnd = open == std::string::npos ? open : extended.find('>', open);
  const size_t close = extended.rfind("</rdf:RDF>");
  if (openEnd == std::string::npos || close == std::string::npos || close < openEnd) return {};
  // Namespaces the extended packet declares on its RDF element would not
  // reach its descriptions inside the main one's.
  std::string tag = extended.substr(open, openEnd - open);
  const size_t rdf = tag.find("xmlns:rdf");
  if (rdf != std::string::npos) tag.erase(rdf, 9);
  if (tag.find("xmlns") != std::string::npos) return {};
  const std::string main = WithoutPointer(xmp);
  const size_t mainClose = main.rfind("</rdf:RDF>");
  if (main.empty() || mainClose == std::string::npos) return {};
  return main.substr(0, mainClose) + extended.substr(openEnd + 1, close - openEnd - 1) + main.substr(mainClose);
}

std::string WholeXmp(const ImageProperties& p, const char* format, std::vector<std::string>* warnings) {
  std::string problem;
  const std::string extended = ExtendedXmp(p.jpegSegments, p.xmp, &problem);
  if (extended.empty()) {
    if (!problem.empty())
      Warn(warnings, std::string("the extended XMP packet cannot be put together (") + problem + "); the " + format +
                         " keeps the main packet alone");
    return p.xmp;
  }
  const std::string merged = MergeXmp(p.xmp, extended);
  if (merged.empty()) {
    Warn(warnings, std::string("the extended XMP packet is not laid out as XMP is; the ") + format +
                       " keeps the main packet alone");
    return p.xmp;
  }
  return merged;
}

void NameSegmentsLeftOut(const ImageProperties& p, const char* format, std::vector<std::string>* warnings) {
  bool exif = false, xmp = false;
  for (const JpegSegment& s : p.jpegSegments) {
    switch (KindOf(s)) {
      case SegmentKind::Exif:
        if (!exif) {
          exif = true;
          continue;
        }
        break;
      case SegmentKind::Xmp:
        if (!xmp) {
          xmp = true;
          continue;
        }
        break;
      case SegmentKind::Mpf:
        Warn(warnings, MpfDropped(s));
        continue;
      case SegmentKind::JfifThumbnail:
        Warn(warnings, JfifThumbnailDropped(s));
        continue;
      case SegmentKind::Other: break;
      default: continue;  // carried in the properties, or made false by writing another format
    }
    Warn(warnings, std::string(format) + " has no place for the JPEG's " + DescribeSegment(s) + "; it is dropped");
  }
}

}  // namespace io
}  // namespace host
