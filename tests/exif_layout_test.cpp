// EXIF as cameras write it, through every output: maker notes whose values
// are addressed from the TIFF header keep their offsets, directories that
// entries point to travel with them, thumbnails are made again from the
// corrected picture (or left out, never kept stale), a block whose entries
// all point at one megabyte costs that megabyte once, and damage is named.
#include <gtest/gtest.h>

// libtiff's own old integer names would clash with the host interface's.
#define TIFF_DISABLE_DEPRECATED
#include <tiffio.h>
#include <zlib.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "imageio/exif_block.h"
#include "imageio/image_io.h"
#include "tests/cli_test_support.h"
#include "tests/image_test_support.h"
#include "tests/run_program.h"
#include "tests/test_support.h"

using host::Image;
using namespace host::io;
using namespace cli_tests;

namespace {

class ExifFiles : public FolderTest {
 protected:
  ExifFiles() : FolderTest("exif_files_") {}
};

// Little-endian TIFF structures written byte by byte, offsets as we choose.
struct Bytes {
  std::vector<uint8> b;
  void U16(uint16 v) { b.push_back(uint8(v)), b.push_back(uint8(v >> 8)); }
  void U32(uint32 v) { U16(uint16(v)), U16(uint16(v >> 16)); }
  void Entry(uint16 tag, uint16 type, uint32 count, uint32 value) { U16(tag), U16(type), U32(count), U32(value); }
  void Text(const std::string& s, size_t size) {
    std::string t = s;
    t.resize(size, '\0');
    b.insert(b.end(), t.begin(), t.end());
  }
  void PadTo(size_t at) { b.resize(at, 0); }
};

// A JPEG of one flat colour, as a camera's thumbnail.
std::vector<uint8> FlatJpeg(const std::string& path, int w, int h, uint8 r, uint8 g, uint8 b) {
  Image image;
  image.document = host::MakeDocument(w, h, 3, 8);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8* p = image.document.Sample(x, y, 0);
      p[0] = r, p[1] = g, p[2] = b;
    }
  }
  std::string error;
  EXPECT_TRUE(host::WriteImage(path, image, &error)) << error;
  return FileBytes(path);
}

// A Canon-like block: its maker note is a directory whose values are
// addressed from the TIFF header, and it lies after the thumbnail at an
// offset no fresh layout would choose.
constexpr uint32 kMakerNoteGap = 40;
std::vector<uint8> CanonLikeExif(const std::vector<uint8>& thumbnail, uint32* makerNoteAt) {
  Bytes t;
  t.b = {'I', 'I', 42, 0};
  t.U32(8);
  const uint32 thumbAt = 152, thumbEnd = thumbAt + uint32((thumbnail.size() + 1) & ~size_t(1));
  const uint32 m = thumbEnd + kMakerNoteGap;
  *makerNoteAt = m;
  t.U16(3);  // IFD0 at 8
  t.Entry(0x010f, 2, 6, 50);
  t.Entry(0x0110, 2, 15, 56);
  t.Entry(0x8769, 4, 1, 72);
  t.U32(110);  // IFD1
  t.Text("Canon", 6);
  t.Text("Canon EOS Test", 16);
  t.U16(2);  // EXIF at 72
  t.Entry(0x829a, 5, 1, 102);
  t.Entry(0x927c, 7, 86, m);
  t.U32(0);
  t.U32(1), t.U32(250);
  t.U16(3);  // IFD1 at 110
  t.Entry(0x0103, 3, 1, 6);
  t.Entry(0x0201, 4, 1, thumbAt);
  t.Entry(0x0202, 4, 1, uint32(thumbnail.size()));
  t.U32(0);
  t.b.insert(t.b.end(), thumbnail.begin(), thumbnail.end());
  t.PadTo(m);
  t.U16(2);  // the maker note: values at offsets from the TIFF header
  t.Entry(0x0006, 2, 24, m + 30);
  t.Entry(0x0009, 2, 32, m + 54);
  t.U32(0);
  t.Text("Canon EOS Kestrel Test", 24);
  t.Text("J. Kestrel", 32);
  return t.b;
}

