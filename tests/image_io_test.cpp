// PNG and TIFF files in and out of the host's documents: every layout we
// write must come back identical, files from other writers must read, and
// damaged files must fail with a message instead of a crash.
#include <gtest/gtest.h>
#include <png.h>
#define TIFF_DISABLE_DEPRECATED
#include <tiffio.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include "imageio/image_io.h"
#include "tests/image_test_support.h"
#include "tests/render_support.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;
using host::Image;
using host::ImageFormat;

namespace {

std::vector<uint8> Bytes(const std::string& path) { return FileBytes(path); }
void Save(const std::string& path, const std::vector<uint8>& bytes) { SaveBytes(path, bytes); }

class ImageIo : public FolderTest {
 protected:
  ImageIo() : FolderTest("image_io_") {}

  // Fails the test unless reading is refused with a message naming the file.
  void ExpectRejected(const std::string& name, const char* why) {
    SCOPED_TRACE(why);
    Image image;
    std::string error;
    EXPECT_FALSE(host::ReadImage(Path(name), image, &error));
    EXPECT_NE(error.find(name), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }

  // Names in the folder: a failed write must leave no temporary behind.
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

void ExpectSameImage(const Image& a, const Image& b) {
  EXPECT_EQ(a.document.width, b.document.width);
  EXPECT_EQ(a.document.height, b.document.height);
  EXPECT_EQ(a.document.planes, b.document.planes);
  EXPECT_EQ(a.document.depth, b.document.depth);
  EXPECT_EQ(a.document.imageMode, host::ModeFor(a.document.planes, a.document.depth));
  EXPECT_EQ(a.document.imageMode, b.document.imageMode);
  EXPECT_TRUE(a.document.pixels == b.document.pixels) << FirstDifference(a.document, b.document);
  EXPECT_TRUE(a.alpha == b.alpha);
}

// --- files from writers other than ours --------------------------------------

struct DirectTiff {
  uint32 width = 5, height = 4;
  uint16 photometric = PHOTOMETRIC_RGB, spp = 3, bits = 8, format = SAMPLEFORMAT_UINT;
  bool separate = false, tiled = false, bigEndian = false;
  std::vector<uint16> extra;  // ExtraSamples tag, omitted when empty
};

// A TIFF straight through libtiff; `samples` are interleaved in native order.
bool WriteTiffDirect(const std::string& path, const DirectTiff& t, const std::vector<uint8>& samples) {
  TIFF* tif = TIFFOpen(path.c_str(), t.bigEndian ? "wb" : "wl");
  if (!tif) return false;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, t.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, t.height);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, t.spp);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, t.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, t.format);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, t.photometric);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, t.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  if (!t.extra.empty()) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16(t.extra.size()), t.extra.data());
  if (t.photometric == PHOTOMETRIC_PALETTE) {
    std::vector<uint16> map(size_t(1) << t.bits, 0);
    TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
  }
  const size_t b = t.bits / 8, pixel = t.spp * b, n = t.separate ? b : pixel;
  // Sample s (all of them when contiguous) of a block of pixels, `stride` to a row.
  auto gather = [&](uint8* out, uint32 x0, uint32 y0, uint32 stride, uint16 s) {
    for (uint32 y = y0; y < std::min(y0 + 16, t.height); ++y)
      for (uint32 x = x0; x < std::min(x0 + stride, t.width); ++x)
        std::memcpy(out + ((y - y0) * stride + (x - x0)) * n,
                    &samples[(y * t.width + x) * pixel + (t.separate ? s * b : 0)], n);
  };
  bool ok = true;
  if (samples.empty()) {  // only the layout matters: zero rows
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, t.height);
    std::vector<uint8> row(size_t(TIFFScanlineSize(tif)), 0);
    for (uint32 y = 0; y < t.height; ++y) ok = ok && TIFFWriteScanline(tif, row.data(), y, 0) >= 0;
  } else if (t.tiled) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16u);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, 16u);
    std::vector<uint8> tile(size_t(TIFFTileSize(tif)), 0);
    for (uint16 s = 0; s < (t.separate ? t.spp : 1); ++s)
      for (uint32 y0 = 0; y0 < t.height; y0 += 16)
        for (uint32 x0 = 0; x0 < t.width; x0 += 16) {
          gather(tile.data(), x0, y0, 16, s);
          ok = ok && TIFFWriteTile(tif, tile.data(), x0, y0, 0, s) >= 0;
        }
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 2u);
    std::vector<uint8> rows(16 * t.width * pixel);
    for (uint16 s = 0; s < (t.separate ? t.spp : 1); ++s)
      for (uint32 y0 = 0; y0 < t.height; y0 += 16) {
        gather(rows.data(), 0, y0, t.width, s);
        for (uint32 y = y0; y < std::min(y0 + 16, t.height); ++y)
          ok = ok && TIFFWriteScanline(tif, &rows[(y - y0) * t.width * n], y, s) >= 0;
      }
  }
  TIFFClose(tif);
  return ok;
}

}  // namespace

