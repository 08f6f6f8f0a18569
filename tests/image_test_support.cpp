#include "tests/image_test_support.h"

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
