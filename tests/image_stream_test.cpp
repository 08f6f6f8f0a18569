// Rows through ImageReader and ImageWriter: any band size and any row
// stride gives exactly what the whole-image calls give, for every layout
// each format has; misuse fails cleanly; and a streaming pass over a large
// PNG holds a band, not the image (measured in a child process).
#include <gtest/gtest.h>
#include <png.h>
#define TIFF_DISABLE_DEPRECATED
#include <tiffio.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "imageio/image_io.h"
#include "tests/image_test_support.h"
#include "tests/run_program.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;
using host::Image;
using host::ImageFormat;

namespace {

class ImageStream : public FolderTest {
 protected:
  ImageStream() : FolderTest("image_stream_") {}
};

struct TiffRecipe {
  uint16_t compression = COMPRESSION_NONE;
  uint32_t rowsPerStrip = 3;
  bool separate = false, tiled = false, bigEndian = false;
};

// An image as a TIFF straight through libtiff, in layouts our writer never makes.
bool WriteTiff(const std::string& path, const Image& image, const TiffRecipe& t) {
  const host::Document& d = image.document;
  const int spp = d.planes + (image.alpha.empty() ? 0 : 1);
  const int b = d.SampleBytes();
  // The file's samples: colours (16-bit scaled to 0..65535), then alpha.
  std::vector<uint8> samples(size_t(d.width) * d.height * spp * b);
  for (int32 y = 0; y < d.height; ++y)
    for (int32 x = 0; x < d.width; ++x)
      for (int s = 0; s < spp; ++s) {
        uint8* out = &samples[((size_t(y) * d.width + x) * spp + s) * b];
        if (s == d.planes) {
          std::memcpy(out, &image.alpha[(size_t(y) * d.width + x) * b], b);
        } else if (b == 2) {
          const uint16 v = host::FileFromHost16(d.Get<uint16>(x, y, s));
          std::memcpy(out, &v, 2);
        } else {
          std::memcpy(out, d.Sample(x, y, s), b);
        }
      }
  TIFF* tif = TIFFOpen(path.c_str(), t.bigEndian ? "wb" : "wl");
  if (!tif) return false;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(d.width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(d.height));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(spp));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(d.depth));
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, uint16_t(d.depth == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT));
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(d.planes == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB));
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t(t.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG));
  TIFFSetField(tif, TIFFTAG_COMPRESSION, t.compression);
  if (spp > d.planes) {
    const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), &extra);
  }
  const size_t pixel = size_t(spp) * b, n = t.separate ? size_t(b) : pixel;
  bool ok = true;
  if (t.tiled) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16u);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, 16u);
    std::vector<uint8> tile(size_t(TIFFTileSize(tif)), 0);
    for (int s = 0; s < (t.separate ? spp : 1); ++s)
      for (int32 y0 = 0; y0 < d.height; y0 += 16)
        for (int32 x0 = 0; x0 < d.width; x0 += 16) {
          std::fill(tile.begin(), tile.end(), 0);
          for (int32 y = y0; y < std::min(y0 + 16, d.height); ++y)
            for (int32 x = x0; x < std::min(x0 + 16, d.width); ++x)
              std::memcpy(&tile[(size_t(y - y0) * 16 + (x - x0)) * n],
                          &samples[(size_t(y) * d.width + x) * pixel + (t.separate ? s * b : 0)], n);
          ok = ok && TIFFWriteTile(tif, tile.data(), uint32_t(x0), uint32_t(y0), 0, uint16_t(s)) >= 0;
        }
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, t.rowsPerStrip);
    std::vector<uint8> row(size_t(d.width) * n);
    for (int s = 0; s < (t.separate ? spp : 1); ++s)
      for (int32 y = 0; y < d.height; ++y) {
        for (int32 x = 0; x < d.width; ++x)
          std::memcpy(&row[size_t(x) * n], &samples[(size_t(y) * d.width + x) * pixel + (t.separate ? s * b : 0)], n);
        ok = ok && TIFFWriteScanline(tif, row.data(), uint32_t(y), uint16_t(s)) >= 0;
      }
  }
  TIFFClose(tif);
  return ok;
}