// A plain JPEG with `exif` spliced in as its APP1 segment, byte for byte.
void SaveJpegWithExif(const std::string& path, const Image& picture, const std::vector<uint8>& exif) {
  std::string error;
  ASSERT_TRUE(host::WriteImage(path, picture, &error)) << error;
  std::vector<uint8> jpeg = FileBytes(path);
  std::vector<uint8> app1 = {0xff, 0xe1, uint8((exif.size() + 8) >> 8), uint8(exif.size() + 8), 'E', 'x', 'i', 'f', 0, 0};
  app1.insert(app1.end(), exif.begin(), exif.end());
  jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
  SaveBytes(path, jpeg);
}

// The thumbnail shows the picture: their mean colours agree `within`.
void ExpectThumbnailShows(const Image& thumbnail, const Image& picture, double within) {
  EXPECT_LT(ThumbnailDifference(thumbnail, picture), within);
}

// The thumbnail of an EXIF block, decoded.
bool DecodeThumbnail(const std::vector<uint8>& exif, const std::string& scratch, Image* out) {
  ExifBlock b;
  if (exif.empty() || !ParseExif(exif.data(), exif.size(), &b) || b.thumbnail.empty()) return false;
  SaveBytes(scratch, std::vector<uint8>(b.thumbnail.begin(), b.thumbnail.end()));
  std::string error;
  return host::ReadImage(scratch, *out, &error);
}

}  // namespace

// The layout leaves the maker note's range to it alone, wherever it lies:
// at the very start (directories go around it) or far out (padded up to
// it), and moves it only past the largest block allowed, saying so.
TEST(ExifLayoutPlaces, EverythingAroundTheMakerNote) {
  const auto note = std::make_shared<const std::vector<uint8>>(std::vector<uint8>(300, 0x5a));
  for (const uint32 at : {8u, 64u, 5000u, 70000u}) {
    SCOPED_TRACE(at);
    ExifBlock b;
    b.PutAscii(kTagMake, "Kestrel Optics");
    b.PutAscii(kTagArtist, std::string(200, 'a'));
    b.exif.Put(ExifEntry{kTagMakerNote, kTypeUndefined, 300, ExifBytes(note, 0, 300, at), {}});
    b.exif.Put(ExifEntry{0x9286, kTypeUndefined, 100, std::vector<uint8>(100, 0x11), {}});  // UserComment
    b.gps.Put(ExifEntry{0x0001, kTypeAscii, 2, {'N', 0}, {}});
    LayoutOptions o;
    o.maxBytes = 65535;
    const ExifLayout l = LayOutExif(b, o);
    EXPECT_EQ(l.makerNoteKept, at + 300 <= o.maxBytes);
    ExifBlock r;
    ASSERT_TRUE(ParseExif(l.bytes.data(), l.bytes.size(), &r));
    EXPECT_EQ(r.Ascii(kTagArtist), std::string(200, 'a'));
    EXPECT_TRUE(r.exif.Find(0x9286)->value == std::vector<uint8>(100, 0x11));
    EXPECT_NE(r.gps.Find(0x0001), nullptr);
    ASSERT_NE(r.MakerNote(), nullptr);
    EXPECT_TRUE(r.MakerNote()->value == *note);
    if (l.makerNoteKept) {
      EXPECT_EQ(r.MakerNote()->value.origin(), at);
    }
  }
}

