#include "tests/image_test_support.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include "tests/render_support.h"

std::vector<uint8> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8>(std::istreambuf_iterator<char>(in), {});
}

void SaveBytes(const std::string& path, const std::vector<uint8>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              std::streamsize(bytes.size()));
}

host::Image NoiseImage(int32 w, int32 h, int16 planes, int32 depth, bool alpha, uint32 seed) {
  host::Image image;
  image.document = host::MakeDocument(w, h, planes, depth);
  host::Document& d = image.document;
  FillNoise(d, seed);
  if (depth == 16) {
    d.Set<uint16>(0, 0, 0, 0);
    d.Set<uint16>(1 % w, 0, 0, 32768);
  } else if (depth == 32 && w >= 3) {
    d.Set<float>(0, 0, 0, -0.25f);
    d.Set<float>(1, 0, 0, std::numeric_limits<float>::infinity());
    d.Set<float>(2, 0, 0, std::numeric_limits<float>::quiet_NaN());
  }
  if (alpha) {
    image.alpha.resize(size_t(w) * size_t(h) * size_t(d.SampleBytes()));
    for (size_t i = 0; i < image.alpha.size(); ++i) image.alpha[i] = uint8(i * 131 + seed);
    if (depth == 32) {  // floats that are numbers, compared bit for bit anyway
      for (size_t i = 0; i + 4 <= image.alpha.size(); i += 4) image.alpha[i + 3] = 0x3f;
    }
  }
  return image;
}

host::Image SmoothImage(int32 w, int32 h, int16 planes, int32 depth, bool alpha) {
  host::Image image;
  image.document = host::MakeDocument(w, h, planes, depth);
  host::Document& d = image.document;
  for (int32 y = 0; y < h; ++y)
    for (int32 x = 0; x < w; ++x)
      for (int p = 0; p < planes; ++p) {
        const double v = 0.5 + 0.35 * std::sin(0.02 * x + 0.9 * p) * std::cos(0.015 * y - 0.4 * p);
        if (depth == 8) d.Set<uint8>(x, y, p, uint8(std::lround(v * 255)));
        else if (depth == 16) d.Set<uint16>(x, y, p, uint16(std::lround(v * 32768)));
        else d.Set<float>(x, y, p, float(v));
      }
  if (alpha) {
    image.alpha.assign(size_t(w) * size_t(h) * size_t(d.SampleBytes()), 0x3c);
  }
  return image;
}

double MaxDifference(const host::Image& a, const host::Image& b) {
  const host::Document &da = a.document, &db = b.document;
  if (da.width != db.width || da.height != db.height || da.planes != db.planes || da.depth != db.depth ||
      a.alpha != b.alpha) {
    return -1;
  }
  double worst = 0;
  for (int32 y = 0; y < da.height; ++y)
    for (int32 x = 0; x < da.width; ++x)
      for (int p = 0; p < da.planes; ++p) {
        double va, vb;
        if (da.depth == 8) {
          va = da.Get<uint8>(x, y, p), vb = db.Get<uint8>(x, y, p);
        } else if (da.depth == 16) {
          va = host::FileFromHost16(da.Get<uint16>(x, y, p)), vb = host::FileFromHost16(db.Get<uint16>(x, y, p));
        } else {
          va = da.Get<float>(x, y, p), vb = db.Get<float>(x, y, p);
          if (std::isnan(va) && std::isnan(vb)) continue;
          if (va == vb) continue;
        }
        worst = std::max(worst, std::fabs(va - vb));
      }
  return worst;
}

namespace {

struct TestJpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void TestJpegError(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<TestJpegErrors*>(cinfo->err)->jump, 1);
}

}  // namespace