// --- the 16-bit scaling ---------------------------------------------------------

TEST(ImageIoScaling, SixteenBitIsExactReversibleAndSaturating) {
  EXPECT_EQ(host::FileFromHost16(0), 0);
  EXPECT_EQ(host::HostFromFile16(0), 0);
  EXPECT_EQ(host::FileFromHost16(32768), 65535);
  EXPECT_EQ(host::HostFromFile16(65535), 32768);
  for (uint32 h = 0; h <= 32768; ++h) {
    ASSERT_EQ(host::HostFromFile16(host::FileFromHost16(uint16(h))), h);
  }
  for (uint32 v = 0; v <= 65535; ++v) {
    const uint16 h = host::HostFromFile16(uint16(v));
    ASSERT_LE(h, 32768);
    // The file value comes back within one step: nothing drifts on a round trip.
    ASSERT_LE(std::abs(int(host::FileFromHost16(h)) - int(v)), 1) << v;
  }
  EXPECT_EQ(host::FileFromHost16(32769), 65535);
  EXPECT_EQ(host::FileFromHost16(65535), 65535);
}

// --- round trips ----------------------------------------------------------------

TEST_F(ImageIo, EveryLayoutWeWriteReadsBackIdentically) {
  struct Case {
    const char* ext;
    int16 planes;
    int32 depth;
    bool alpha;
    bool separate;
    uint16 compression;
  };
  std::vector<Case> cases;
  for (int16 planes : {1, 3})
    for (bool alpha : {false, true}) {
      for (int32 depth : {8, 16}) cases.push_back({"png", planes, depth, alpha, false, 0});
      const uint16 codecs[] = {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE,
                               COMPRESSION_PACKBITS};
      int k = 0;
      for (int32 depth : {8, 16, 32})
        for (bool separate : {false, true}) {
          if (separate && planes == 1 && !alpha) continue;
          cases.push_back({"tif", planes, depth, alpha, separate, codecs[k++ % 4]});
        }
    }
  uint32 seed = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.ext << " planes " << c.planes << " depth " << c.depth
                                      << " alpha " << c.alpha << " separate " << c.separate
                                      << " compression " << c.compression);
    // Odd sizes, and tall enough for several strips of every layout.
    Image source = NoiseImage(301, 467, c.planes, c.depth, c.alpha, seed++);
    source.format = c.ext[0] == 't' ? ImageFormat::Tiff : ImageFormat::Png;
    source.alphaKind = c.separate ? host::AlphaKind::Premultiplied : host::AlphaKind::Straight;
    source.tiff.separatePlanes = c.separate;
    source.tiff.compression = c.compression;
    const std::string path = Path(std::string("image.") + c.ext);
    std::string error;
    ASSERT_TRUE(host::WriteImage(path, source, &error)) << error;
    Image back;
    ASSERT_TRUE(host::ReadImage(path, back, &error)) << error;
    ExpectSameImage(back, source);
    EXPECT_EQ(back.format, source.format);
    if (source.format == ImageFormat::Tiff) {
      EXPECT_EQ(back.tiff.compression, c.compression);
      EXPECT_EQ(back.tiff.separatePlanes, c.separate);
      if (c.alpha) {
        EXPECT_EQ(back.alphaKind, source.alphaKind);
      }
    }
    // A file written over: the new picture replaces the old one.
    ASSERT_TRUE(host::WriteImage(path, back, &error)) << error;
    Image again;
    ASSERT_TRUE(host::ReadImage(path, again, &error)) << error;
    ExpectSameImage(again, source);
  }
  EXPECT_EQ(Listing(), (std::vector<std::string>{"image.png", "image.tif"}));
}

