// PNG, TIFF and JPEG against each other: every pair of formats at every
// depth they share, JPEG's quality and subsampling carried over, the JPEG
// layouts other encoders make, and what must be refused (shapes a format
// cannot hold, damaged and absurd files, multi-page TIFFs, a full disk,
// a cancelled run), each with a message that names the cause.
#include <gtest/gtest.h>
#define TIFF_DISABLE_DEPRECATED
#include <tiffio.h>
// jpeglib.h needs FILE and size_t declared first.
#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <atomic>
#include <filesystem>

#include "imageio/image_io.h"
#include "tests/image_test_support.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;
using host::Image;
using host::ImageFormat;

namespace {

class ImageFormats : public FolderTest {
 protected:
  ImageFormats() : FolderTest("image_formats_") {}

  Image Read(const std::string& name) {
    Image image;
    std::string error;
    EXPECT_TRUE(host::ReadImage(Path(name), image, &error)) << error;
    return image;
  }
  // The reason reading fails, after checking it names the file on one line.
  std::string Refusal(const std::string& name) {
    Image image;
    std::string error;
    EXPECT_FALSE(host::ReadImage(Path(name), image, &error)) << name;
    EXPECT_NE(error.find(name), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    return error;
  }
};

const char* Extension(ImageFormat f) {
  return f == ImageFormat::Png ? "png" : f == ImageFormat::Tiff ? "tif" : "jpg";
}

bool Holds(ImageFormat f, int32 depth, bool alpha) {
  if (f == ImageFormat::Jpeg) return depth == 8 && !alpha;
  if (f == ImageFormat::Png) return depth != 32;
  return true;
}

}  // namespace

// Each shape goes from each format to each other one that can hold it:
// lossless pairs come back bit for bit, and a JPEG on the way stays within
// what its quality allows.
TEST_F(ImageFormats, EveryPairOfFormatsAtEveryDepthTheyShare) {
  const ImageFormat formats[] = {ImageFormat::Png, ImageFormat::Tiff, ImageFormat::Jpeg};
  int checked = 0;
  for (int16 planes : {1, 3})
    for (int32 depth : {8, 16, 32})
      for (bool alpha : {false, true})
        for (ImageFormat from : formats)
          for (ImageFormat to : formats) {
            if (!Holds(from, depth, alpha) || !Holds(to, depth, alpha)) continue;
            SCOPED_TRACE(::testing::Message() << Extension(from) << " -> " << Extension(to) << " planes "
                                              << planes << " depth " << depth << " alpha " << alpha);
            const bool lossy = from == ImageFormat::Jpeg || to == ImageFormat::Jpeg;
            const Image source = lossy ? SmoothImage(67, 45, planes, depth, alpha)
                                       : NoiseImage(67, 45, planes, depth, alpha, uint32(checked));
            const std::string a = Path(std::string("a.") + Extension(from));
            const std::string b = Path(std::string("b.") + Extension(to));
            std::string error;
            ASSERT_TRUE(host::WriteImage(a, source, &error)) << error;
            const Image first = Read(fs::path(a).filename().string());
            EXPECT_EQ(first.format, from);
            ASSERT_TRUE(host::WriteImage(b, first, &error)) << error;
            const Image second = Read(fs::path(b).filename().string());
            EXPECT_EQ(second.format, to);
            const double difference = MaxDifference(source, second);
            ASSERT_GE(difference, 0) << "shape or alpha changed";
            // Quality 92 on smooth pictures: a few levels at most.
            EXPECT_LE(difference, lossy ? 6.0 : 0.0);
            ++checked;
          }
  // Per colour layout: 8-bit in 9 pairs, with alpha 4; 16-bit 4 and 4; float 1 and 1.
  EXPECT_EQ(checked, 2 * (9 + 4 + 4 + 4 + 1 + 1));
}

TEST_F(ImageFormats, ShapesAFormatCannotHoldAreRefusedBeforeAnyFileIsTouched) {
  struct Case {
    const char* name;
    int32 depth;
    bool alpha;
    const char* says;
  };
  const Case cases[] = {{"deep.jpg", 16, false, "8-bit"},  {"float.jpeg", 32, false, "8-bit"},
                        {"alpha.JPG", 8, true, "alpha"},    {"float.png", 32, false, "32-bit"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImageFormat format;
    ASSERT_TRUE(host::FormatFromName(c.name, &format));
    host::ImageShape shape;
    shape.width = 10;
    shape.height = 10;
    shape.depth = c.depth;
    shape.alpha = c.alpha;
    std::string why;
    EXPECT_FALSE(host::CanWrite(format, shape, &why));
    EXPECT_NE(why.find(c.says), std::string::npos) << why;
    EXPECT_NE(why.find("instead"), std::string::npos) << why;  // says what would work

    const Image image = NoiseImage(10, 10, 3, c.depth, c.alpha, 1);
    std::string error;
    EXPECT_FALSE(host::WriteImage(Path(c.name), image, &error));
    EXPECT_NE(error.find(c.name), std::string::npos) << error;
  }
  host::ImageShape wide;
  wide.width = 70000;
  wide.height = 2;
  std::string why;
  EXPECT_FALSE(host::CanWrite(ImageFormat::Jpeg, wide, &why));
  EXPECT_TRUE(host::CanWrite(ImageFormat::Tiff, wide, &why)) << why;
  EXPECT_TRUE(fs::is_empty(dir_));
}

// The quality a JPEG was made at is found again from its tables, and a JPEG
// written from a JPEG keeps that quality and its chroma subsampling; other
// inputs get 92, and an explicit quality wins.
TEST_F(ImageFormats, JpegQualityAndSubsamplingAreKept) {
  const Image smooth = SmoothImage(40, 24, 3, 8, false);
  for (int q : {1, 10, 49, 50, 51, 75, 90, 92, 99, 100}) {
    DirectJpeg recipe;
    recipe.quality = q;
    ASSERT_TRUE(WriteJpegDirect(Path("q.jpg"), smooth, recipe));
    EXPECT_EQ(Read("q.jpg").jpeg.quality, q);
  }
  std::string error;
  // A PNG's JPEG: 92, chroma at full resolution.
  ASSERT_TRUE(host::WriteImage(Path("default.jpg"), smooth, &error)) << error;
  Image made = Read("default.jpg");
  EXPECT_EQ(made.jpeg.quality, 92);
  EXPECT_EQ(made.jpeg.lumaH, 1);
  EXPECT_EQ(made.jpeg.lumaV, 1);
  // Quality 70 halves the chroma both ways; a JPEG written from it keeps both.
  host::WriteOptions options;
  options.quality = 70;
  ASSERT_TRUE(host::WriteImage(Path("q70.jpg"), smooth, &error, options)) << error;
  made = Read("q70.jpg");
  EXPECT_EQ(made.jpeg.quality, 70);
  EXPECT_EQ(made.jpeg.lumaH, 2);
  EXPECT_EQ(made.jpeg.lumaV, 2);
  ASSERT_TRUE(host::WriteImage(Path("again.jpg"), made, &error)) << error;
  const Image again = Read("again.jpg");
  EXPECT_EQ(again.jpeg.quality, 70);
  EXPECT_EQ(again.jpeg.lumaH, 2);
  // 4:2:2 from another encoder stays 4:2:2.
  made.jpeg.lumaH = 2;
  made.jpeg.lumaV = 1;
  ASSERT_TRUE(host::WriteImage(Path("422.jpg"), made, &error)) << error;
  EXPECT_EQ(Read("422.jpg").jpeg.lumaV, 1);
  options.quality = 35;
  ASSERT_TRUE(host::WriteImage(Path("q35.jpg"), again, &error, options)) << error;
  EXPECT_EQ(Read("q35.jpg").jpeg.quality, 35);
  options.quality = 101;
  EXPECT_FALSE(host::WriteImage(Path("q101.jpg"), again, &error, options));
  EXPECT_NE(error.find("1 to 100"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(Path("q101.jpg")));
}

// Progressive, restart-marker and arithmetic-coded files hold the same
// coefficients as a baseline file of the same quality, so they must decode
// to the same pixels; greyscale stays grey; CMYK and YCCK are refused.
TEST_F(ImageFormats, ReadsEveryJpegLayoutAndRefusesCmyk) {
  const Image smooth = SmoothImage(83, 61, 3, 8, false);
  DirectJpeg baseline;
  ASSERT_TRUE(WriteJpegDirect(Path("baseline.jpg"), smooth, baseline));
  const Image reference = Read("baseline.jpg");
  EXPECT_FALSE(reference.jpeg.progressive);
  DirectJpeg progressive = baseline, restarts = baseline, arithmetic = baseline;
  progressive.progressive = true;
  restarts.restartRows = 1;
  arithmetic.arithmetic = true;
  for (const auto& [name, recipe] : {std::pair{"progressive.jpg", progressive}, std::pair{"restarts.jpg", restarts},
                                   std::pair{"arithmetic.jpg", arithmetic}}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(WriteJpegDirect(Path(name), smooth, recipe));
    const Image image = Read(name);
    EXPECT_TRUE(image.document.pixels == reference.document.pixels);
    EXPECT_EQ(image.jpeg.progressive, recipe.progressive);
  }

  const Image grey = SmoothImage(50, 30, 1, 8, false);
  DirectJpeg greyRecipe;
  greyRecipe.components = 1;
  greyRecipe.quality = 100;
  ASSERT_TRUE(WriteJpegDirect(Path("grey.jpg"), grey, greyRecipe));
  const Image g = Read("grey.jpg");
  EXPECT_EQ(g.document.planes, 1);
  EXPECT_EQ(g.document.imageMode, plugInModeGrayScale);
  EXPECT_LE(MaxDifference(g, grey), 2.0);

  DirectJpeg cmyk;
  cmyk.components = 4;
  ASSERT_TRUE(WriteJpegDirect(Path("cmyk.jpg"), smooth, cmyk));
  EXPECT_NE(Refusal("cmyk.jpg").find("CMYK JPEGs are not supported"), std::string::npos);
  cmyk.colorSpace = JCS_YCCK;
  ASSERT_TRUE(WriteJpegDirect(Path("ycck.jpg"), smooth, cmyk));
  EXPECT_NE(Refusal("ycck.jpg").find("CMYK"), std::string::npos);

  // 12-bit samples and lossless coding: sound files of kinds we do not
  // read, which must not be called damaged. (The frame header's precision
  // byte and marker, changed in a baseline file.)
  std::vector<uint8> bytes = FileBytes(Path("baseline.jpg"));
  size_t sof = 2;
  while (sof + 4 < bytes.size() && !(bytes[sof] == 0xff && bytes[sof + 1] == 0xc0)) sof += 2 + (bytes[sof + 2] << 8 | bytes[sof + 3]);
  ASSERT_LT(sof + 4, bytes.size());
  std::vector<uint8> twelve = bytes;
  twelve[sof + 4] = 12;
  SaveBytes(Path("twelve.jpg"), twelve);
  const std::string why12 = Refusal("twelve.jpg");
  EXPECT_NE(why12.find("12-bit JPEGs are not supported"), std::string::npos) << why12;
  std::vector<uint8> lossless = bytes;
  lossless[sof + 1] = 0xc3;
  SaveBytes(Path("lossless.jpg"), lossless);
  const std::string whyLossless = Refusal("lossless.jpg");
  EXPECT_NE(whyLossless.find("not supported"), std::string::npos) << whyLossless;
  EXPECT_EQ(whyLossless.find("damaged"), std::string::npos) << whyLossless;
}

// A JPEG cut short or with damaged entropy data is refused: libjpeg would
// fill the missing blocks with grey and call it a warning.
TEST_F(ImageFormats, DamagedAndTruncatedJpegsAreRefused) {
  const Image smooth = SmoothImage(120, 96, 3, 8, false);
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "baseline");
    DirectJpeg recipe;
    recipe.progressive = progressive;
    ASSERT_TRUE(WriteJpegDirect(Path("good.jpg"), smooth, recipe));
    const std::vector<uint8> bytes = FileBytes(Path("good.jpg"));
    for (size_t keep : {size_t(2), size_t(20), size_t(200), bytes.size() / 2, bytes.size() - 40}) {
      const std::string name = "cut" + std::to_string(keep) + ".jpg";
      SaveBytes(Path(name), std::vector<uint8>(bytes.begin(), bytes.begin() + std::ptrdiff_t(keep)));
      const std::string why = Refusal(name);
      EXPECT_TRUE(why.find("damaged JPEG") != std::string::npos ||
                  why.find("truncated") != std::string::npos) << why;
    }
    // Markers in the middle of the entropy-coded data.
    std::vector<uint8> damaged = bytes;
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 16; i += 2) damaged[i] = 0xff, damaged[i + 1] = 0xd9 - 8;
    SaveBytes(Path("corrupt.jpg"), damaged);
    EXPECT_NE(Refusal("corrupt.jpg").find("damaged JPEG"), std::string::npos);
  }
  SaveBytes(Path("signature.jpg"), {0xff, 0xd8});
  EXPECT_NE(Refusal("signature.jpg").find("truncated"), std::string::npos);
}