// An interlaced PNG straight through libpng (our writer never interlaces).
bool WriteInterlacedPng(const std::string& path, const Image& image) {
  const host::Document& d = image.document;
  if (d.depth != 8 || !image.alpha.empty()) return false;
  return WritePngDirect(path, uint32(d.width), uint32(d.height), 8,
                        d.planes == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, true, d.pixels, {}, {});
}

// Reads the file in bands of `band` rows with `padding` bytes between rows,
// alpha kept or dropped, and compares every row with the whole-image read.
void ExpectBandsMatch(const std::string& path, const Image& whole, int32 band, size_t padding, bool keepAlpha) {
  SCOPED_TRACE(::testing::Message() << "band " << band << " padding " << padding << " alpha " << keepAlpha);
  host::ImageReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(path, &error)) << error;
  const host::ImageShape& s = reader.shape();
  ASSERT_EQ(s.width, whole.document.width);
  ASSERT_EQ(s.height, whole.document.height);
  ASSERT_EQ(s.alpha, !whole.alpha.empty());
  const size_t rowBytes = s.RowBytes(), stride = rowBytes + padding;
  const size_t alphaBytes = s.AlphaRowBytes(), alphaStride = alphaBytes + padding;
  std::vector<uint8> colour(stride * size_t(band)), alpha(alphaStride * size_t(band));
  for (int32 y = 0; y < s.height; y += band) {
    const int32 rows = std::min(band, s.height - y);
    ASSERT_TRUE(reader.ReadRows(rows, colour.data(), stride, keepAlpha ? alpha.data() : nullptr, alphaStride, &error))
        << error;
    for (int32 r = 0; r < rows; ++r) {
      ASSERT_EQ(std::memcmp(colour.data() + size_t(r) * stride, whole.document.Sample(0, y + r, 0), rowBytes), 0)
          << "row " << y + r;
      if (keepAlpha && s.alpha) {
        ASSERT_EQ(std::memcmp(alpha.data() + size_t(r) * alphaStride, &whole.alpha[size_t(y + r) * alphaBytes],
                              alphaBytes), 0) << "alpha row " << y + r;
      }
    }
  }
  EXPECT_FALSE(reader.ReadRows(1, colour.data(), stride, nullptr, 0, &error));  // past the end
  EXPECT_NE(error.find("outside the image"), std::string::npos) << error;
}

// The memory the process holds of its own (not the program's mapped code,
// whose pages come and go with what other processes ran): resident
// anonymous memory on Linux, committed private memory on Windows.
int64_t PrivateMemory() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
  return int64_t(counters.PagefileUsage);
#else
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, f)) {
    if (std::sscanf(line, "RssAnon: %ld kB", &kib) == 1) break;
  }
  std::fclose(f);
  return kib < 0 ? -1 : int64_t(kib) * 1024;
#endif
}

std::string TestProgram() {
#ifdef _WIN32
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
#else
  return fs::read_symlink("/proc/self/exe").string();
#endif
}

}  // namespace