TEST_F(ImageIo, OutOfRangeHostValuesSaturateInsteadOfWrapping) {
  Image source = NoiseImage(4, 3, 3, 16, false, 7);
  source.document.Set<uint16>(0, 0, 0, 32769);
  source.document.Set<uint16>(1, 0, 1, 65535);
  std::string error;
  for (const char* name : {"over.png", "over.tiff"}) {
    ASSERT_TRUE(host::WriteImage(Path(name), source, &error)) << error;
    Image back;
    ASSERT_TRUE(host::ReadImage(Path(name), back, &error)) << error;
    EXPECT_EQ(back.document.Get<uint16>(0, 0, 0), 32768) << name;
    EXPECT_EQ(back.document.Get<uint16>(1, 0, 1), 32768) << name;
  }
}

TEST_F(ImageIo, KeepsProfileResolutionAndTiffLayoutAcrossFormats) {
  Image source = NoiseImage(9, 7, 3, 8, false, 3);
  // An RGB display profile as far as libpng looks: a header and one tag of
  // incompressible bytes (libpng drops iCCP chunks under 92 bytes).
  source.iccProfile.resize(400);
  for (size_t i = 0; i < 400; ++i) source.iccProfile[i] = uint8(i * 2654435761u >> 13);
  std::memset(source.iccProfile.data(), 0, 128);
  auto put = [&](size_t at, const char* four) { std::memcpy(&source.iccProfile[at], four, 4); };
  put(0, "\0\0\x01\x90");  // 400 bytes
  put(128, "\0\0\0\x01");  // one tag: 'desc' at 144, 256 bytes
  put(132, "desc");
  put(136, "\0\0\0\x90");
  put(140, "\0\0\x01\0");
  put(8, "\x02\x10\0\0");
  put(12, "mntr");
  put(16, "RGB ");
  put(20, "XYZ ");
  put(36, "acsp");
  put(68, "\0\0\xf6\xd6");  // D50
  put(72, "\0\x01\0\0");
  put(76, "\0\0\xd3\x2d");
  source.iccProfileName = "test profile";
  source.resolution = {true, host::ResolutionUnit::Inch, 300, 150};
  source.format = ImageFormat::Tiff;
  source.tiff.orientation = 6;  // 90 degrees clockwise
  std::string error;
  ASSERT_TRUE(host::WriteImage(Path("meta.tif"), source, &error)) << error;
  Image tiff;
  ASSERT_TRUE(host::ReadImage(Path("meta.tif"), tiff, &error)) << error;
  EXPECT_EQ(tiff.iccProfile, source.iccProfile);
  EXPECT_EQ(tiff.tiff.orientation, 6);
  EXPECT_EQ(tiff.resolution.unit, host::ResolutionUnit::Inch);
  EXPECT_DOUBLE_EQ(tiff.resolution.x, 300);
  EXPECT_DOUBLE_EQ(tiff.resolution.y, 150);
  // PNG keeps the profile (with a name, which PNG requires) and pixels per metre.
  tiff.iccProfileName = "test profile";
  ASSERT_TRUE(host::WriteImage(Path("meta.png"), tiff, &error)) << error;
  Image png;
  ASSERT_TRUE(host::ReadImage(Path("meta.png"), png, &error)) << error;
  EXPECT_EQ(png.iccProfile, source.iccProfile);
  EXPECT_EQ(png.iccProfileName, "test profile");
  EXPECT_EQ(png.resolution.unit, host::ResolutionUnit::Centimetre);
  EXPECT_NEAR(png.resolution.x * 2.54, 300, 0.02);
  EXPECT_NEAR(png.resolution.y * 2.54, 150, 0.02);
  ExpectSameImage(png, source);
  // Without a profile, PNG's sRGB and gamma chunks come back.
  png.iccProfile.clear();
  png.pngSrgbIntent = 1;
  png.pngGamma = 45455;
  ASSERT_TRUE(host::WriteImage(Path("srgb.png"), png, &error)) << error;
  Image srgb;
  ASSERT_TRUE(host::ReadImage(Path("srgb.png"), srgb, &error)) << error;
  EXPECT_EQ(srgb.pngSrgbIntent, 1);
  EXPECT_EQ(srgb.pngGamma, 45455u);
}