// The maker note's values are addressed from the TIFF header: wherever the
// block is laid out again (a JPEG or PNG whose thumbnail is not at the end,
// a TIFF whose first directory libtiff writes), the note stays at the
// offset it had, and ExifTool reads the same values from every output and
// from a JPEG made again from the TIFF.
TEST_F(ExifFiles, MakerNoteAddressedFromTheHeaderKeepsItsOffsetEverywhere) {
  uint32 m = 0;
  const std::vector<uint8> exif = CanonLikeExif(FlatJpeg(Path("thumb.jpg"), 40, 30, 200, 40, 40), &m);
  SaveJpegWithExif(Path("in.jpg"), SmoothImage(120, 90, 3, 8, false), exif);
  Image in;
  std::string error;
  ASSERT_TRUE(host::ReadImage(Path("in.jpg"), in, &error)) << error;
  ASSERT_EQ(in.exif, exif);

  for (const char* ext : {"jpg", "png", "tif"}) {
    SCOPED_TRACE(ext);
    std::vector<std::string> args = kWarmCast;
    args.push_back(Path("in.jpg"));
    args.push_back(Path(std::string("out.") + ext));
    const ProgramRun run = Apply(args);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const Image out = Read(Path(std::string("out.") + ext));
    ExifBlock b;
    ASSERT_TRUE(ParseExif(out.exif.data(), out.exif.size(), &b));
    ASSERT_NE(b.MakerNote(), nullptr);
    EXPECT_EQ(b.MakerNote()->value.origin(), m);
    EXPECT_TRUE(b.MakerNote()->value == std::vector<uint8>(exif.begin() + m, exif.end()));
  }
  // A TIFF's maker note lies at its file offset, and from there into a JPEG.
  std::vector<std::string> again = kWarmCast;
  again.push_back(Path("out.tif"));
  again.push_back(Path("again.jpg"));
  ASSERT_EQ(Apply(again).exitCode, 0);

  const std::string exiftool = DebianTool("exiftool");
  if (exiftool.empty()) GTEST_SKIP() << "exiftool is not installed (libimage-exiftool-perl)";
  for (const char* name : {"in.jpg", "out.jpg", "out.png", "out.tif", "again.jpg"}) {
    SCOPED_TRACE(name);
    const ProgramRun read = RunProgram(exiftool, {"-s3", "-Canon:CanonImageType", "-Canon:OwnerName", "-Warning",
                                                  "-ExposureTime", Path(name)});
    EXPECT_EQ(read.output, "Canon EOS Kestrel Test\nJ. Kestrel\n1/250\n");
  }
}

// Directories that entries point to (TIFF's SubIFDs, Kodak's private
// directories) travel with their entries, their offsets written afresh;
// sub-images whose pixels would be left behind are named and left out.
TEST_F(ExifFiles, DirectoriesEntriesPointToTravelWithThem) {
  ExifBlock b;
  b.PutAscii(kTagMake, "EASTMAN KODAK COMPANY");
  ExifEntry effects;
  effects.tag = 0xc36e;
  effects.type = kTypeLong;
  effects.count = 1;
  effects.value = {0, 0, 0, 0};
  ExifIfd inner;
  ExifEntry name;
  name.tag = 0x0001;
  name.type = kTypeUndefined;
  name.count = 16;
  name.value = {'U', 'N', 'I', 'C', 'O', 'D', 'E', 0, 0, 'N', 0, 'o', 0, 'n', 0, 'e'};
  inner.Put(name);
  effects.subIfds = {inner, inner};
  effects.count = 2;
  b.ifd0.Put(effects);
  ExifEntry subIfds = effects;  // TIFF's SubIFDs, here holding no sub-image
  subIfds.tag = kTagSubIfds;
  subIfds.count = 1;
  subIfds.subIfds.resize(1);
  b.ifd0.Put(subIfds);
  b.exif.Put(ExifEntry{0x829a, kTypeRational, 1, {0, 0, 0, 1, 0, 0, 0, 30}, {}});
  Image image = SmoothImage(64, 48, 3, 8, false);
  image.exif = SerializeExif(b);
  // A sub-image whose strips we do not follow.
  ExifBlock withStrips = b;
  ExifEntry sub;
  sub.tag = kTagSubIfds;
  sub.type = kTypeLong;
  sub.count = 1;
  sub.value = {0, 0, 0, 0};
  sub.subIfds.emplace_back();
  sub.subIfds[0].Put(ExifEntry{0x0111, kTypeLong, 1, {8, 0, 0, 0}, {}});
  withStrips.ifd0.Put(sub);
  const std::vector<uint8> stripped = SerializeExif(withStrips);
  std::vector<std::string> damage;
  ExifBlock parsed;
  ASSERT_TRUE(ParseExif(stripped.data(), stripped.size(), &parsed, &damage));
  EXPECT_EQ(parsed.ifd0.Find(kTagSubIfds), nullptr);
  ASSERT_EQ(damage.size(), 1u);
  EXPECT_NE(damage[0].find("sub-images"), std::string::npos) << damage[0];
  // More directories behind one entry than are followed: named, not lost
  // without a word.
  ExifBlock crowded = b;
  ExifEntry many = subIfds;
  many.count = 65;
  many.value = std::vector<uint8>(4 * 65, 0);
  many.subIfds.assign(65, inner);
  crowded.ifd0.Put(many);
  const std::vector<uint8> crowd = SerializeExif(crowded);
  damage.clear();
  ASSERT_TRUE(ParseExif(crowd.data(), crowd.size(), &parsed, &damage));
  EXPECT_EQ(parsed.ifd0.Find(kTagSubIfds), nullptr);
  ASSERT_EQ(damage.size(), 1u);
  EXPECT_NE(damage[0].find("too many behind one EXIF entry"), std::string::npos) << damage[0];

  for (const char* ext : {"jpg", "png", "tif"}) {
    SCOPED_TRACE(ext);
    std::string error;
    ASSERT_TRUE(host::WriteImage(Path(std::string("k.") + ext), image, &error)) << error;
    const Image back = Read(Path(std::string("k.") + ext));
    ExifBlock r;
    ASSERT_TRUE(ParseExif(back.exif.data(), back.exif.size(), &r));
    const ExifEntry* e = r.ifd0.Find(0xc36e);
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(e->subIfds.size(), 2u);
    for (const ExifIfd& d : e->subIfds) {
      ASSERT_NE(d.Find(0x0001), nullptr);
      EXPECT_TRUE(d.Find(0x0001)->value == std::vector<uint8>(name.value.begin(), name.value.end()));
    }
    ASSERT_NE(r.ifd0.Find(kTagSubIfds), nullptr);
    EXPECT_EQ(r.ifd0.Find(kTagSubIfds)->subIfds.size(), 1u);
    EXPECT_NE(r.exif.Find(0x829a), nullptr);
    // Nothing to change and no thumbnail: the block as it came.
    if (std::string(ext) != "tif") {
      EXPECT_EQ(back.exif, image.exif);
    }
  }
}