TEST_F(ImageStream, BandsOfAnySizeGiveWhatTheWholeReadGives) {
  struct File {
    std::string name;
    std::function<bool(const std::string&)> make;
  };
  const Image rgb8 = NoiseImage(45, 37, 3, 8, false, 1);
  const Image grey16a = NoiseImage(45, 37, 1, 16, true, 2);
  const Image rgb16a = NoiseImage(45, 37, 3, 16, true, 3);
  const Image rgb32 = NoiseImage(45, 37, 3, 32, false, 4);
  const Image smooth = SmoothImage(45, 37, 3, 8, false);
  auto ours = [](const Image& image) {
    return [&image](const std::string& path) {
      std::string error;
      return host::WriteImage(path, image, &error);
    };
  };
  auto tiff = [](const Image& image, TiffRecipe recipe) {
    return [&image, recipe](const std::string& path) { return WriteTiff(path, image, recipe); };
  };
  TiffRecipe deflate, separate, tiled, tiledSeparate, bigEndian, oneStrip;
  deflate.compression = separate.compression = COMPRESSION_ADOBE_DEFLATE;
  deflate.rowsPerStrip = 5;
  separate.separate = tiledSeparate.separate = true;
  tiled.tiled = tiledSeparate.tiled = true;
  bigEndian.bigEndian = true;
  oneStrip.rowsPerStrip = 1000;
  DirectJpeg progressive;
  progressive.progressive = true;
  const File files[] = {
      {"rgb8.png", ours(rgb8)},
      {"grey16a.png", ours(grey16a)},
      {"interlaced.png", [&](const std::string& p) { return WriteInterlacedPng(p, rgb8); }},
      {"raw.tif", tiff(rgb8, TiffRecipe())},
      {"raw-alpha16.tif", tiff(rgb16a, TiffRecipe())},
      {"raw-big-endian16.tif", tiff(rgb16a, bigEndian)},
      {"raw-big-endian32.tif", tiff(rgb32, bigEndian)},
      {"raw-one-strip.tif", tiff(grey16a, oneStrip)},
      {"deflate.tif", tiff(rgb8, deflate)},
      {"deflate16.tif", tiff(rgb16a, deflate)},
      {"separate.tif", tiff(rgb16a, separate)},
      {"tiled.tif", tiff(rgb32, tiled)},
      {"tiled-separate.tif", tiff(grey16a, tiledSeparate)},
      {"baseline.jpg", ours(smooth)},
      {"progressive.jpg", [&](const std::string& p) { return WriteJpegDirect(p, smooth, progressive); }},
  };
  for (const File& f : files) {
    SCOPED_TRACE(f.name);
    const std::string path = Path(f.name);
    ASSERT_TRUE(f.make(path));
    Image whole;
    std::string error;
    ASSERT_TRUE(host::ReadImage(path, whole, &error)) << error;
    for (int32 band : {1, 4, 64}) ExpectBandsMatch(path, whole, band, band == 4 ? 13 : 0, band != 64);
  }
}

// A file written band by band, from rows with gaps between them, is the
// very file the whole-image write makes, for every format.
TEST_F(ImageStream, BandsWrittenMakeTheSameFileAsAWholeWrite) {
  Image noise = NoiseImage(53, 301, 3, 16, true, 5);
  Image raw = NoiseImage(53, 301, 3, 8, false, 6);
  raw.format = ImageFormat::Tiff;
  raw.tiff.compression = COMPRESSION_NONE;
  Image separate = noise;
  separate.format = ImageFormat::Tiff;
  separate.tiff.separatePlanes = true;
  const Image smooth = SmoothImage(53, 301, 3, 8, false);
  const struct {
    const char* name;
    const Image* image;
  } cases[] = {{"noise.png", &noise}, {"noise.tif", &noise}, {"raw.tif", &raw},
               {"separate.tif", &separate}, {"smooth.jpg", &smooth}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ImageFormat format;
    ASSERT_TRUE(host::FormatFromName(c.name, &format));
    std::string error;
    ASSERT_TRUE(host::WriteImage(Path(c.name), *c.image, &error)) << error;
    const std::vector<uint8> expected = FileBytes(Path(c.name));
    const host::ImageShape s = host::ShapeOf(*c.image);
    for (int32 band : {1, 7, 1000}) {
      for (size_t padding : {size_t(0), size_t(5)}) {
        SCOPED_TRACE(::testing::Message() << "band " << band << " padding " << padding);
        const size_t stride = s.RowBytes() + padding, alphaStride = s.AlphaRowBytes() + padding;
        std::vector<uint8> colour(stride * size_t(s.height)), alpha(alphaStride * size_t(s.height));
        for (int32 y = 0; y < s.height; ++y) {
          std::memcpy(&colour[size_t(y) * stride], c.image->document.Sample(0, y, 0), s.RowBytes());
          if (s.alpha) std::memcpy(&alpha[size_t(y) * alphaStride], &c.image->alpha[size_t(y) * s.AlphaRowBytes()], s.AlphaRowBytes());
        }
        const std::string path = Path("streamed");
        std::FILE* f = std::fopen(path.c_str(), "w+b");
        ASSERT_NE(f, nullptr);
        host::ImageWriter writer;
        bool ok = writer.Start(f, format, s, *c.image, &error);
        for (int32 y = 0; ok && y < s.height; y += band) {
          const int32 rows = std::min(band, s.height - y);
          ok = writer.WriteRows(rows, &colour[size_t(y) * stride], stride,
                                s.alpha ? &alpha[size_t(y) * alphaStride] : nullptr, alphaStride, &error);
        }
        ok = ok && writer.Finish(&error);
        std::fclose(f);
        ASSERT_TRUE(ok) << error;
        EXPECT_TRUE(FileBytes(path) == expected);
      }
    }
  }
}