TEST_F(ImageIo, RecognisesFilesByContentAndNamesByExtensionInAnyCase) {
  Image source = NoiseImage(6, 5, 1, 16, true, 4);
  std::string error;
  ASSERT_TRUE(host::WriteImage(Path("a.TiFf"), source, &error)) << error;
  ASSERT_TRUE(host::WriteImage(Path("b.PNG"), source, &error)) << error;
  fs::rename(Path("a.TiFf"), Path("tiff-named.png"));
  fs::rename(Path("b.PNG"), Path("png-named.tif"));
  Image tiff, png;
  ASSERT_TRUE(host::ReadImage(Path("tiff-named.png"), tiff, &error)) << error;
  ASSERT_TRUE(host::ReadImage(Path("png-named.tif"), png, &error)) << error;
  EXPECT_EQ(tiff.format, ImageFormat::Tiff);
  EXPECT_EQ(png.format, ImageFormat::Png);
  ExpectSameImage(tiff, source);
  ExpectSameImage(png, source);
}

TEST_F(ImageIo, ReadsTheSamplePhotograph) {
  // The project's own copy, so the test runs wherever the project is.
  const std::string photo = std::string(KESTRELLE_SOURCE_DIR) + "/tests/data/coffee.png";
  // (A Windows build under Wine may not reach the source folder.)
  if (!fs::exists(photo)) GTEST_SKIP() << "no sample photograph at " << photo;
  Image image;
  std::string error;
  ASSERT_TRUE(host::ReadImage(photo, image, &error)) << error;
  EXPECT_EQ(image.document.width, 600);
  EXPECT_EQ(image.document.height, 400);
  EXPECT_EQ(image.document.imageMode, plugInModeRGBColor);
  ASSERT_TRUE(host::WriteImage(Path("coffee.tif"), image, &error)) << error;
  Image back;
  ASSERT_TRUE(host::ReadImage(Path("coffee.tif"), back, &error)) << error;
  ExpectSameImage(back, image);
}

TEST_F(ImageIo, ExpandsPalettesLowBitGreyTransparencyAndInterlacing) {
  // 2-bit grey, interlaced: 0..3 become 0, 85, 170, 255.
  std::vector<uint8> grey = {0x1B, 0xE4, 0x1B, 0xE4};  // each row: 0 1 2 3 3 2 1 0
  ASSERT_TRUE(WritePngDirect(Path("grey2.png"), 8, 2, 2, PNG_COLOR_TYPE_GRAY, true, grey, {}, {}));
  Image image;
  std::string error;
  ASSERT_TRUE(host::ReadImage(Path("grey2.png"), image, &error)) << error;
  EXPECT_EQ(image.document.planes, 1);
  EXPECT_EQ(image.document.depth, 8);
  EXPECT_EQ(image.document.Get<uint8>(1, 0, 0), 85);
  EXPECT_EQ(image.document.Get<uint8>(4, 1, 0), 255);
  EXPECT_EQ(image.document.Get<uint8>(5, 1, 0), 170);
  EXPECT_TRUE(image.alpha.empty());

  // A palette whose second entry is half transparent: RGB plus alpha.
  std::vector<png_color> palette = {{10, 20, 30}, {200, 100, 50}};
  ASSERT_TRUE(WritePngDirect(Path("palette.png"), 3, 1, 8, PNG_COLOR_TYPE_PALETTE, false,
                             {0, 1, 0}, palette, {255, 128}));
  ASSERT_TRUE(host::ReadImage(Path("palette.png"), image, &error)) << error;
  EXPECT_EQ(image.document.planes, 3);
  EXPECT_EQ(image.document.Get<uint8>(1, 0, 0), 200);
  EXPECT_EQ(image.document.Get<uint8>(1, 0, 2), 50);
  EXPECT_EQ(image.alpha, (std::vector<uint8>{255, 128, 255}));
}