bool WriteJpegDirect(const std::string& path, const host::Image& image, const DirectJpeg& recipe) {
  const host::Document& d = image.document;
  if (d.depth != 8) return false;
  std::vector<uint8> samples;
  if (recipe.components == 4) {
    samples.resize(size_t(d.width) * d.height * 4);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint8(i * 7);
  } else {
    samples = d.pixels;
  }
  std::vector<JSAMPROW> rows(size_t(d.height));
  const size_t rowBytes = size_t(d.width) * size_t(recipe.components);
  for (int32 y = 0; y < d.height; ++y) rows[size_t(y)] = samples.data() + size_t(y) * rowBytes;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  TestJpegErrors errors;
  jpeg_compress_struct cinfo{};
  cinfo.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = TestJpegError;
  const DirectJpeg copy = recipe;
  const bool ok = [&] {
    jpeg_compress_struct& c = cinfo;
    auto* errs = reinterpret_cast<TestJpegErrors*>(c.err);
    if (setjmp(errs->jump)) return false;
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = JDIMENSION(d.width);
    c.image_height = JDIMENSION(d.height);
    c.input_components = copy.components;
    c.in_color_space = copy.components == 1 ? JCS_GRAYSCALE : copy.components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&c);
    if (copy.colorSpace != 0) jpeg_set_colorspace(&c, J_COLOR_SPACE(copy.colorSpace));
    jpeg_set_quality(&c, copy.quality, TRUE);
    if (copy.progressive) jpeg_simple_progression(&c);
    c.restart_in_rows = copy.restartRows;
    c.arith_code = copy.arithmetic ? TRUE : FALSE;
    jpeg_start_compress(&c, TRUE);
    jpeg_write_scanlines(&c, rows.data(), JDIMENSION(d.height));
    jpeg_finish_compress(&c);
    return true;
  }();
  jpeg_destroy_compress(&cinfo);
  std::fclose(f);
  return ok;
}

std::vector<uint8> TestIccProfile(const std::string& description) {
  std::vector<uint8> p(128, 0);
  auto put32 = [&](size_t at, uint32 v) {
    if (p.size() < at + 4) p.resize(at + 4, 0);
    for (int i = 0; i < 4; ++i) p[at + i] = uint8(v >> (24 - 8 * i));
  };
  auto put4 = [&](size_t at, const char* four) {
    if (p.size() < at + 4) p.resize(at + 4, 0);
    std::memcpy(&p[at], four, 4);
  };
  put32(8, 0x02100000);
  put4(12, "mntr");
  put4(16, "RGB ");
  put4(20, "XYZ ");
  put4(36, "acsp");
  put32(68, 0x0000f6d6);  // D50
  put32(72, 0x00010000);
  put32(76, 0x0000d32d);
  // Two tags: a description and a copyright.
  put32(128, 2);
  const size_t tableEnd = 128 + 4 + 2 * 12;
  std::vector<uint8> desc(12 + description.size() + 1 + 4 + 4 + 2 + 1 + 67, 0);
  std::memcpy(desc.data(), "desc", 4);
  const uint32 n = uint32(description.size() + 1);
  for (int i = 0; i < 4; ++i) desc[8 + i] = uint8(n >> (24 - 8 * i));
  std::memcpy(desc.data() + 12, description.data(), description.size());
  const std::string notice = "No copyright, test data";
  std::vector<uint8> cprt(8 + notice.size() + 1, 0);
  std::memcpy(cprt.data(), "text", 4);
  std::memcpy(cprt.data() + 8, notice.data(), notice.size());
  const size_t descAt = tableEnd, cprtAt = (descAt + desc.size() + 3) & ~size_t(3);
  put4(132, "desc");
  put32(136, uint32(descAt));
  put32(140, uint32(desc.size()));
  put4(144, "cprt");
  put32(148, uint32(cprtAt));
  put32(152, uint32(cprt.size()));
  p.resize(cprtAt + cprt.size(), 0);
  std::memcpy(&p[descAt], desc.data(), desc.size());
  std::memcpy(&p[cprtAt], cprt.data(), cprt.size());
  p.resize((p.size() + 3) & ~size_t(3), 0);
  put32(0, uint32(p.size()));
  return p;
}

std::vector<host::JpegSegment> SegmentsOf(const std::vector<uint8>& jpeg) {
  std::vector<host::JpegSegment> segments;
  size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xff && jpeg[at + 1] != 0xda) {
    const uint8 marker = jpeg[at + 1];
    const size_t length = size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
    if (length < 2 || at + 2 + length > jpeg.size()) break;
    if ((marker >= 0xe0 && marker <= 0xef) || marker == 0xfe)
      segments.push_back({marker, std::vector<uint8>(jpeg.begin() + long(at + 4), jpeg.begin() + long(at + 2 + length))});
    at += 2 + length;
  }
  return segments;
}

