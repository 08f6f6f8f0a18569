// What kestrelle apply keeps of a JPEG's own segments, run as a user runs
// it: on one file and over a folder with worker processes and a report,
// on crafted files and on real cameras' files, checked segment by segment
// and with ExifTool.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/json.h"
#include "imageio/jpeg_segments.h"
#include "imageio/metadata.h"
#include "tests/cli_test_support.h"
#include "tests/image_test_support.h"

namespace fs = std::filesystem;
using host::JpegSegment;
using host::io::KindOf;
using host::io::SegmentKind;
using namespace cli_tests;

namespace {

// An empty folder for one scenario, with a trailing separator.
std::string Folder(const std::string& name) { return cli_tests::EmptyFolder("cli-metadata-", name); }

// A small JPEG of our own with segments of every kind.
std::vector<JpegSegment> MakeCrafted(const std::string& path) {
  std::string error;
  EXPECT_TRUE(host::WriteImage(path, SmoothImage(48, 32, 3, 8, false), &error)) << error;
  SaveBytes(path, WithSegments(FileBytes(path), SegmentsOfEveryKind()));
  // What a JPEG output must hold: all of them but MPF and Photoshop's
  // thumbnail resource, Adobe's transform saying YCbCr.
  std::vector<JpegSegment> expected = SegmentsOf(FileBytes(path));
  expected.erase(std::remove_if(expected.begin(), expected.end(),
                                [](const JpegSegment& s) { return KindOf(s) == SegmentKind::Mpf; }),
                 expected.end());
  for (JpegSegment& s : expected) {
    if (KindOf(s) == SegmentKind::Adobe) s.bytes[11] = 1;
    if (KindOf(s) == SegmentKind::Photoshop) {
      // The thumbnail resource (1036, 18 bytes) leads the resources.
      const size_t name = sizeof "Photoshop 3.0";
      EXPECT_EQ(s.bytes[name + 5], 0x0c);
      s.bytes.erase(s.bytes.begin() + long(name), s.bytes.begin() + long(name + 18));
    }
  }
  return expected;
}

// The segments but those that re-encoding makes false (and EXIF, laid out
// again from its fields).
std::vector<JpegSegment> Lasting(std::vector<JpegSegment> segments) {
  segments.erase(std::remove_if(segments.begin(), segments.end(),
                                [](const JpegSegment& s) {
                                  const SegmentKind k = KindOf(s);
                                  return k == SegmentKind::Exif || k == SegmentKind::Jfif || k == SegmentKind::Adobe ||
                                         k == SegmentKind::Mpf || k == SegmentKind::JfifThumbnail;
                                }),
                 segments.end());
  return segments;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool SameSegments(const std::vector<JpegSegment>& a, const std::vector<JpegSegment>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const JpegSegment& x, const JpegSegment& y) {
           return x.marker == y.marker && x.bytes == y.bytes;
         });
}

}  // namespace

// JPEG to JPEG keeps every segment byte for byte in its order, one file
// alone and a folder through worker processes; the MPF segment left out is
// said on standard error naming the file, and in the report's warnings,
// and the run still succeeds.
TEST(KestrelleMetadata, AJpegKeepsEverySegmentButMpfByteForByte) {
  const std::string dir = Folder("crafted");
  fs::create_directories(dir + "shoot");
  const std::vector<JpegSegment> expected = MakeCrafted(dir + "shoot/a.jpg");
  fs::copy_file(dir + "shoot/a.jpg", dir + "shoot/b.jpg");

  const ProgramRun one = Apply({"--quiet", "--blue-gain", "1.2", dir + "shoot/a.jpg", dir + "one.jpg"});
  EXPECT_EQ(one.exitCode, 0) << one.output;
  EXPECT_TRUE(SameSegments(SegmentsOf(FileBytes(dir + "one.jpg")), expected));
  EXPECT_SAYS(one, "kestrelle: warning: " + dir + "one.jpg: the MPF segment (APP2, ");
  EXPECT_SAYS(one, "kestrelle: warning: " + dir + "one.jpg: Photoshop's thumbnail (image resource 1036, ");
  EXPECT_EQ(Lines(one.output).size(), 2u) << one.output;

  const std::string report = dir + "report.jsonl";
  const ProgramRun many = Apply({"--quiet", "--blue-gain", "1.2", dir + "shoot", "--output-dir", dir + "out", "--jobs",
                                 "2", "--report", report});
  EXPECT_EQ(many.exitCode, 0) << many.output;
  std::ifstream in(report);
  size_t lines = 0;
  for (std::string line; std::getline(in, line); ++lines) {
    host::JsonValue v;
    std::string error;
    ASSERT_TRUE(host::ParseJson(line, v, &error)) << error;
    const std::string output = v.Member("output")->text;
    EXPECT_TRUE(SameSegments(SegmentsOf(FileBytes(output)), expected)) << output;
    const host::JsonValue* warnings = v.Member("warnings");
    ASSERT_NE(warnings, nullptr) << line;
    ASSERT_EQ(warnings->array.size(), 2u) << line;
    EXPECT_EQ(warnings->array[0].text.rfind("warning: " + output + ": Photoshop's thumbnail", 0), 0u) << line;
    EXPECT_EQ(warnings->array[1].text.rfind("warning: " + output + ": the MPF segment (APP2, ", 0), 0u) << line;
    EXPECT_SAYS(many, "kestrelle: warning: " + output + ": the MPF segment");
  }
  EXPECT_EQ(lines, 2u);
}