TEST_F(ImageIo, ReadsTiledBigEndianAndUnlabelledAlphaTiffs) {
  DirectTiff t;
  t.width = 37;  // tiles of 16 reach past both edges
  t.height = 21;
  t.spp = 4;
  t.bits = 16;
  std::vector<uint8> samples(size_t(t.width) * t.height * t.spp * 2);
  for (size_t i = 0; i < samples.size() / 2; ++i) {
    const uint16 v = uint16(i * 2654435761u >> 7);
    std::memcpy(&samples[2 * i], &v, 2);
  }
  for (bool tiled : {true, false})
    for (bool separate : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "tiled " << tiled << " separate " << separate);
      t.tiled = tiled;
      t.separate = separate;
      t.bigEndian = true;
      ASSERT_TRUE(WriteTiffDirect(Path("direct.tif"), t, samples));
      Image image;
      std::string error;
      ASSERT_TRUE(host::ReadImage(Path("direct.tif"), image, &error)) << error;
      ASSERT_EQ(image.document.planes, 3);
      ASSERT_EQ(image.alpha.size(), size_t(t.width) * t.height * 2);
      EXPECT_EQ(image.alphaKind, host::AlphaKind::Unspecified);
      for (uint32 y = 0; y < t.height; ++y)
        for (uint32 x = 0; x < t.width; ++x)
          for (int s = 0; s < 4; ++s) {
            uint16 file, got;
            std::memcpy(&file, &samples[((y * t.width + x) * 4 + s) * 2], 2);
            if (s < 3) {
              got = image.document.Get<uint16>(int32(x), int32(y), s);
              file = host::HostFromFile16(file);
            } else {
              std::memcpy(&got, &image.alpha[(y * t.width + x) * 2], 2);
            }
            ASSERT_EQ(got, file) << x << "," << y << " sample " << s;
          }
    }
}

// --- refusals -------------------------------------------------------------------

TEST_F(ImageIo, RefusesUnsupportedTiffLayouts) {
  struct Case {
    const char* why;
    DirectTiff t;
  };
  DirectTiff base;
  std::vector<Case> cases(6, Case{"", base});
  cases[0].why = "1-bit";
  cases[0].t.photometric = PHOTOMETRIC_MINISBLACK, cases[0].t.spp = 1, cases[0].t.bits = 1;
  cases[1].why = "CMYK";
  cases[1].t.photometric = PHOTOMETRIC_SEPARATED, cases[1].t.spp = 4;
  cases[2].why = "two extra samples";
  cases[2].t.spp = 5, cases[2].t.extra = {EXTRASAMPLE_UNASSALPHA, EXTRASAMPLE_UNSPECIFIED};
  cases[3].why = "signed 16-bit";
  cases[3].t.bits = 16, cases[3].t.format = SAMPLEFORMAT_INT;
  cases[4].why = "64-bit float";
  cases[4].t.bits = 64, cases[4].t.format = SAMPLEFORMAT_IEEEFP;
  cases[5].why = "palette";
  cases[5].t.photometric = PHOTOMETRIC_PALETTE, cases[5].t.spp = 1;
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string name = "unsupported" + std::to_string(i) + ".tif";
    ASSERT_TRUE(WriteTiffDirect(Path(name), cases[i].t, {})) << cases[i].why;
    ExpectRejected(name, cases[i].why);
  }
}

TEST_F(ImageIo, RefusesEmptyGarbageTruncatedAndCorruptFiles) {
  Save(Path("empty.png"), {});
  ExpectRejected("empty.png", "empty");
  Save(Path("garbage.tif"), std::vector<uint8>(300, 0x42));
  ExpectRejected("garbage.tif", "garbage");
  ExpectRejected("missing.png", "missing");
  fs::create_directories(Path("folder.png"));
  ExpectRejected("folder.png", "a folder");

  std::string error;
  for (const char* ext : {"png", "tif"}) {
    Image source = NoiseImage(64, 64, 3, 16, true, 9);
    const std::string good = Path(std::string("good.") + ext);
    ASSERT_TRUE(host::WriteImage(good, source, &error)) << error;
    const std::vector<uint8> bytes = Bytes(good);
    // Cut inside the header, inside the pixel data, and just before the end.
    for (size_t keep : {size_t(5), size_t(12), size_t(40), bytes.size() / 2, bytes.size() - 1}) {
      // Our TIFFs end in the Software tag's text, which libtiff drops when cut.
      if (ext[0] == 't' && keep == bytes.size() - 1) continue;
      const std::string name = "cut" + std::to_string(keep) + "." + ext;
      Save(Path(name), std::vector<uint8>(bytes.begin(), bytes.begin() + std::ptrdiff_t(keep)));
      ExpectRejected(name, "truncated");
    }
    // Damage in the middle of the (deflated) pixel data.
    std::vector<uint8> damaged = bytes;
    for (size_t i = bytes.size() / 3; i < bytes.size() / 3 + 64; ++i) damaged[i] ^= 0xA5;
    Save(Path(std::string("corrupt.") + ext), damaged);
    ExpectRejected(std::string("corrupt.") + ext, "corrupt pixel data");
  }
  // A TIFF header pointing past the end of the file for its directory.
  std::vector<uint8> lost = Bytes(Path("good.tif"));
  lost[4] = lost[5] = lost[6] = 0xff, lost[7] = 0x7f;
  Save(Path("lost.tif"), lost);
  ExpectRejected("lost.tif", "no directory");
}