TEST_F(ImageStream, MisuseFailsWithAReason) {
  const Image image = NoiseImage(8, 6, 3, 8, true, 7);
  std::FILE* f = std::fopen(Path("short.png").c_str(), "w+b");
  ASSERT_NE(f, nullptr);
  std::string error;
  host::ImageWriter writer;
  ASSERT_TRUE(writer.Start(f, ImageFormat::Png, host::ShapeOf(image), image, &error)) << error;
  EXPECT_FALSE(writer.WriteRows(2, image.document.pixels.data(), 24, nullptr, 0, &error));
  EXPECT_NE(error.find("alpha"), std::string::npos) << error;
  host::ImageWriter again;
  std::rewind(f);
  ASSERT_TRUE(again.Start(f, ImageFormat::Png, host::ShapeOf(image), image, &error)) << error;
  ASSERT_TRUE(again.WriteRows(2, image.document.pixels.data(), 24, image.alpha.data(), 8, &error)) << error;
  EXPECT_FALSE(again.WriteRows(5, image.document.pixels.data(), 24, image.alpha.data(), 8, &error));
  EXPECT_NE(error.find("outside the image"), std::string::npos) << error;
  host::ImageWriter early;
  std::rewind(f);
  ASSERT_TRUE(early.Start(f, ImageFormat::Png, host::ShapeOf(image), image, &error)) << error;
  ASSERT_TRUE(early.WriteRows(2, image.document.pixels.data(), 24, image.alpha.data(), 8, &error)) << error;
  EXPECT_FALSE(early.Finish(&error));
  EXPECT_NE(error.find("only 2 of 6 rows"), std::string::npos) << error;
  std::fclose(f);
}

// The child half of the bounded-memory test: streams the file it is given
// into an uncompressed TIFF, a band of 64 rows at a time, and prints how far
// its own memory rose meanwhile. Run only by the test below.
TEST(ImageStreamChild, DISABLED_StreamsAFileAndReportsItsMemory) {
  const char* in = std::getenv("KESTRELLE_STREAM_IN");
  const char* out = std::getenv("KESTRELLE_STREAM_OUT");
  ASSERT_TRUE(in && out);
  host::ImageReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(in, &error)) << error;
  const host::ImageShape& s = reader.shape();
  host::ImageProperties p = reader.properties();
  p.format = ImageFormat::Tiff;
  p.tiff.compression = COMPRESSION_NONE;
  std::FILE* f = std::fopen(out, "w+b");
  ASSERT_NE(f, nullptr);
  host::ImageWriter writer;
  ASSERT_TRUE(writer.Start(f, ImageFormat::Tiff, s, p, &error)) << error;
  std::vector<uint8> band(s.RowBytes() * 64);
  // Measured from the end of the first tenth, when every buffer and every
  // library's state exists (under the sanitizers, with their bookkeeping),
  // to the last band, with reader and writer still open: what grows in
  // between grows with the image.
  int64_t before = -1;
  for (int32 y = 0; y < s.height; y += 64) {
    const int32 rows = std::min(64, s.height - y);
    ASSERT_TRUE(reader.ReadRows(rows, band.data(), s.RowBytes(), nullptr, 0, &error)) << error;
    ASSERT_TRUE(writer.WriteRows(rows, band.data(), s.RowBytes(), nullptr, 0, &error)) << error;
    if (before < 0 && y >= s.height / 10) before = PrivateMemory();
  }
  const int64_t rise = PrivateMemory() - before;
  ASSERT_TRUE(writer.Finish(&error)) << error;
  std::fclose(f);
  // The instrument itself: 48 MiB touched must show.
  std::vector<uint8> probe(size_t(48) << 20, 1);
  for (size_t i = 0; i < probe.size(); i += 4096) probe[i] = uint8(i);
  const int64_t probed = PrivateMemory() - before;
  std::printf("memory rose by %lld bytes, %lld with the probe (%d)\n", static_cast<long long>(rise),
              static_cast<long long>(probed), int(probe[4096]));
}