// Real cameras' files (an Olympus APP12, a Kodak APP3, a JFXX thumbnail,
// Photoshop's resources, comments, ICC profiles before and after EXIF)
// keep every APPn and COM segment byte for byte, except those re-encoding
// makes false (a JFXX thumbnail shows the picture before the filter: it is
// left out and named); ExifTool finds nothing wrong in them that it did not
// find in the camera's file.
TEST(KestrelleMetadata, CameraFilesKeepTheirSegments) {
  const std::string samples = std::string(KESTRELLE_SOURCE_DIR) + "/../shared/camera-samples";
  if (!fs::is_directory(samples)) GTEST_SKIP() << samples << " is not there";
  const std::string exiftool = DebianTool("exiftool");
  const std::string dir = Folder("cameras");
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(samples)) {
    if (e.path().extension() != ".jpg") continue;
    ++files;
    const std::string in = e.path().string(), out = dir + e.path().filename().string();
    SCOPED_TRACE(in);
    const ProgramRun run = Apply({"--quiet", "--red-gain", "1.1", in, out});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(SameSegments(Lasting(SegmentsOf(FileBytes(out))), Lasting(SegmentsOf(FileBytes(in)))));
    bool thumbnail = false;
    for (const JpegSegment& s : SegmentsOf(FileBytes(in))) thumbnail |= KindOf(s) == SegmentKind::JfifThumbnail;
    for (const JpegSegment& s : SegmentsOf(FileBytes(out))) EXPECT_NE(KindOf(s), SegmentKind::JfifThumbnail);
    if (thumbnail) {
      EXPECT_SAYS(run, "the JFIF extension's thumbnail (APP0 \"JFXX\", ");
    }
    if (exiftool.empty()) continue;
    const std::vector<std::string> before = Lines(RunProgram(exiftool, {"-a", "-s3", "-Warning", "-Error", in}).output);
    for (const std::string& w : Lines(RunProgram(exiftool, {"-a", "-s3", "-Warning", "-Error", out}).output))
      EXPECT_NE(std::find(before.begin(), before.end(), w), before.end()) << "new: " << w;
  }
  EXPECT_GE(files, 5u);
}

// A packet ExifTool split into extended XMP reaches every format whole (a
// JPEG's pieces as they were, PNG and TIFF one packet), and comes back out
// of PNG into a JPEG split again, as ExifTool reads it.
TEST(KestrelleMetadata, ExtendedXmpReachesEveryFormat) {
  const std::string exiftool = DebianTool("exiftool");
  if (exiftool.empty()) GTEST_SKIP() << "exiftool is not installed (libimage-exiftool-perl)";
  const std::string dir = Folder("extended");
  std::string error;
  ASSERT_TRUE(host::WriteImage(dir + "in.jpg", SmoothImage(48, 32, 3, 8, false), &error)) << error;
  std::string words;
  while (words.size() < 100000) words += "kestrel ";
  SaveText(dir + "words.txt", words);
  const ProgramRun tagged =
      RunProgram(exiftool, {"-q", "-overwrite_original", "-XMP-dc:Description<=" + dir + "words.txt", dir + "in.jpg"});
  ASSERT_EQ(tagged.exitCode, 0) << tagged.output;
  ASSERT_NE(RunProgram(exiftool, {"-s3", "-HasExtendedXMP", dir + "in.jpg"}).output, "");

  const std::vector<std::pair<std::string, std::string>> runs = {
      {"in.jpg", "out.jpg"}, {"in.jpg", "out.png"}, {"in.jpg", "out.tif"}, {"out.png", "again.jpg"}};
  for (const auto& [from, to] : runs) {
    SCOPED_TRACE(from + " -> " + to);
    const ProgramRun run = Apply({"--quiet", dir + from, dir + to});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output, "");
    const ProgramRun read = RunProgram(exiftool, {"-s3", "-XMP-dc:Description", dir + to});
    // The text whole; its trailing space comes back as the line's end.
    EXPECT_TRUE(read.output == words.substr(0, words.size() - 1) + "\n") << read.output.size() << " bytes";
    EXPECT_EQ(RunProgram(exiftool, {"-a", "-s3", "-Warning", "-Error", dir + to}).output, "");
  }
  EXPECT_TRUE(SameSegments(SegmentsOf(FileBytes(dir + "out.jpg")), SegmentsOf(FileBytes(dir + "in.jpg"))));
}