// A header that claims far more pixels than the file could hold fails at
// once, before any memory is reserved for them.
TEST_F(ImageFormats, AbsurdHeadersAreRefusedBeforeAllocating) {
  // A PNG of 30000 x 20000 in under 100 bytes: the header and one tiny data chunk.
  std::vector<uint8> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                            0, 0, 0x75, 0x30, 0, 0, 0x4e, 0x20, 8, 2, 0, 0, 0};
  uint32 crc = 0xffffffffu;
  for (size_t i = 12; i < 29; ++i) {
    crc ^= png[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  crc ^= 0xffffffffu;
  for (int i = 0; i < 4; ++i) png.push_back(uint8(crc >> (24 - 8 * i)));
  const uint8 tail[] = {0, 0, 0, 2, 'I', 'D', 'A', 'T', 0x78, 0x9c, 0, 0, 0, 0};
  png.insert(png.end(), tail, tail + sizeof tail);
  SaveBytes(Path("claims.png"), png);
  EXPECT_NE(Refusal("claims.png").find("too small for the 30000 x 20000"), std::string::npos);

  for (uint16_t compression : {COMPRESSION_NONE, COMPRESSION_ADOBE_DEFLATE}) {
    const std::string name = "claims" + std::to_string(compression) + ".tif";
    TIFF* tif = TIFFOpen(Path(name).c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 30000u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 20000u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 20000u);
    uint8 bytes[4] = {};
    TIFFWriteRawStrip(tif, 0, bytes, 4);
    TIFFClose(tif);
    EXPECT_NE(Refusal(name).find("too small for the 30000 x 20000"), std::string::npos);
  }
}

TEST_F(ImageFormats, MultiPageTiffsAreRefusedWithTheirPageCount) {
  auto writePages = [&](const std::string& name, int pages, bool thumbnails) {
    TIFF* tif = TIFFOpen(Path(name).c_str(), "w");
    ASSERT_NE(tif, nullptr);
    for (int p = 0; p < pages; ++p) {
      const uint32 side = thumbnails && p > 0 ? 4 : 8;
      TIFFSetField(tif, TIFFTAG_SUBFILETYPE, uint32(thumbnails && p > 0 ? FILETYPE_REDUCEDIMAGE : 0));
      TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, side);
      TIFFSetField(tif, TIFFTAG_IMAGELENGTH, side);
      TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
      TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
      TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
      TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, side);
      std::vector<uint8> data(side * side, uint8(40 * p));
      TIFFWriteEncodedStrip(tif, 0, data.data(), tmsize_t(data.size()));
      TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
  };
  writePages("three.tif", 3, false);
  EXPECT_NE(Refusal("three.tif").find("has 3 pages"), std::string::npos);
  // A page with its reduced-resolution previews is one page.
  writePages("previews.tif", 3, true);
  const Image image = Read("previews.tif");
  EXPECT_EQ(image.document.width, 8);
  EXPECT_EQ(image.document.Get<uint8>(7, 7, 0), 0);
}

