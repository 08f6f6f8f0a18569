// A JPEG's own segments between files: a JPEG written again keeps each one
// in its place, laying out afresh only what the image's fields hold; PNG and
// TIFF carry what they have a place for and name the rest; comments,
// Photoshop's resources, extended XMP and profiles libpng refuses are not
// lost on the way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "imageio/image_io.h"
#include "imageio/jpeg_segments.h"
#include "imageio/metadata.h"
#include "tests/image_test_support.h"
#include "tests/run_program.h"
#include "tests/test_support.h"

using host::Image;
using host::JpegSegment;
using namespace host::io;

namespace {

class ImageSegments : public FolderTest {
 protected:
  ImageSegments() : FolderTest("image_segments_") {}

  // The crafted segments in a small JPEG of our own, read back.
  Image ReadCrafted(const std::string& name, int16 planes = 3) {
    Image image = SmoothImage(48, 32, planes, 8, false);
    std::string error;
    EXPECT_TRUE(host::WriteImage(Path("plain.jpg"), image, &error)) << error;
    SaveBytes(Path(name), WithSegments(FileBytes(Path("plain.jpg")), SegmentsOfEveryKind()));
    Image crafted;
    EXPECT_TRUE(host::ReadImage(Path(name), crafted, &error)) << error;
    return crafted;
  }

