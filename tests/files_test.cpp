// The pieces behind kestrelle's promises, one at a time: the enable rule a
// host reads from a module, the command line's ranges against the filter's,
// staged outputs, and the headless dialog's lettering.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "dialog/dialog_template.h"
#include "cli/apply_options.h"
#include "host/enable_rule.h"
#include "files/run_files.h"
#include "files/staged_file.h"
#include "plugin/parameters.h"
#include "resources/plugin_resources.h"
#include "tests/test_support.h"
#ifndef _WIN32
#include "platform/headless/window_system.h"
#endif

namespace fs = std::filesystem;

namespace {

bool Enabled(const std::string& expression, int mode, int depth) {
  host::DocumentTraits d;
  d.imageMode = mode;
  d.depth = depth;
  bool enabled = false;
  std::string why;
  EXPECT_TRUE(host::EvaluateEnableExpression(expression, d, &enabled, &why)) << expression << ": " << why;
  return enabled;
}

}  // namespace

TEST(EnableRule, ReadsTheExpressionLanguageAsHostsDo) {
  const int rgb = 3, grey = 1, rgb48 = 11, grey16 = 10, gray32 = 17;
  EXPECT_TRUE(Enabled(kEnableExpression, rgb, 8));
  EXPECT_FALSE(Enabled(kEnableExpression, grey, 8));
  EXPECT_TRUE(Enabled(kEnableExpression, grey16, 16));
  EXPECT_TRUE(Enabled(kEnableExpression, gray32, 32));
  EXPECT_TRUE(Enabled(kEnableExpression, rgb48, 16));
  // Precedence: && binds tighter than ||, ! tighter than ==.
  EXPECT_TRUE(Enabled("true || false && false", rgb, 8));
  EXPECT_FALSE(Enabled("(true || false) && false", rgb, 8));
  EXPECT_TRUE(Enabled("!(PSHOP_ImageDepth < 16) || PSHOP_ImageMode != RGBMode", rgb, 8) == false);
  EXPECT_TRUE(Enabled("PSHOP_ImageDepth >= 16 && PSHOP_ImageDepth <= 32", grey16, 16));
  EXPECT_FALSE(Enabled("in (PSHOP_ImageMode, GrayScaleMode, Gray16Mode)", rgb, 8));

  host::DocumentTraits d;
  bool enabled = false;
  std::string why;
  for (const char* broken : {"", "in PSHOP_ImageMode", "PSHOP_ImageMode == ", "(true", "Sepia == 1", "true true"}) {
    why.clear();
    EXPECT_FALSE(host::EvaluateEnableExpression(broken, d, &enabled, &why)) << broken;
    EXPECT_FALSE(why.empty()) << broken;
  }
}

TEST(EnableRule, TheModulesPropertiesDecideAndNameWhatTheyAccept) {
  std::vector<host::PipelineProperty> properties;
  std::string why;
  ASSERT_TRUE(host::ParsePiPL(BuildPiPL(Architecture::X64), properties, &why)) << why;
  EXPECT_EQ(host::AcceptedDocuments(properties), "8-bit RGB, 16-bit grey, 16-bit RGB, 32-bit grey and 32-bit RGB");
  // Without an enable rule the mode bits decide.
  std::vector<host::PipelineProperty> modesOnly;
  for (const host::PipelineProperty& p : properties)
    if (host::KeyText(p.key) != "enbl") modesOnly.push_back(p);
  EXPECT_EQ(host::AcceptedDocuments(modesOnly), "8-bit RGB");
  EXPECT_EQ(host::AcceptedDocuments({}), "8-bit grey, 8-bit RGB, 16-bit grey, 16-bit RGB, 32-bit grey and 32-bit RGB");
}

TEST(CommandLineSettings, WhatTheFilterWouldClampIsRefusedButNotTheBounds) {
  const cli::SettingOption& gain = cli::kSettingOptions[0];
  double v = 0;
  std::string why;
  EXPECT_TRUE(cli::ParseSettingValue("0.00392156862745098", gain, &v, &why)) << why;
  EXPECT_TRUE(cli::ParseSettingValue("1000", gain, &v, &why)) << why;
  EXPECT_FALSE(cli::ParseSettingValue("0.0039", gain, &v, &why));
  EXPECT_FALSE(cli::ParseSettingValue("1000.0000001", gain, &v, &why));
  EXPECT_FALSE(cli::ParseSettingValue("-inf", gain, &v, &why));
  EXPECT_FALSE(cli::ParseSettingValue("1.5x", gain, &v, &why));
  EXPECT_FALSE(cli::ParseSettingValue("", gain, &v, &why));
}

