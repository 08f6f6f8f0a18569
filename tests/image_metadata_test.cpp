// Metadata across formats: EXIF blocks parse and lay out again (in either
// byte order, damaged ones without harm); profile, EXIF, XMP, IPTC, text
// and resolution survive chains of PNG, TIFF and JPEG files; and what we
// write is what ExifTool, an independent reader, reads back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "imageio/exif_block.h"
#include "imageio/image_io.h"
#include "imageio/metadata.h"
#include "tests/image_test_support.h"
#include "tests/run_program.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;
using host::Image;
using host::ImageFormat;
using namespace host::io;

namespace {

class ImageMetadata : public FolderTest {
 protected:
  ImageMetadata() : FolderTest("image_metadata_") {}
};

ExifEntry Entry(uint16 tag, uint16 type, uint32 count, std::vector<uint8> value) {
  ExifEntry e;
  e.tag = tag;
  e.type = type;
  e.count = count;
  e.value = std::move(value);
  return e;
}

// A camera's EXIF block, big-endian: make and model, orientation 6, an
// exposure time and ISO, a maker note, an interoperability directory, a
// GPS position and a thumbnail.
std::vector<uint8> CameraExif() {
  ExifBlock b;
  b.bigEndian = true;
  b.PutAscii(kTagMake, "Kestrel Optics");
  b.PutAscii(kTagModel, "K-1");
  b.PutShort(kTagOrientation, 6);
  b.exif.Put(Entry(0x829a, kTypeRational, 1, {0, 0, 0, 1, 0, 0, 0, 250}));       // ExposureTime 1/250
  b.exif.Put(Entry(0x8827, kTypeShort, 1, {0, 200}));                          // ISO 200
  b.exif.Put(Entry(0x927c, kTypeUndefined, 10, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));  // MakerNote
  b.interop.Put(Entry(0x0001, kTypeAscii, 4, {'R', '9', '8', 0}));
  b.gps.Put(Entry(0x0001, kTypeAscii, 2, {'N', 0}));
  b.gps.Put(Entry(0x0002, kTypeRational, 3,
                  {0, 0, 0, 48, 0, 0, 0, 1, 0, 0, 0, 30, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}));  // 48 30 0
  b.ifd1.Put(Entry(0x0103, kTypeShort, 1, {0, 6}));
  b.thumbnail = {0xff, 0xd8, 0xff, 0xd9};
  return SerializeExif(b);
}

// The numbers in an entry, whatever its byte order.
std::vector<double> Values(const ExifEntry* e, bool bigEndian) {
  std::vector<double> out;
  if (!e) return out;
  auto u32 = [&](size_t at) {
    const uint8* p = &e->value[at];
    return bigEndian ? uint32(p[0]) << 24 | uint32(p[1]) << 16 | uint32(p[2]) << 8 | p[3]
                     : uint32(p[3]) << 24 | uint32(p[2]) << 16 | uint32(p[1]) << 8 | p[0];
  };
  for (uint32 i = 0; i < e->count; ++i) {
    if (e->type == kTypeShort) {
      const uint8* p = &e->value[2 * i];
      out.push_back(bigEndian ? p[0] << 8 | p[1] : p[1] << 8 | p[0]);
    } else if (e->type == kTypeRational) {
      out.push_back(double(u32(8 * i)) / u32(8 * i + 4));
    } else {
      out.push_back(e->value[i]);
    }
  }
  return out;
}

void ExpectCameraExif(const std::vector<uint8>& exif, uint16 orientation = 6) {
  ExifBlock b;
  ASSERT_TRUE(ParseExif(exif.data(), exif.size(), &b));
  EXPECT_EQ(b.Ascii(kTagMake), "Kestrel Optics");
  EXPECT_EQ(b.Ascii(kTagModel), "K-1");
  EXPECT_EQ(b.Short(kTagOrientation), orientation);
  EXPECT_EQ(Values(b.exif.Find(0x829a), b.bigEndian), std::vector<double>{1.0 / 250});
  EXPECT_EQ(Values(b.exif.Find(0x8827), b.bigEndian), std::vector<double>{200});
  EXPECT_EQ(Values(b.gps.Find(0x0002), b.bigEndian), (std::vector<double>{48, 30, 0}));
  ASSERT_NE(b.exif.Find(0x927c), nullptr);
  EXPECT_EQ(b.exif.Find(0x927c)->value, (std::vector<uint8>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_NE(b.interop.Find(0x0001), nullptr);
}

std::vector<uint8> IptcRecords() {
  // 2:25 Keywords "kestrel", 2:90 City "Basel"
  return {0x1c, 2, 25, 0, 7, 'k', 'e', 's', 't', 'r', 'e', 'l', 0x1c, 2, 90, 0, 5, 'B', 'a', 's', 'e', 'l'};
}

const char kXmp[] =
    "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
    "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about='' "
    "xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:title><rdf:Alt><rdf:li xml:lang='x-default'>Espresso"
    "</rdf:li></rdf:Alt></dc:title></rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end='w'?>";

host::ImageProperties RichProperties() {
  host::ImageProperties p;
  p.iccProfile = TestIccProfile("Kestrelle test profile");
  p.iccProfileName = "test";
  p.exif = CameraExif();
  p.xmp = kXmp;
  p.iptc = IptcRecords();
  p.text.description = "A cup of espresso";
  p.text.software = "Kestrelle tests";
  p.text.dateTime = "2026:12:08 10:11:12";
  p.text.artist = "J. Kestrel";
  p.text.copyright = "(c) 2026 J. Kestrel, \xc3\xa9tude";  // not all ASCII
  p.resolution = {true, host::ResolutionUnit::Inch, 300, 300};
  p.pngText.push_back({"Comment", "brewed at 93 degrees", false, false, "", ""});
  return p;
}

}  // namespace

TEST(ExifBlock, LaysOutWhatItParsedInEitherByteOrder) {
  const std::vector<uint8> camera = CameraExif();
  ExpectCameraExif(camera);
  ExifBlock b;
  ASSERT_TRUE(ParseExif(camera.data(), camera.size(), &b));
  EXPECT_EQ(b.thumbnail, (std::vector<uint8>{0xff, 0xd8, 0xff, 0xd9}));
  EXPECT_TRUE(SerializeExif(b) == camera);  // nothing changed: the same bytes

  // Inside a little-endian TIFF at offset 1000: values are swapped, the
  // interoperability directory stays linked.
  uint32 exifAt = 0, gpsAt = 0;
  const std::vector<uint8> sub = SerializeTiffSubIfds(b, 1000, false, &exifAt, &gpsAt);
  EXPECT_EQ(exifAt, 1000u);
  EXPECT_GT(gpsAt, exifAt);
  std::vector<uint8> file(1000 + sub.size(), 0);
  std::copy(sub.begin(), sub.end(), file.begin() + 1000);
  const ReadAt read = [&file](uint64_t at, size_t n, uint8* out) {
    if (at > file.size() || n > file.size() - at) return false;
    std::memcpy(out, file.data() + at, n);
    return true;
  };
  ExifIfd exif, interop, gps;
  ASSERT_TRUE(ParseIfdAt(read, file.size(), false, exifAt, &exif, &interop));
  ASSERT_TRUE(ParseIfdAt(read, file.size(), false, gpsAt, &gps, nullptr));
  EXPECT_EQ(Values(exif.Find(0x829a), false), std::vector<double>{1.0 / 250});
  EXPECT_EQ(Values(exif.Find(0x8827), false), std::vector<double>{200});
  EXPECT_EQ(Values(gps.Find(0x0002), false), (std::vector<double>{48, 30, 0}));
  ASSERT_NE(interop.Find(0x0001), nullptr);
  EXPECT_EQ(interop.Find(0x0001)->value, (std::vector<uint8>{'R', '9', '8', 0}));
}

TEST(ExifBlock, DamagedBlocksAreReadAsFarAsTheyGoWithoutHarm) {
  const std::vector<uint8> camera = CameraExif();
  ExifBlock b;
  EXPECT_FALSE(ParseExif(camera.data(), 7, &b));
  std::vector<uint8> bad = camera;
  bad[0] = 'X';
  EXPECT_FALSE(ParseExif(bad.data(), bad.size(), &b));
  // Cut anywhere: whatever parses is in bounds (the sanitizers watch).
  for (size_t keep = 8; keep < camera.size(); ++keep) ParseExif(camera.data(), keep, &b);
  // A directory that points to itself as the next one, and an absurd count.
  std::vector<uint8> loop = camera;
  const size_t n = size_t(loop[8]) << 8 | loop[9];
  const size_t next = 8 + 2 + n * 12;
  loop[next] = 0, loop[next + 1] = 0, loop[next + 2] = 0, loop[next + 3] = 8;
  ASSERT_TRUE(ParseExif(loop.data(), loop.size(), &b));
  EXPECT_EQ(b.Ascii(kTagMake), "Kestrel Optics");
  std::vector<uint8> huge = camera;
  huge[8] = 0xff, huge[9] = 0xff;
  EXPECT_FALSE(ParseExif(huge.data(), huge.size(), &b));
  // Random bytes after a valid header.
  std::vector<uint8> noise = camera;
  for (size_t i = 10; i < noise.size(); ++i) noise[i] = uint8(i * 2654435761u >> 11);
  ParseExif(noise.data(), noise.size(), &b);
}

TEST(ImageMetadataText, DatesRawProfilesAndLatin1Convert) {
  EXPECT_EQ(PngDate("2026:12:08 10:11:12"), "2026-12-08T10:11:12");
  std::string tiff;
  ASSERT_TRUE(TiffDate("2026-12-08T10:11:12+01:00", &tiff));
  EXPECT_EQ(tiff, "2026:12:08 10:11:12");
  ASSERT_TRUE(TiffDate("2026:12:08 10:11:12", &tiff));
  EXPECT_FALSE(TiffDate("Tue, 8 Dec 2026 10:11:12 GMT", &tiff));
  EXPECT_EQ(PngDate("yesterday"), "yesterday");

  const std::vector<uint8> bytes = IptcRecords();
  std::vector<uint8> back;
  ASSERT_TRUE(FromRawProfile(RawProfile("iptc", bytes), &back));
  EXPECT_EQ(back, bytes);
  EXPECT_FALSE(FromRawProfile("\niptc\n      99\n1c02", &back));  // fewer bytes than it says
  const std::vector<uint8> resources = PhotoshopFromIptc(bytes);
  EXPECT_EQ(IptcFromPhotoshop(resources.data(), resources.size()), bytes);
  EXPECT_TRUE(IptcFromPhotoshop(resources.data(), resources.size() - 3).empty());

  std::string latin1;
  ASSERT_TRUE(Latin1FromUtf8("\xc3\xa9t\xc3\xa9", &latin1));
  EXPECT_EQ(latin1, "\xe9t\xe9");
  EXPECT_EQ(Utf8FromLatin1(latin1), "\xc3\xa9t\xc3\xa9");
  EXPECT_FALSE(Latin1FromUtf8("\xe2\x82\xac", &latin1));  // the euro sign
}

// Every order of the three formats: what the output can hold arrives intact.
TEST_F(ImageMetadata, SurvivesChainsOfEveryFormat) {
  const std::vector<std::vector<const char*>> chains = {
      {"png", "tif", "jpg", "png"}, {"tif", "png", "jpg", "tif"}, {"jpg", "tif", "png", "jpg"},
      {"jpg", "png", "tif", "jpg"}};
  for (const auto& chain : chains) {
    std::string trace;
    for (const char* f : chain) trace += std::string(f) + " ";
    SCOPED_TRACE(trace);
    Image image;
    static_cast<host::ImageProperties&>(image) = RichProperties();
    image.document = SmoothImage(64, 48, 3, 8, false).document;
    bool throughTiff = false;
    for (size_t i = 0; i < chain.size(); ++i) {
      const std::string path = Path(std::to_string(i) + "." + chain[i]);
      std::string error;
      ASSERT_TRUE(host::WriteImage(path, image, &error)) << error;
      Image back;
      ASSERT_TRUE(host::ReadImage(path, back, &error)) << error;
      SCOPED_TRACE(path);
      const bool tiff = back.format == ImageFormat::Tiff;
      throughTiff = throughTiff || tiff;
      EXPECT_EQ(back.iccProfile, image.iccProfile);
      EXPECT_EQ(back.xmp, kXmp);
      EXPECT_EQ(back.iptc, IptcRecords());
      EXPECT_EQ(back.text.description, "A cup of espresso");
      EXPECT_EQ(back.text.software, "Kestrelle tests");
      EXPECT_EQ(back.text.dateTime, "2026:12:08 10:11:12");
      EXPECT_EQ(back.text.artist, "J. Kestrel");
      EXPECT_EQ(back.text.copyright, "(c) 2026 J. Kestrel, \xc3\xa9tude");
      ASSERT_TRUE(back.resolution.present);
      const double dpi = back.resolution.x * (back.resolution.unit == host::ResolutionUnit::Centimetre ? 2.54 : 1);
      EXPECT_NEAR(dpi, 300, 0.05);
      ExpectCameraExif(back.exif);
      if (tiff) {
        EXPECT_EQ(back.tiff.orientation, 6);
      }
      // A comment has no home in TIFF; PNG and JPEG keep it until then.
      const bool comment = std::any_of(back.pngText.begin(), back.pngText.end(), [](const host::PngText& t) {
        return t.key == "Comment" && t.text == "brewed at 93 degrees";
      });
      EXPECT_EQ(comment, !throughTiff);
      image = std::move(back);
    }
  }
}

// ExifTool writes metadata into a PNG the way a photographer's tools do; we
// carry it PNG -> TIFF -> JPEG -> PNG and ExifTool reads it back from each.
TEST_F(ImageMetadata, ExiftoolReadsBackWhatEveryFormatKept) {
  const std::string exiftool = DebianTool("exiftool");
  if (exiftool.empty()) GTEST_SKIP() << "exiftool is not installed (libimage-exiftool-perl)";
  Image source;
  source.document = SmoothImage(64, 48, 3, 8, false).document;
  source.iccProfile = TestIccProfile("Kestrelle test profile");
  source.resolution = {true, host::ResolutionUnit::Inch, 300, 300};
  source.text.artist = "J. Kestrel";
  source.text.copyright = "(c) 2026 J. Kestrel";
  source.text.description = "A cup of espresso";
  source.text.dateTime = "2026:12:08 10:11:12";
  std::string error;
  ASSERT_TRUE(host::WriteImage(Path("0.png"), source, &error)) << error;
  const ProgramRun tagged = RunProgram(
      exiftool, {"-q", "-overwrite_original", "-EXIF:Make=Kestrel Optics", "-EXIF:Model=K-1",
                 "-EXIF:ExposureTime=1/250", "-EXIF:ISO=200", "-GPS:GPSLatitude=48.5", "-GPS:GPSLatitudeRef=N",
                 "-EXIF:Orientation#=6", "-XMP-dc:Title=Espresso", "-XMP-dc:Subject=cup",
                 "-IPTC:Keywords=kestrel", "-IPTC:City=Basel", Path("0.png")});
  ASSERT_EQ(tagged.exitCode, 0) << tagged.output;

  const std::vector<std::string> tags = {
      "-ICC_Profile:ProfileDescription", "-EXIF:Make", "-EXIF:Model", "-EXIF:ExposureTime", "-EXIF:ISO",
      "-GPS:GPSLatitude", "-EXIF:Orientation", "-XMP-dc:Title", "-XMP-dc:Subject", "-IPTC:Keywords",
      "-IPTC:City", "-EXIF:Artist", "-EXIF:Copyright", "-EXIF:ImageDescription", "-EXIF:ModifyDate"};
  const std::string expected =
      "Kestrelle test profile\nKestrel Optics\nK-1\n0.004\n200\n48.5\n6\nEspresso\ncup\nkestrel\nBasel\n"
      "J. Kestrel\n(c) 2026 J. Kestrel\nA cup of espresso\n2026:12:08 10:11:12\n";
  Image image;
  ASSERT_TRUE(host::ReadImage(Path("0.png"), image, &error)) << error;
  const char* chain[] = {"1.tif", "2.jpg", "3.png", "4.jpg", "5.tif"};
  for (const char* name : chain) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(host::WriteImage(Path(name), image, &error)) << error;
    std::vector<std::string> args = {"-f", "-n", "-s3"};
    args.insert(args.end(), tags.begin(), tags.end());
    args.push_back(Path(name));
    const ProgramRun read = RunProgram(exiftool, args);
    EXPECT_EQ(read.exitCode, 0);
    EXPECT_EQ(read.output, expected);
    // Nothing we wrote looks malformed to it.
    const ProgramRun warnings = RunProgram(exiftool, {"-a", "-s3", "-Warning", "-Error", Path(name)});
    EXPECT_EQ(warnings.output, "") << warnings.output;
    const ProgramRun resolution = RunProgram(exiftool, {"-n", "-s3", "-XResolution", "-PixelsPerUnitX", Path(name)});
    EXPECT_TRUE(resolution.output == "300\n" || resolution.output == "11811\n" ||
                resolution.output == "300\n11811\n") << resolution.output;
    ASSERT_TRUE(host::ReadImage(Path(name), image, &error)) << error;
  }
}