// The thumbnail shows the picture as written, at the old one's size, in
// every format; one that cannot be read, or cannot fit, is left out with a
// warning, never kept.
TEST_F(ExifFiles, ThumbnailsAreMadeAgainFromThePictureWritten) {
  const std::vector<uint8> green = FlatJpeg(Path("green.jpg"), 80, 60, 20, 220, 30);
  Image image = SmoothImage(200, 120, 3, 8, false);  // 5:3 in a 4:3 thumbnail: letterboxed
  ExifBlock b;
  b.PutAscii(kTagMake, "Kestrel Optics");
  b.ifd1.Put(ExifEntry{0x0103, kTypeShort, 1, {6, 0}, {}});
  b.thumbnail = green;
  image.exif = SerializeExif(b);
  for (const char* ext : {"jpg", "png"}) {
    SCOPED_TRACE(ext);
    std::string error;
    ASSERT_TRUE(host::WriteImage(Path(std::string("t.") + ext), image, &error)) << error;
    const Image back = Read(Path(std::string("t.") + ext));
    Image thumbnail;
    ASSERT_TRUE(DecodeThumbnail(back.exif, Path("t-thumb.jpg"), &thumbnail));
    EXPECT_EQ(thumbnail.document.width, 80);
    EXPECT_EQ(thumbnail.document.height, 60);
    ExpectThumbnailShows(thumbnail, back, 4);
  }
  // Deeper pictures are shrunk from their own samples: the same picture in
  // 16 bits (0..32768) and in floats shows the same colours.
  for (const int32 depth : {16, 32}) {
    SCOPED_TRACE(depth);
    Image deep = image;
    deep.document = host::MakeDocument(200, 120, 3, depth);
    for (int yy = 0; yy < 120; ++yy) {
      for (int xx = 0; xx < 200; ++xx) {
        for (int c = 0; c < 3; ++c) {
          const uint8 v = image.document.Sample(xx, yy, c)[0];
          if (depth == 16) {
            const uint16 h = uint16((uint32(v) * 32768u + 127u) / 255u);
            std::memcpy(deep.document.Sample(xx, yy, c), &h, 2);
          } else {
            const float f = float(v) / 255.0f;
            std::memcpy(deep.document.Sample(xx, yy, c), &f, 4);
          }
        }
      }
    }
    // PNG holds 16 bits; floats only TIFF, where the thumbnail is a
    // directory of the file that ExifTool takes out.
    const std::string name = Path("deep" + std::to_string(depth) + (depth == 16 ? ".png" : ".tif"));
    std::string error;
    ASSERT_TRUE(host::WriteImage(name, deep, &error)) << error;
    Image thumbnail;
    if (depth == 16) {
      Image back;
      ASSERT_TRUE(host::ReadImage(name, back, &error)) << error;
      ASSERT_TRUE(DecodeThumbnail(back.exif, Path("deep-thumb.jpg"), &thumbnail));
    } else {
      const std::string exiftool = DebianTool("exiftool");
      if (exiftool.empty()) continue;
      const ProgramRun run = RunProgram(exiftool, {"-b", "-ThumbnailImage", "-w", "%d%f-thumb.jpg", name});
      ASSERT_TRUE(host::ReadImage(Path("deep32-thumb.jpg"), thumbnail, &error)) << error << run.output;
    }
    EXPECT_EQ(thumbnail.document.width, 80);
    ExpectThumbnailShows(thumbnail, image, 4);
  }

  const std::string exiftool = DebianTool("exiftool");
  if (!exiftool.empty()) {
    std::string error;
    ASSERT_TRUE(host::WriteImage(Path("t.tif"), image, &error)) << error;
    const ProgramRun run = RunProgram(exiftool, {"-b", "-ThumbnailImage", "-w", "%d%f-thumb.jpg", Path("t.tif")});
    Image thumbnail;
    ASSERT_TRUE(host::ReadImage(Path("t-thumb.jpg"), thumbnail, &error)) << error << run.output;
    EXPECT_EQ(thumbnail.document.width, 80);
    ExpectThumbnailShows(thumbnail, Read(Path("t.tif")), 4);
  }

  // Unreadable: left out, and said.
  b.thumbnail = std::vector<uint8>{0xff, 0xd8, 0xff, 0xd9};
  image.exif = SerializeExif(b);
  std::vector<std::string> warnings;
  host::WriteOptions options;
  options.warnings = &warnings;
  std::string error;
  ASSERT_TRUE(host::WriteImage(Path("bad.jpg"), image, &error, options)) << error;
  ExifBlock back;
  const Image bad = Read(Path("bad.jpg"));
  ASSERT_TRUE(ParseExif(bad.exif.data(), bad.exif.size(), &back));
  EXPECT_TRUE(back.thumbnail.empty());
  EXPECT_EQ(back.Ascii(kTagMake), "Kestrel Optics");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("thumbnail"), std::string::npos);

  // In strips, uncompressed: not followed, so left out rather than kept.
  b.thumbnail.clear();
  b.ifd1 = ExifIfd();
  b.ifd1.Put(ExifEntry{0x0103, kTypeShort, 1, {1, 0}, {}});
  b.ifd1.Put(ExifEntry{0x0111, kTypeLong, 1, {8, 0, 0, 0}, {}});
  image.exif = SerializeExif(b);
  warnings.clear();
  ASSERT_TRUE(host::WriteImage(Path("strips.png"), image, &error, options)) << error;
  const std::vector<uint8> strips = Read(Path("strips.png")).exif;
  ASSERT_GE(strips.size(), 14u);
  const size_t link = 8 + 2 + size_t(strips[8]) * 12;  // little-endian, IFD0 at 8
  EXPECT_EQ(std::vector<uint8>(strips.begin() + link, strips.begin() + link + 4), std::vector<uint8>(4, 0));
  EXPECT_EQ(warnings.size(), 1u);
  warnings.clear();
  ASSERT_TRUE(host::WriteImage(Path("strips.tif"), image, &error, options)) << error;
  EXPECT_EQ(warnings.size(), 1u);  // a TIFF has no room for it either

  // A large thumbnail of noise in a JPEG's 64 KB: smaller quality, or none.
  Image noisy = NoiseImage(640, 480, 3, 8, false, 7);
  b.ifd1 = ExifIfd();
  b.ifd1.Put(ExifEntry{0x0103, kTypeShort, 1, {6, 0}, {}});  // a JPEG thumbnail again, not strips
  b.thumbnail = FlatJpeg(Path("big.jpg"), 480, 360, 1, 2, 3);
  noisy.exif = SerializeExif(b);
  warnings.clear();
  ASSERT_TRUE(host::WriteImage(Path("noisy.jpg"), noisy, &error, options)) << error;
  Image thumbnail;
  if (DecodeThumbnail(Read(Path("noisy.jpg")).exif, Path("noisy-thumb.jpg"), &thumbnail)) {
    EXPECT_TRUE(warnings.empty()) << warnings.front();
    EXPECT_EQ(thumbnail.document.width, 480);
    ExpectThumbnailShows(thumbnail, Read(Path("noisy.jpg")), 6);
  } else {
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("could not be made again within the room"), std::string::npos) << warnings[0];
  }
}

