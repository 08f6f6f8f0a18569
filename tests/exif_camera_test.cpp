// Photographs straight from real cameras, each corrected into JPEG, TIFF and
// PNG: ExifTool reads back every EXIF and maker-note tag as it read it from
// the camera's file (only what describes the new file's own layout may
// change), finds nothing new to warn about, and the thumbnail shows the
// corrected picture at the old thumbnail's size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "tests/cli_test_support.h"
#include "tests/image_test_support.h"
#include "tests/run_program.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;
using host::Image;
using namespace cli_tests;

namespace {

class CameraFiles : public FolderTest {
 protected:
  CameraFiles() : FolderTest("camera_files_") {}
};

// Groups ExifTool reads from segments other than EXIF, or from the file
// itself: not ours to compare here.
bool OutsideExif(const std::string& group) {
  static const std::set<std::string> kOther = {"File", "System", "ExifTool", "Composite", "JFIF", "JFXX",
                                               "IPTC", "Photoshop", "PictureInfo", "MetaIFD", "KodakEffectsIFD",
                                               "KodakBordersIFD", "PNG", "APP12", "Adobe", "Ducky"};
  return kOther.count(group) || group.rfind("ICC", 0) == 0 || group.rfind("XMP", 0) == 0 || group.rfind("PNG", 0) == 0;
}

// Tags that describe the file's own layout, its size and its thumbnail's
// place: they change with the file.
bool Layout(const std::string& tag) {
  static const std::set<std::string> kLayout = {
      "ImageWidth", "ImageHeight", "ExifImageWidth", "ExifImageHeight", "Compression", "ThumbnailOffset",
      "ThumbnailLength", "ThumbnailImage", "StripOffsets", "StripByteCounts", "RowsPerStrip", "BitsPerSample",
      "PhotometricInterpretation", "SamplesPerPixel", "PlanarConfiguration", "Predictor", "SampleFormat",
      "ExtraSamples", "SubfileType"};
  return kLayout.count(tag) > 0;
}

// "[Group] Tag : value" lines of the EXIF and maker-note groups, by
// "Group:Tag"; warnings apart.
std::map<std::string, std::string> ExifTags(const std::string& exiftool, const std::string& path,
                                            std::set<std::string>* warnings) {
  const ProgramRun run = RunProgram(exiftool, {"-a", "-G1", "-s", "-n", path});
  std::map<std::string, std::string> tags;
  std::istringstream lines(run.output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.size() < 3 || line[0] != '[') continue;
    const size_t close = line.find(']'), colon = line.find(" : ");
    if (close == std::string::npos || colon == std::string::npos) continue;
    const std::string group = line.substr(1, close - 1);
    std::istringstream name(line.substr(close + 1, colon - close - 1));
    std::string tag;
    name >> tag;
    if (tag == "Warning") {
      warnings->insert(line.substr(colon + 3));
      continue;
    }
    if (OutsideExif(group) || Layout(tag)) continue;
    tags[group + ":" + tag] = line.substr(colon + 3);
  }
  return tags;
}

}  // namespace

TEST_F(CameraFiles, EveryTagAndAFreshThumbnailInEveryFormat) {
  const std::string samples = std::string(KESTRELLE_SOURCE_DIR) + "/../shared/camera-samples";
  if (!fs::is_directory(samples)) GTEST_SKIP() << "no camera samples at " << samples;
  const std::string exiftool = DebianTool("exiftool");
  if (exiftool.empty()) GTEST_SKIP() << "exiftool is not installed (libimage-exiftool-perl)";
  std::vector<std::string> inputs;
  for (const auto& e : fs::directory_iterator(samples)) {
    const std::string ext = e.path().extension().string();
    if (ext == ".jpg" || ext == ".tiff" || ext == ".tif") inputs.push_back(e.path().string());
  }
  std::sort(inputs.begin(), inputs.end());
  ASSERT_FALSE(inputs.empty());
  int thumbnails = 0;
  for (const std::string& input : inputs) {
    std::set<std::string> inWarnings;
    const std::map<std::string, std::string> before = ExifTags(exiftool, input, &inWarnings);
    // -w names the file after the one read (%f: its name without extension).
    const std::string stem = fs::path(input).stem().string();
    RunProgram(exiftool, {"-b", "-IFD1:ThumbnailImage", "-w!", Path("in-%f.jpg"), input});
    Image oldThumbnail;
    std::string error;
    const bool hadThumbnail =
        fs::exists(Path("in-" + stem + ".jpg")) && host::ReadImage(Path("in-" + stem + ".jpg"), oldThumbnail, &error);
    const Image original = Read(input);
    for (const char* ext : {"jpg", "tif", "png"}) {
      const std::string output = Path(fs::path(input).stem().string() + "." + ext);
      SCOPED_TRACE(output);
      if (!original.alpha.empty() && std::string(ext) == "jpg") continue;  // JPEG holds no alpha
      std::vector<std::string> args = kWarmCast;
      args.push_back(input);
      args.push_back(output);
      const ProgramRun run = Apply(args);
      ASSERT_EQ(run.exitCode, 0) << run.output;

      std::set<std::string> outWarnings;
      const std::map<std::string, std::string> after = ExifTags(exiftool, output, &outWarnings);
      for (const auto& [tag, value] : before) {
        const auto found = after.find(tag);
        EXPECT_TRUE(found != after.end() && found->second == value)
            << tag << ": " << value << " became " << (found == after.end() ? "nothing" : found->second);
      }
      // A TIFF names its software and states a resolution the input had
      // only in JFIF; nothing else appears.
      for (const auto& [tag, value] : after) {
        const bool stated = tag == "IFD0:Software" || tag == "IFD0:XResolution" || tag == "IFD0:YResolution" ||
                            tag == "IFD0:ResolutionUnit" || tag.rfind("IFD1:", 0) == 0;
        EXPECT_TRUE(before.count(tag) || stated) << "new " << tag << ": " << value;
      }
      for (const std::string& w : outWarnings) EXPECT_TRUE(inWarnings.count(w)) << "new warning: " << w;

      // The thumbnail: the old one's size, the new picture's colours.
      fs::remove(Path("out-" + stem + ".jpg"));
      RunProgram(exiftool, {"-b", "-IFD1:ThumbnailImage", "-w!", Path("out-%f.jpg"), output});
      Image thumbnail;
      const bool hasThumbnail =
          fs::exists(Path("out-" + stem + ".jpg")) && host::ReadImage(Path("out-" + stem + ".jpg"), thumbnail, &error);
      EXPECT_EQ(hasThumbnail, hadThumbnail);
      if (!hasThumbnail || !hadThumbnail) continue;
      ++thumbnails;
      EXPECT_EQ(thumbnail.document.width, oldThumbnail.document.width);
      EXPECT_EQ(thumbnail.document.height, oldThumbnail.document.height);
      const Image corrected = Read(output);
      EXPECT_LT(ThumbnailDifference(thumbnail, corrected), 8);
      EXPECT_GT(MaxMeanDifference(thumbnail, 0, 0, thumbnail.document.width, thumbnail.document.height,
                                  oldThumbnail),
                8)
          << "the thumbnail still shows the picture before the correction";
    }
  }
  EXPECT_GT(thumbnails, 0);
}