std::vector<uint8> WithSegments(const std::vector<uint8>& jpeg, const std::vector<host::JpegSegment>& segments) {
  size_t at = 2;
  if (jpeg.size() > 10 && jpeg[3] == 0xe0 && std::memcmp(&jpeg[6], "JFIF", 4) == 0) at += 2 + (size_t(jpeg[4]) << 8 | jpeg[5]);
  std::vector<uint8> out(jpeg.begin(), jpeg.begin() + long(at));
  for (const host::JpegSegment& s : segments) {
    const size_t length = s.bytes.size() + 2;
    out.insert(out.end(), {0xff, s.marker, uint8(length >> 8), uint8(length)});
    out.insert(out.end(), s.bytes.begin(), s.bytes.end());
  }
  out.insert(out.end(), jpeg.begin() + long(at), jpeg.end());
  return out;
}

host::JpegSegment Segment(uint8 marker, const std::string& text, const std::vector<uint8>& more) {
  host::JpegSegment s{marker, std::vector<uint8>(text.begin(), text.end())};
  s.bytes.insert(s.bytes.end(), more.begin(), more.end());
  return s;
}

std::vector<host::JpegSegment> SegmentsOfEveryKind() {
  const std::string guid = "8D5FD3C0A6B44B0E9A1E0C8E7F2B5A61";
  std::string description;
  while (description.size() < 70000) description += "kestrel ";
  const std::string extended =
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
      "<rdf:Description rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:description><rdf:Alt>"
      "<rdf:li xml:lang='x-default'>" + description + "</rdf:li></rdf:Alt></dc:description></rdf:Description>"
      "</rdf:RDF></x:xmpmeta>";
  const std::string main =
      "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
      "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about='' "
      "xmlns:dc='http://purl.org/dc/elements/1.1/' xmlns:xmpNote='http://ns.adobe.com/xmp/note/' "
      "xmpNote:HasExtendedXMP='" + guid + "'><dc:title><rdf:Alt><rdf:li xml:lang='x-default'>Espresso</rdf:li>"
      "</rdf:Alt></dc:title></rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
  auto piece = [&](size_t at, size_t n) {
    std::string bytes = std::string("http://ns.adobe.com/xmp/extension/\0", 35) + guid;
    for (uint32 v : {uint32(extended.size()), uint32(at)})
      for (int i = 0; i < 4; ++i) bytes += char(v >> (24 - 8 * i));
    return Segment(0xe1, bytes + extended.substr(at, n));
  };
  const std::vector<uint8> iptc = {0x1c, 2, 25, 0, 7, 'k', 'e', 's', 't', 'r', 'e', 'l'};
  std::vector<uint8> resources = {'8', 'B', 'I', 'M', 0x04, 0x0c, 0, 0, 0, 0, 0, 5, 't', 'h', 'u', 'm', 'b', 0,
                                  '8', 'B', 'I', 'M', 0x04, 0x04, 0, 0, 0, 0, 0, uint8(iptc.size())};
  resources.insert(resources.end(), iptc.begin(), iptc.end());
  return {
      Segment(0xe0, std::string("II\x1a\0\0\0HEAPJPGM", 14), {0, 0, 0, 1, 0x30, 0x08, 0x01}),
      Segment(0xec, std::string("OLYMPUS OPTICAL CO.,LTD.\0", 25), {0x01, 0x02, 0x03, 0x04, 0xff, 0x00}),
      Segment(0xfe, "Caf\xc3\xa9 cr\xc3\xa8me \xe2\x98\x95"),
      Segment(0xe1, std::string("http://ns.adobe.com/xap/1.0/\0", 29) + main),
      Segment(0xed, std::string("Photoshop 3.0\0", 14), resources),
      Segment(0xef, "", {0x01, 0x02, 0x03, 0xfe}),
      piece(60000, extended.size() - 60000),
      piece(0, 60000),
      Segment(0xe2, std::string("MPF\0MM\0*\0\0\0\x08", 12), {0, 0, 0, 0, 0, 0}),
      Segment(0xec, "Ducky", {0x00, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00, 0x50, 0x00, 0x00}),
      Segment(0xee, std::string("Adobe\0\x64\x80\0\0\0\0", 12)),
  };
}

namespace {

void PutBig32(std::vector<uint8>& out, uint32 v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8(v >> (24 - 8 * i)));
}

}  // namespace

void PutChunk(std::vector<uint8>& png, const char* type, const std::vector<uint8>& data) {
  PutBig32(png, uint32(data.size()));
  const size_t at = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  PutBig32(png, uint32(crc32(crc32(0, nullptr, 0), png.data() + at, uInt(png.size() - at))));
}