// 1000 entries that all point at the same megabyte of a 16 x 16 PNG: read,
// filtered and written in every format within 100 MB and 5 seconds, the
// PNG's block carried byte for byte.
TEST_F(ExifFiles, EntriesSharingOneValueCostItOnce) {
  const uint32 entries = 1000, big = 1000000;
  Bytes t;
  t.b = {'I', 'I', 42, 0};
  t.U32(8);
  t.U16(uint16(entries));
  const uint32 valueAt = 8 + 2 + entries * 12 + 4;
  for (uint32 i = 0; i < entries; ++i) t.Entry(uint16(0x9000 + i), kTypeUndefined, big, valueAt);
  t.U32(0);
  t.PadTo(valueAt + big);
  std::vector<uint8> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  PutChunk(png, "IHDR", {0, 0, 0, 16, 0, 0, 0, 16, 8, 2, 0, 0, 0});
  PutChunk(png, "eXIf", t.b);
  std::vector<uint8> raw(16 * (1 + 16 * 3), 90);
  for (size_t y = 0; y < 16; ++y) raw[y * (1 + 16 * 3)] = 0;
  std::vector<uint8> packed(compressBound(uLong(raw.size())));
  uLongf packedSize = uLongf(packed.size());
  ASSERT_EQ(compress(packed.data(), &packedSize, raw.data(), uLong(raw.size())), Z_OK);
  packed.resize(packedSize);
  PutChunk(png, "IDAT", packed);
  PutChunk(png, "IEND", {});
  SaveBytes(Path("bomb.png"), png);

#if defined(__SANITIZE_ADDRESS__)
  const long long limit = 400ll << 20;  // the sanitizer's shadow memory and quarantine
  const double seconds = 60;
#else
  const long long limit = 100ll << 20;
  const double seconds = 5;
#endif
  for (const char* ext : {"png", "tif", "jpg"}) {
    SCOPED_TRACE(ext);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::string> args = kWarmCast;
    args.push_back(Path("bomb.png"));
    args.push_back(Path(std::string("bomb-out.") + ext));
    const ProgramRun run = Apply(args);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_LT(took, seconds);
    if (run.peakMemory >= 0) {
      EXPECT_LT(run.peakMemory, limit);
    }
  }
  EXPECT_EQ(Read(Path("bomb-out.png")).exif, t.b);
}