  std::vector<std::string> Write(const std::string& name, const Image& image) {
    std::vector<std::string> warnings;
    host::WriteOptions options;
    options.warnings = &warnings;
    std::string error;
    EXPECT_TRUE(host::WriteImage(Path(name), image, &error, options)) << error;
    return warnings;
  }
};

size_t IndexOf(const std::vector<JpegSegment>& segments, SegmentKind kind) {
  for (size_t i = 0; i < segments.size(); ++i)
    if (KindOf(segments[i]) == kind) return i;
  return segments.size();
}

bool HasThumbnailResource(const std::vector<uint8>& resources) {
  const uint8 id[] = {'8', 'B', 'I', 'M', 0x04, 0x0c};
  return std::search(resources.begin(), resources.end(), id, id + 6) != resources.end();
}

bool Mentions(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

}  // namespace

// What the image's fields hold is laid out again in its segment's place:
// Photoshop's resources keep the others around new IPTC records, a new
// packet takes the main XMP's place, a profile the input lacked goes last.
// Adobe's transform follows what is written, and JFIF stays as the input
// had it (version, density) or absent.
TEST_F(ImageSegments, ChangedMetadataIsLaidOutAgainInItsPlace) {
  Image image = ReadCrafted("crafted.jpg");
  const std::vector<JpegSegment> before = SegmentsOf(FileBytes(Path("crafted.jpg")));
  image.iptc = {0x1c, 2, 90, 0, 5, 'B', 'a', 's', 'e', 'l'};
  image.xmp = "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'/><?xpacket end='w'?>";
  image.iccProfile = TestIccProfile("Kestrelle test profile");
  const std::vector<std::string> warnings = Write("changed.jpg", image);
  const std::vector<JpegSegment> after = SegmentsOf(FileBytes(Path("changed.jpg")));
  // MPF and the extended XMP the new packet does not name are gone; the profile is added.
  ASSERT_EQ(after.size(), before.size() - 3 + 1);
  EXPECT_EQ(IndexOf(after, SegmentKind::ExtendedXmp), after.size());
  for (SegmentKind kind : {SegmentKind::Photoshop, SegmentKind::Xmp})
    EXPECT_EQ(IndexOf(after, kind), IndexOf(before, kind));
  const std::vector<uint8> resources = PhotoshopFromSegments(after);
  EXPECT_FALSE(HasThumbnailResource(resources));  // it shows the picture before the filter
  EXPECT_EQ(IptcFromPhotoshop(resources.data(), resources.size()), image.iptc);
  const JpegSegment& xmp = after[IndexOf(after, SegmentKind::Xmp)];
  EXPECT_EQ(std::string(xmp.bytes.begin() + 29, xmp.bytes.end()), image.xmp);
  EXPECT_EQ(after[IndexOf(after, SegmentKind::Adobe)].bytes[11], 1);  // YCbCr
  EXPECT_EQ(IndexOf(after, SegmentKind::Icc), after.size() - 1);
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_TRUE(Mentions(warnings, "MPF segment (APP2, ")) << warnings.front();
  EXPECT_TRUE(Mentions(warnings, "Photoshop's thumbnail (image resource 1036, ")) << warnings.front();

  // Grey: Adobe's transform says no colour conversion.
  Image grey = ReadCrafted("grey.jpg", 1);
  Write("grey-out.jpg", grey);
  const std::vector<JpegSegment> greyOut = SegmentsOf(FileBytes(Path("grey-out.jpg")));
  EXPECT_EQ(greyOut[IndexOf(greyOut, SegmentKind::Adobe)].bytes[11], 0);

  // A camera's file without JFIF gets none; a JFIF 1.02 in centimetres is kept as it was.
  std::vector<uint8> jpeg = FileBytes(Path("plain.jpg"));
  const size_t jfifEnd = 4 + (size_t(jpeg[4]) << 8 | jpeg[5]);
  std::vector<uint8> bare = {0xff, 0xd8};
  for (size_t i = jfifEnd; i < jpeg.size(); ++i) bare.push_back(jpeg[i]);
  const JpegSegment jfif = Segment(0xe0, std::string("JFIF\0\x01\x02\x02\x00\x76\x00\x76\x00\x00", 14));
  SaveBytes(Path("bare.jpg"), WithSegments(bare, {Segment(0xe1, std::string("Exif\0\0II*\0\x08\0\0\0\0\0", 16), {0, 0, 0, 0})}));
  SaveBytes(Path("cm.jpg"), WithSegments(bare, {jfif}));
  for (const char* name : {"bare", "cm"}) {
    Image in;
    std::string error;
    ASSERT_TRUE(host::ReadImage(Path(std::string(name) + ".jpg"), in, &error)) << error;
    Write(std::string(name) + "-out.jpg", in);
    const std::vector<JpegSegment> out = SegmentsOf(FileBytes(Path(std::string(name) + "-out.jpg")));
    if (std::string(name) == "bare") {
      EXPECT_EQ(IndexOf(out, SegmentKind::Jfif), out.size());
    } else {
      ASSERT_EQ(out.size(), 1u);
      EXPECT_EQ(out[0].bytes, jfif.bytes);
    }
  }
}

// PNG and TIFF keep Photoshop's resources whole, the extended XMP merged
// into the packet and the comment (PNG), and name every segment they have
// no place for. Back in a JPEG, the resources are whole again and the
// packet, now too large for one segment, is split into extended XMP.
TEST_F(ImageSegments, OtherFormatsCarryWhatTheyCanAndNameTheRest) {
  const Image crafted = ReadCrafted("crafted.jpg");
  for (const char* format : {"png", "tif"}) {
    SCOPED_TRACE(format);
    const bool png = std::string(format) == "png";
    const std::string name = std::string("out.") + format;
    const std::vector<std::string> warnings = Write(name, crafted);
    for (const char* named : {"MPF segment", "APP0 segment", "APP12 segment \"OLYMPUS OPTICAL CO.,LTD.\"",
                              "APP12 segment \"Ducky\"", "APP15 segment", "Photoshop's thumbnail"})
      EXPECT_TRUE(Mentions(warnings, named)) << named;
    EXPECT_EQ(Mentions(warnings, "comment"), !png);
    EXPECT_EQ(warnings.size(), png ? 6u : 7u);

    Image back;
    std::string error;
    ASSERT_TRUE(host::ReadImage(Path(name), back, &error)) << error;
    // The thumbnail was the one resource besides IPTC: what is left is IPTC
    // alone, which both keep in its own place.
    EXPECT_FALSE(HasThumbnailResource(back.photoshop));
    EXPECT_EQ(back.iptc, crafted.iptc);
    EXPECT_TRUE(IptcFromPhotoshop(back.photoshop.data(), back.photoshop.size()).empty());
    EXPECT_NE(back.xmp.find("<dc:title>"), std::string::npos);
    EXPECT_NE(back.xmp.find("kestrel kestrel kestrel"), std::string::npos);
    EXPECT_GT(back.xmp.size(), 70000u);
    EXPECT_EQ(back.xmp.find("HasExtendedXMP"), std::string::npos);
    if (png) {
      ASSERT_EQ(back.pngText.size(), 1u);
      EXPECT_EQ(back.pngText[0].text, "Caf\xc3\xa9 cr\xc3\xa8me \xe2\x98\x95");
      EXPECT_TRUE(back.pngText[0].international);
    }

    const std::vector<std::string> again = Write(std::string("again-") + format + ".jpg", back);
    EXPECT_TRUE(again.empty()) << again.front();
    Image jpeg;
    ASSERT_TRUE(host::ReadImage(Path(std::string("again-") + format + ".jpg"), jpeg, &error)) << error;
    EXPECT_FALSE(HasThumbnailResource(jpeg.photoshop));
    std::string problem;
    const std::string extended = ExtendedXmp(jpeg.jpegSegments, jpeg.xmp, &problem);
    EXPECT_EQ(problem, "");
    EXPECT_NE(extended.find("kestrel kestrel kestrel"), std::string::npos);
    EXPECT_NE(jpeg.xmp.find(Md5Hex(extended)), std::string::npos);
  }
}

// A JPEG comment's bytes are kept: UTF-8 ones as UTF-8 (never encoded
// twice), others taken for Latin-1, through PNG and back; ExifTool reads
// the same UTF-8 comment from each file.
TEST_F(ImageSegments, CommentsKeepTheirBytes) {
  const std::string utf8 = "Caf\xc3\xa9", latin1 = "Caf\xe9";
  Image image = SmoothImage(32, 16, 3, 8, false);
  std::string error;
  ASSERT_TRUE(host::WriteImage(Path("plain.jpg"), image, &error)) << error;
  SaveBytes(Path("comments.jpg"), WithSegments(FileBytes(Path("plain.jpg")), {Segment(0xfe, utf8), Segment(0xfe, latin1)}));
  Image jpeg;
  ASSERT_TRUE(host::ReadImage(Path("comments.jpg"), jpeg, &error)) << error;
  Write("comments-out.jpg", jpeg);
  const std::vector<JpegSegment> kept = SegmentsOf(FileBytes(Path("comments-out.jpg")));
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(std::string(kept[1].bytes.begin(), kept[1].bytes.end()), utf8);
  EXPECT_EQ(std::string(kept[2].bytes.begin(), kept[2].bytes.end()), latin1);

  Write("comments.png", jpeg);
  Image png;
  ASSERT_TRUE(host::ReadImage(Path("comments.png"), png, &error)) << error;
  ASSERT_EQ(png.pngText.size(), 2u);
  EXPECT_TRUE(png.pngText[0].international);  // iTXt, the bytes as they were
  EXPECT_EQ(png.pngText[0].text, utf8);
  EXPECT_FALSE(png.pngText[1].international);  // tEXt, Latin-1
  EXPECT_EQ(png.pngText[1].text, latin1);
  Write("comments-again.jpg", png);
  const std::vector<JpegSegment> again = SegmentsOf(FileBytes(Path("comments-again.jpg")));
  ASSERT_EQ(again.size(), 3u);
  EXPECT_EQ(std::string(again[1].bytes.begin(), again[1].bytes.end()), utf8);
  EXPECT_EQ(std::string(again[2].bytes.begin(), again[2].bytes.end()), utf8);

  const std::string exiftool = DebianTool("exiftool");
  if (exiftool.empty()) GTEST_SKIP() << "exiftool is not installed (libimage-exiftool-perl)";
  for (const char* name : {"comments.jpg", "comments-out.jpg", "comments.png", "comments-again.jpg"}) {
    const ProgramRun read = RunProgram(exiftool, {"-a", "-s3", "-Comment", Path(name)});
    EXPECT_EQ(read.output.substr(0, utf8.size() + 1), utf8 + "\n") << name;
  }
  // ExifTool gives the tEXt chunk's Latin-1 as UTF-8.
  EXPECT_EQ(RunProgram(exiftool, {"-a", "-s3", "-Comment", Path("comments.png")}).output, utf8 + "\n" + utf8 + "\n");
}

// libpng checks a profile against the image and leaves out one it refuses
// (here an RGB profile on grey pixels): writing keeps it as ImageMagick's
// raw profile text, read back as the profile, and says so; reading such a
// PNG says it was dropped.
TEST_F(ImageSegments, AProfileLibpngRefusesIsNamedAndKeptAsText) {
  Image grey = SmoothImage(16, 16, 1, 16, false);
  grey.iccProfile = TestIccProfile("Kestrelle test profile");
  const std::vector<std::string> warnings = Write("grey.png", grey);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("libpng refuses the ICC profile"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[0].find("Raw profile type icc"), std::string::npos) << warnings[0];
  Image back;
  std::string error;
  ASSERT_TRUE(host::ReadImage(Path("grey.png"), back, &error)) << error;
  EXPECT_EQ(back.iccProfile, grey.iccProfile);
  Write("grey.tif", back);
  ASSERT_TRUE(host::ReadImage(Path("grey.tif"), back, &error)) << error;
  EXPECT_EQ(back.iccProfile, grey.iccProfile);

  SaveBytes(Path("iccp.png"), GreyPngWithProfile(grey.iccProfile));
  std::vector<std::string> said;
  host::ReadOptions options;
  options.warnings = &said;
  ASSERT_TRUE(host::ReadImage(Path("iccp.png"), back, &error, options)) << error;
  EXPECT_TRUE(back.iccProfile.empty());
  ASSERT_EQ(said.size(), 1u);
  EXPECT_NE(said[0].find("libpng refuses the ICC profile"), std::string::npos) << said[0];
}

// A PNG's chunks that no output keeps are named as it is read, except
// those that filtering makes false (its time, its significant bits); a
// gamma of its own is named where JPEG and TIFF would show sRGB instead.
TEST_F(ImageSegments, APngsChunksWithoutAPlaceAreNamed) {
  SaveBytes(Path("chunks.png"),
            GreyPngWithChunks({{"gAMA", {0, 1, 0x86, 0xa0}},  // 1.0: linear values
                               {"cHRM", std::vector<uint8>(32, 1)},
                               {"sBIT", {5}},
                               {"bKGD", {0, 7}},
                               {"tIME", {0x07, 0xea, 12, 8, 10, 11, 12}},
                               {"prVt", {1, 2, 3}}}));
  std::vector<std::string> said;
  host::ReadOptions options;
  options.warnings = &said;
  Image png;
  std::string error;
  ASSERT_TRUE(host::ReadImage(Path("chunks.png"), png, &error, options)) << error;
  EXPECT_EQ(said, (std::vector<std::string>{"the cHRM chunk (chromaticities) is not kept",
                                            "the bKGD chunk (background colour) is not kept",
                                            "the prVt chunk is not kept"}));
  EXPECT_TRUE(Write("again.png", png).empty());
  for (const char* name : {"out.jpg", "out.tif"}) {
    const std::vector<std::string> warnings = Write(name, png);
    ASSERT_EQ(warnings.size(), 1u) << name;
    EXPECT_NE(warnings[0].find("has no place for the PNG's gamma (1/1.00)"), std::string::npos) << warnings[0];
  }
  png.pngSrgbIntent = 0;  // sRGB stands beside it: nothing lost
  EXPECT_TRUE(Write("srgb.jpg", png).empty());
}

TEST(ImageSegmentsText, Utf8ResourcesAndXmpPieces) {
  // The IPTC resource is replaced, removed or added; the others stay as they were.
  const std::vector<uint8> iptc = {0x1c, 2, 25, 0, 3, 'c', 'u', 'p'};
  std::vector<uint8> thumb = {'8', 'B', 'I', 'M', 0x04, 0x0c, 3, 'a', 'b', 'c', 0, 0, 0, 1, 'x', 0};
  std::vector<uint8> both = thumb;
  const std::vector<uint8> old = PhotoshopFromIptc({0x1c, 2, 25, 0, 1, 'x'});
  both.insert(both.end(), old.begin(), old.end());
  both.insert(both.end(), thumb.begin(), thumb.end());
  const std::vector<uint8> replaced = PhotoshopWithIptc(both, iptc);
  EXPECT_EQ(IptcFromPhotoshop(replaced.data(), replaced.size()), iptc);
  EXPECT_TRUE(std::equal(thumb.begin(), thumb.end(), replaced.begin()));
  EXPECT_TRUE(std::equal(thumb.rbegin(), thumb.rend(), replaced.rbegin()));
  EXPECT_EQ(PhotoshopWithIptc(both, {}).size(), 2 * thumb.size());
  EXPECT_EQ(PhotoshopWithIptc(thumb, iptc).size(), thumb.size() + PhotoshopFromIptc(iptc).size());
  EXPECT_EQ(PhotoshopWithIptc(both, IptcFromPhotoshop(both.data(), both.size())), both);
  EXPECT_FALSE(HasResourcesBesidesIptc(old));
  EXPECT_TRUE(HasResourcesBesidesIptc(both));

  EXPECT_EQ(Md5Hex(""), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(Md5Hex(std::string(100, 'a')), "36A92CC94A9E0FA21F625F8BFB007ADF");

  // The pointer to the extended packet as an element; pieces in any order, none missing.
  const std::string guid = "00112233445566778899AABBCCDDEEFF";
  const std::string main = "<x:xmpmeta><rdf:RDF><rdf:Description><xmpNote:HasExtendedXMP>" + guid +
                           "</xmpNote:HasExtendedXMP></rdf:Description></rdf:RDF></x:xmpmeta>";
  const std::string extended = "<x:xmpmeta><rdf:RDF xmlns:rdf='r'><rdf:Description><dc:x>1</dc:x></rdf:Description></rdf:RDF></x:xmpmeta>";
  auto piece = [&](size_t at, size_t n) {
    std::string head = "http://ns.adobe.com/xmp/extension/" + std::string(1, '\0') + guid;
    for (uint32 v : {uint32(extended.size()), uint32(at)})
      for (int i = 0; i < 4; ++i) head += char(v >> (24 - 8 * i));
    return Segment(0xe1, head + extended.substr(at, n));
  };
  std::string problem;
  EXPECT_EQ(ExtendedXmp({piece(40, 1000), piece(0, 40)}, main, &problem), extended);
  EXPECT_EQ(ExtendedXmp({piece(0, 40), piece(50, 1000)}, main, &problem), "");
  EXPECT_NE(problem, "");
  EXPECT_EQ(MergeXmp(main, extended),
            "<x:xmpmeta><rdf:RDF><rdf:Description></rdf:Description><rdf:Description><dc:x>1</dc:x></rdf:Description>"
            "</rdf:RDF></x:xmpmeta>");
  EXPECT_EQ(MergeXmp(main, "<rdf:RDF xmlns:dc='d'></rdf:RDF>"), "");  // a namespace that would be lost
}