namespace {

// A zlib stream of stored (uncompressed) blocks.
std::vector<uint8> Stored(const std::vector<uint8>& data) {
  std::vector<uint8> z = {0x78, 0x01};
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(65535, data.size() - at);
    z.push_back(at + n == data.size() ? 1 : 0);
    z.insert(z.end(), {uint8(n), uint8(n >> 8), uint8(~n), uint8(~n >> 8)});
    z.insert(z.end(), data.begin() + long(at), data.begin() + long(at + n));
    at += n;
  } while (at < data.size());
  PutBig32(z, uint32(adler32(adler32(0, nullptr, 0), data.data(), uInt(data.size()))));
  return z;
}

}  // namespace

std::vector<uint8> GreyPngWithChunks(const std::vector<std::pair<std::string, std::vector<uint8>>>& chunks) {
  std::vector<uint8> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  PutChunk(png, "IHDR", {0, 0, 0, 8, 0, 0, 0, 8, 8, 0, 0, 0, 0});
  for (const auto& [type, data] : chunks) PutChunk(png, type.c_str(), data);
  std::vector<uint8> rows;
  for (int y = 0; y < 8; ++y) {
    rows.push_back(0);
    for (int x = 0; x < 8; ++x) rows.push_back(uint8(x * 32));
  }
  PutChunk(png, "IDAT", Stored(rows));
  PutChunk(png, "IEND", {});
  return png;
}

std::vector<uint8> GreyPngWithProfile(const std::vector<uint8>& profile) {
  std::vector<uint8> iccp = {'t', 'e', 's', 't', 0, 0};
  const std::vector<uint8> z = Stored(profile);
  iccp.insert(iccp.end(), z.begin(), z.end());
  return GreyPngWithChunks({{"iCCP", iccp}});
}

std::string DebianTool(const std::string& name) {
#ifdef _WIN32
  (void)name;
  return {};
#else
  const std::string path = "/usr/bin/" + name;
  return std::filesystem::exists(path) ? path : std::string();
#endif
}

namespace {

// The libpng calls alone: no C++ object lives across the setjmp.
bool WritePngRows(png_structp png, png_infop info, std::FILE* f, uint32 w, uint32 h, int bits, int colorType,
                  bool interlaced, const std::vector<png_color>& palette, const std::vector<uint8>& trns,
                  png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, f);
  png_set_IHDR(png, info, w, h, bits, colorType, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), int(palette.size()));
  if (!trns.empty()) png_set_tRNS(png, info, trns.data(), int(trns.size()), nullptr);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

bool WritePngDirect(const std::string& path, uint32 w, uint32 h, int bits, int colorType,
                    bool interlaced, const std::vector<uint8>& packedRows,
                    const std::vector<png_color>& palette, const std::vector<uint8>& trns) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  const size_t rowBytes = packedRows.size() / h;
  std::vector<png_bytep> rows(h);
  for (uint32 y = 0; y < h; ++y) rows[y] = const_cast<uint8*>(packedRows.data()) + y * rowBytes;
  const bool ok = WritePngRows(png, info, f, w, h, bits, colorType, interlaced, palette, trns, rows.data());
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
  return ok;
}

double MaxMeanDifference(const host::Image& a, int ax0, int ay0, int ax1, int ay1, const host::Image& b) {
  double worst = 0;
  for (int c = 0; c < 3; ++c) {
    auto mean = [c](const host::Image& im, int x0, int y0, int x1, int y1) {
      double sum = 0;
      const int plane = im.document.planes == 3 ? c : 0;
      for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) sum += im.document.Sample(x, y, plane)[0];
      }
      return sum / (double(x1 - x0) * double(y1 - y0));
    };
    worst = std::max(worst, std::fabs(mean(a, ax0, ay0, ax1, ay1) -
                                      mean(b, 0, 0, b.document.width, b.document.height)));
  }
  return worst;
}

// The thumbnail's picture part (centred, letterboxed) against a picture.
double ThumbnailDifference(const host::Image& thumbnail, const host::Image& picture) {
  const int tw = thumbnail.document.width, th = thumbnail.document.height;
  const double scale = std::min(double(tw) / picture.document.width, double(th) / picture.document.height);
  int iw = int(std::lround(picture.document.width * scale)), ih = int(std::lround(picture.document.height * scale));
  if (tw - iw <= 1) iw = tw;
  if (th - ih <= 1) ih = th;
  const int left = (tw - iw) / 2, top = (th - ih) / 2;
  return MaxMeanDifference(thumbnail, left + 1, top + 1, left + iw - 1, top + ih - 1, picture);
}