// Damage is named when read and never crashes: an entry whose value lies
// outside the block, and a directory that the EXIF pointer misses.
TEST_F(ExifFiles, DamagedBlocksAreNamedWhenRead) {
  ExifBlock b;
  b.PutAscii(kTagMake, "Kestrel Optics");
  b.exif.Put(ExifEntry{0x829a, kTypeRational, 1, {0, 0, 0, 1, 0, 0, 0, 30}, {}});
  std::vector<uint8> exif = SerializeExif(b);
  // Make's value (14 bytes, out of line) moved past the end of the block.
  ExifBlock parsed;
  const size_t makeRecord = 8 + 2;
  exif[makeRecord + 8] = 0xf0, exif[makeRecord + 9] = 0xff;
  SaveJpegWithExif(Path("damaged.jpg"), SmoothImage(32, 24, 3, 8, false), exif);
  std::vector<std::string> warnings;
  host::ReadOptions options;
  options.warnings = &warnings;
  Image image;
  std::string error;
  ASSERT_TRUE(host::ReadImage(Path("damaged.jpg"), image, &error, options)) << error;
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("damaged EXIF entries"), std::string::npos) << warnings[0];
  ASSERT_TRUE(host::WriteImage(Path("damaged-out.tif"), image, &error)) << error;
  ASSERT_TRUE(ParseExif(Read(Path("damaged-out.tif")).exif.data(), Read(Path("damaged-out.tif")).exif.size(), &parsed));
  EXPECT_EQ(parsed.Ascii(kTagMake), "");
  EXPECT_NE(parsed.exif.Find(0x829a), nullptr);
}