TEST(StagedOutputs, NothingIsReplacedUntilAllAreWrittenAndNotAfterACancel) {
  const std::string dir = ExecutableDirectory() + "staged/";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string a = dir + "a.txt", b = dir + "b.txt";
  std::ofstream(a) << "old a";
  std::ofstream(b) << "old b";
  auto temporaries = [&] {
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir)) n += e.path().filename().string().find(".kestrelle-") != std::string::npos;
    return n;
  };
  std::string why;
  std::atomic<bool> cancel{false};
  {
    // One output never finished: neither is replaced.
    files::OutputGroup group(&cancel);
    size_t ia = 0, ib = 0;
    ASSERT_TRUE(group.Stage(a, &ia, &why)) << why;
    ASSERT_TRUE(group.Stage(b, &ib, &why)) << why;
    EXPECT_EQ(temporaries(), 2);
    std::fputs("new a", group.File(ia));
    ASSERT_TRUE(group.Finish(ia, &why)) << why;
    EXPECT_FALSE(group.Commit(&why));
  }
  EXPECT_EQ(FileText(a), "old a");
  EXPECT_EQ(temporaries(), 0);
  {
    // Cancelled after both were written: still nothing replaced.
    files::OutputGroup group(&cancel);
    size_t ia = 0, ib = 0;
    ASSERT_TRUE(group.Stage(a, &ia, &why) && group.Stage(b, &ib, &why)) << why;
    std::fputs("new a", group.File(ia));
    std::fputs("new b", group.File(ib));
    ASSERT_TRUE(group.Finish(ia, &why) && group.Finish(ib, &why)) << why;
    cancel = true;
    bool cancelled = false;
    EXPECT_FALSE(group.Commit(&why, &cancelled));
    EXPECT_TRUE(cancelled);
  }
  EXPECT_EQ(FileText(a), "old a");
  EXPECT_EQ(FileText(b), "old b");
  EXPECT_EQ(temporaries(), 0);
  {
    cancel = false;
    files::OutputGroup group(&cancel);
    size_t ia = 0, ib = 0;
    ASSERT_TRUE(group.Stage(a, &ia, &why) && group.Stage(b, &ib, &why)) << why;
    std::fputs("new a", group.File(ia));
    std::fputs("new b", group.File(ib));
    ASSERT_TRUE(group.Finish(ia, &why) && group.Finish(ib, &why)) << why;
    EXPECT_TRUE(group.Commit(&why)) << why;
  }
  EXPECT_EQ(FileText(a), "new a");
  EXPECT_EQ(FileText(b), "new b");
  EXPECT_EQ(temporaries(), 0);
  // A folder is no place for an output.
  files::OutputGroup group;
  size_t index = 0;
  EXPECT_FALSE(group.Stage(ExecutableDirectory() + "staged", &index, &why));
  EXPECT_NE(why.find("is a folder"), std::string::npos) << why;
  fs::remove_all(dir);
}

// Handing bands to the disk early changes nothing of what lands: a writer
// that goes back to patch its header (as libtiff does) after the bands were
// handed over still gets exactly its bytes, and only on commit.
TEST(StagedOutputs, WritingBehindKeepsEveryByteAndTheOldFileUntilCommit) {
  const std::string target = ExecutableDirectory() + "files-behind.bin";
  { std::ofstream(target, std::ios::binary) << "old"; }
  files::StagedFile staged;
  std::string why;
  ASSERT_TRUE(staged.Create(target, &why)) << why;
  std::string expected;
  for (int band = 0; band < 24; ++band) {
    const std::string bytes(1 << 20, char('a' + band));
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), staged.file()), bytes.size());
    expected += bytes;
    staged.WriteBehind();
  }
  ASSERT_EQ(std::fseek(staged.file(), 0, SEEK_SET), 0);
  ASSERT_EQ(std::fwrite("HEAD", 1, 4, staged.file()), 4u);
  expected.replace(0, 4, "HEAD");
  ASSERT_EQ(std::fseek(staged.file(), 0, SEEK_END), 0);
  ASSERT_EQ(std::fwrite("tail", 1, 4, staged.file()), 4u);
  expected += "tail";
  staged.WriteBehind();
  EXPECT_EQ(FileText(target), "old");
  ASSERT_TRUE(staged.Finish(&why)) << why;
  ASSERT_TRUE(staged.Commit(&why)) << why;
  EXPECT_TRUE(FileText(target) == expected);
  std::remove(target.c_str());
}

TEST(StagedOutputs, OnlyOurOwnTemporaryNamesAreRecognised) {
  long process = 0;
  EXPECT_TRUE(files::ParseTemporaryName(
#ifdef _WIN32
      "out.tif.kestrelle-w4242-17.tmp",
#else
      "out.tif.kestrelle-4242-17.tmp",
#endif
      &process));
  EXPECT_EQ(process, 4242);
  for (const char* other : {"out.tif", "out.tif.tmp", "out.kestrelle-12.tmp", "out.kestrelle-x1-2.tmp",
                            "out.kestrelle-1-2.tmp.bak", ".kestrelle-1-2.tmp", "out.kestrelle-1-2a.tmp"})
    EXPECT_FALSE(files::ParseTemporaryName(other, &process)) << other;
}

#ifndef _WIN32
// Windows draws the dialog's labels whole in the template's widths; the
// headless lettering must too, or screenshots read "R Gain (fir".
TEST(HeadlessLettering, EveryLabelOfTheDialogTemplateFits) {
  const DialogTemplate& t = kFilterDialogTemplate;
  for (int i = 0; i < t.itemCount; ++i) {
    const DialogItemTemplate& item = t.items[i];
    std::string text;
    for (const char* p = item.text; *p; ++p)
      if (*p != '&') text += *p;
    if (text.empty()) continue;
    const int width = item.cx * headless::kBaseUnitX / 4, height = item.cy * headless::kBaseUnitY / 8;
    const std::string cls = item.windowClass;
    const bool checkBox = cls == "Button" && (item.style & 0xF) == BS_AUTOCHECKBOX;
    int room = width;
    if (cls == "Static" && height >= 2 * headless::kLineHeight) continue;  // wrapped over lines
    if (cls == "Button") room = checkBox ? width - headless::kCheckBoxTextOffset : width - 4;
    EXPECT_LE(headless::TextWidth(text), room) << "'" << text << "' is cut";
  }
  // Proportional: narrow letters take less room than wide ones.
  EXPECT_LT(headless::TextWidth("illi"), headless::TextWidth("MWMW"));
  EXPECT_EQ(headless::TextWidth(""), 0);
}
#endif