#ifndef _WIN32
// Writing to a full disk names the cause, whichever the format, instead of
// libtiff's "Write error at scanline 72".
TEST_F(ImageFormats, AFullDiskIsNamedAsTheCause) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const Image image = SmoothImage(600, 400, 3, 8, false);
  for (ImageFormat format : {ImageFormat::Png, ImageFormat::Tiff, ImageFormat::Jpeg}) {
    SCOPED_TRACE(Extension(format));
    std::FILE* full = std::fopen("/dev/full", "w+b");
    ASSERT_NE(full, nullptr);
    std::string error;
    EXPECT_FALSE(host::WriteImageToFile(full, format, image, &error));
    std::fclose(full);
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
  }
}
#endif

// Cancelling fails a read or a write at the next band, saying so.
TEST_F(ImageFormats, CancellingStopsReadingAndWritingAtTheNextBand) {
  const Image image = SmoothImage(64, 64, 3, 8, false);
  std::string error;
  for (const char* name : {"c.png", "c.tif", "c.jpg"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(host::WriteImage(Path(name), image, &error)) << error;
    std::atomic<bool> cancel{false};
    host::ReadOptions readOptions;
    readOptions.cancel = &cancel;
    host::ImageReader reader;
    ASSERT_TRUE(reader.Open(Path(name), &error, readOptions)) << error;
    std::vector<uint8> rows(reader.shape().RowBytes() * 8);
    ASSERT_TRUE(reader.ReadRows(8, rows.data(), reader.shape().RowBytes(), nullptr, 0, &error)) << error;
    cancel = true;
    EXPECT_FALSE(reader.ReadRows(8, rows.data(), reader.shape().RowBytes(), nullptr, 0, &error));
    EXPECT_NE(error.find("cancelled"), std::string::npos) << error;
    Image whole;
    EXPECT_FALSE(host::ReadImage(Path(name), whole, &error, readOptions));
    EXPECT_NE(error.find("cancelled"), std::string::npos) << error;

    host::WriteOptions writeOptions;
    writeOptions.cancel = &cancel;
    const std::vector<uint8> before = FileBytes(Path(name));
    EXPECT_FALSE(host::WriteImage(Path(name), image, &error, writeOptions));
    EXPECT_NE(error.find("cancelled"), std::string::npos) << error;
    EXPECT_EQ(FileBytes(Path(name)), before);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
}