// A thumbnail that cannot be made again within the room is found out only
// when the last rows have been written: kestrelle streams a picture band by
// band, so that is after the run's other words. It is still named, on
// standard error and against the output, and the old one is not kept.
TEST_F(ExifFiles, AThumbnailLeftOutAtTheEndOfAStreamedRunIsNamed) {
  ExifBlock b;
  b.PutAscii(kTagMake, "Kestrel Optics");
  b.ifd1.Put(ExifEntry{0x0103, kTypeShort, 1, {6, 0}, {}});
  b.thumbnail = FlatJpeg(Path("flat.jpg"), 512, 384, 90, 90, 90);  // few bytes, many pixels
  SaveJpegWithExif(Path("in.jpg"), NoiseImage(512, 384, 3, 8, false, 11), SerializeExif(b));
  const ProgramRun run = Apply({"--quiet", "--red-gain", "1.2", Path("in.jpg"), Path("out.jpg")});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("kestrelle: warning: " + Path("out.jpg") + ": the EXIF thumbnail could not be made again"),
            std::string::npos)
      << run.output;
  ExifBlock back;
  const Image out = Read(Path("out.jpg"));
  ASSERT_TRUE(ParseExif(out.exif.data(), out.exif.size(), &back));
  EXPECT_TRUE(back.thumbnail.empty());
  EXPECT_EQ(back.Ascii(kTagMake), "Kestrel Optics");
}

// A TIFF file's own reduced picture (SubIFDs, as DNG and pyramid writers
// make them) is never carried: its strips stay behind with the file, and a
// directory stripped of its storage tags would be a broken one.
TEST_F(ExifFiles, ATiffFilesReducedPictureDoesNotTravel) {
  TIFF* tif = TIFFOpen(Path("pyramid.tif").c_str(), "w");
  ASSERT_NE(tif, nullptr);
  for (const uint32 side : {32u, 16u}) {
    if (side == 32) {
      toff_t sub[1] = {0};
      TIFFSetField(tif, TIFFTAG_SUBIFD, 1, sub);
      TIFFSetField(tif, TIFFTAG_MAKE, "Kestrel Optics");
    } else {
      TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, side);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, side);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, side);
    std::vector<uint8> row(side * 3, 0x40);
    for (uint32 y = 0; y < side; ++y) ASSERT_EQ(TIFFWriteScanline(tif, row.data(), y, 0), 1);
    ASSERT_TRUE(TIFFWriteDirectory(tif));
  }
  TIFFClose(tif);

  std::vector<std::string> warnings;
  host::ReadOptions options;
  options.warnings = &warnings;
  Image image;
  std::string error;
  ASSERT_TRUE(host::ReadImage(Path("pyramid.tif"), image, &error, options)) << error;
  ExifBlock b;
  ASSERT_TRUE(ParseExif(image.exif.data(), image.exif.size(), &b));
  EXPECT_EQ(b.ifd0.Find(kTagSubIfds), nullptr);
  EXPECT_EQ(b.Ascii(kTagMake), "Kestrel Optics");
  for (const char* ext : {"jpg", "tif"}) {
    const std::string out = Path(std::string("pyramid-out.") + ext);
    ASSERT_TRUE(host::WriteImage(out, image, &error, {})) << error;
    Image back;
    ASSERT_TRUE(host::ReadImage(out, back, &error, options)) << error;
  }
  EXPECT_TRUE(warnings.empty()) << warnings.front();
}