TEST_F(ImageStream, AStreamingPassHoldsABandNotTheImage) {
  // 6000 x 4000 RGB: 72 MB of samples, written band by band so that making
  // it needs no more memory than reading it.
  const int32 width = 6000, height = 4000;
  host::ImageShape s;
  s.width = width;
  s.height = height;
  std::FILE* f = std::fopen(Path("large.png").c_str(), "w+b");
  ASSERT_NE(f, nullptr);
  std::string error;
  host::ImageWriter writer;
  ASSERT_TRUE(writer.Start(f, ImageFormat::Png, s, host::ImageProperties(), &error)) << error;
  std::vector<uint8> rows(s.RowBytes() * 100);
  for (int32 y = 0; y < height; y += 100) {
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = uint8((i / 3 + size_t(y)) >> 4);
    ASSERT_TRUE(writer.WriteRows(100, rows.data(), s.RowBytes(), nullptr, 0, &error)) << error;
  }
  ASSERT_TRUE(writer.Finish(&error)) << error;
  std::fclose(f);

#ifdef _WIN32
  _putenv_s("KESTRELLE_STREAM_IN", Path("large.png").c_str());
  _putenv_s("KESTRELLE_STREAM_OUT", Path("large.tif").c_str());
#else
  setenv("KESTRELLE_STREAM_IN", Path("large.png").c_str(), 1);
  setenv("KESTRELLE_STREAM_OUT", Path("large.tif").c_str(), 1);
#endif
  const ProgramRun run = RunProgram(TestProgram(), {"--gtest_also_run_disabled_tests",
                                                    "--gtest_filter=ImageStreamChild.*"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const size_t at = run.output.find("memory rose by ");
  ASSERT_NE(at, std::string::npos) << "the child said: " << run.output;
  const long long rise = std::atoll(run.output.c_str() + at + 15);
  RecordProperty("memory", run.output.substr(at, run.output.find('\n', at) - at));
  const size_t probeAt = run.output.find(", ", at);
  ASSERT_NE(probeAt, std::string::npos) << run.output;
  EXPECT_GE(std::atoll(run.output.c_str() + probeAt + 2), 40ll << 20) << "the peak is not measured: " << run.output;
  // Nine tenths of the picture are 65 MB.
  EXPECT_LT(rise, 16ll << 20) << "a streaming pass held " << rise << " bytes more";
  // And the pass was real: the TIFF holds the picture.
  host::ImageReader tiff;
  ASSERT_TRUE(tiff.Open(Path("large.tif"), &error)) << error;
  EXPECT_EQ(tiff.shape().width, width);
  EXPECT_EQ(tiff.shape().height, height);
  std::vector<uint8> last(s.RowBytes());
  for (int32 y = 0; y < height; ++y) ASSERT_TRUE(tiff.ReadRows(1, last.data(), s.RowBytes(), nullptr, 0, &error));
  // Byte 3000 of the last row: row 99 of the band that starts at 3900.
  EXPECT_EQ(last[3000], uint8(((99 * s.RowBytes() + 3000) / 3 + 3900) >> 4));
}

// A compressed strip too big to hold (here one strip of 67 MB) is decoded
// line by line, so it streams like any other layout.
TEST_F(ImageStream, AHugeCompressedStripIsDecodedLineByLine) {
  const uint32_t width = 8192, height = 8200;
  auto value = [](uint32_t x, uint32_t y) { return uint8((x / 7 + y * 3) ^ (y >> 5)); };
  TIFF* tif = TIFFOpen(Path("one-strip.tif").c_str(), "w");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 1);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
  std::vector<uint8> row(width);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) row[x] = value(x, y);
    ASSERT_GE(TIFFWriteScanline(tif, row.data(), y, 0), 0);
  }
  TIFFClose(tif);

  host::ImageReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(Path("one-strip.tif"), &error)) << error;
  std::vector<uint8> band(size_t(width) * 100);
  for (uint32_t y = 0; y < height; y += 100) {
    const int32 rows = int32(std::min<uint32_t>(100, height - y));
    ASSERT_TRUE(reader.ReadRows(rows, band.data(), width, nullptr, 0, &error)) << error;
    for (int32 r = 0; r < rows; r += 37)
      for (uint32_t x = 0; x < width; x += 101) ASSERT_EQ(band[size_t(r) * width + x], value(x, y + uint32_t(r)));
  }
}