TEST_F(ImageIo, RefusesZeroAndAbsurdDimensions) {
  // A PNG's IHDR carries width and height; rewrite them with a fresh CRC.
  Image tiny = NoiseImage(2, 2, 3, 8, false, 1);
  std::string error;
  ASSERT_TRUE(host::WriteImage(Path("tiny.png"), tiny, &error)) << error;
  const std::vector<uint8> png = Bytes(Path("tiny.png"));
  auto withSize = [&](uint32 w, uint32 h) {
    std::vector<uint8> b = png;
    for (int i = 0; i < 4; ++i) {
      b[16 + i] = uint8(w >> (24 - 8 * i));
      b[20 + i] = uint8(h >> (24 - 8 * i));
    }
    uint32 crc = 0xffffffffu;  // over "IHDR" and its 13 data bytes
    for (size_t i = 12; i < 29; ++i) {
      crc ^= b[i];
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    crc ^= 0xffffffffu;
    for (int i = 0; i < 4; ++i) b[29 + i] = uint8(crc >> (24 - 8 * i));
    return b;
  };
  Save(Path("zero.png"), withSize(0, 2));
  ExpectRejected("zero.png", "zero width");
  Save(Path("wide.png"), withSize(3000000, 1));
  ExpectRejected("wide.png", "too wide");
  Save(Path("huge.png"), withSize(100000, 100000));
  ExpectRejected("huge.png", "over 2 GiB");

  // A TIFF directory claiming 2,000,001 x 1 and one claiming 60,000 squared.
  for (uint32 w : {2000001u, 60000u}) {
    const std::string name = "huge" + std::to_string(w) + ".tif";
    TIFF* tif = TIFFOpen(Path(name).c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, w == 60000u ? 60000u : 1u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1u);
    uint8 row[1] = {0};
    TIFFWriteEncodedStrip(tif, 0, row, 1);  // one strip of data is enough for a directory
    TIFFClose(tif);
    ExpectRejected(name, "absurd TIFF");
  }
}

// --- refused writes ---------------------------------------------------------------

TEST_F(ImageIo, AFailedWriteLeavesTheTargetAndNoTemporary) {
  Image source = NoiseImage(8, 8, 3, 32, false, 2);
  Save(Path("keep.png"), {1, 2, 3});
  std::string error;
  EXPECT_FALSE(host::WriteImage(Path("keep.png"), source, &error));
  EXPECT_NE(error.find("keep.png"), std::string::npos) << error;
  EXPECT_NE(error.find(".tif"), std::string::npos) << error;  // says what would work
  EXPECT_EQ(Bytes(Path("keep.png")), (std::vector<uint8>{1, 2, 3}));

  // The whole file is written, then cannot take the place of a folder.
  fs::create_directories(Path("folder.tif/inside"));
  EXPECT_FALSE(host::WriteImage(Path("folder.tif"), source, &error));
  EXPECT_NE(error.find("folder.tif"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_directory(Path("folder.tif/inside")));

  EXPECT_FALSE(host::WriteImage(Path("no/such/folder/x.tif"), source, &error));
  EXPECT_NE(error.find("no/such/folder/x.tif"), std::string::npos) << error;
  EXPECT_FALSE(host::WriteImage(Path("picture.jpg"), source, &error));
  EXPECT_NE(error.find("picture.jpg"), std::string::npos) << error;

  source.alpha.resize(3);  // a buffer that does not match the image
  EXPECT_FALSE(host::WriteImage(Path("keep.tif"), source, &error));
  EXPECT_EQ(Listing(), (std::vector<std::string>{"folder.tif", "keep.png"}));
}
