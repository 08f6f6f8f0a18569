#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "files/staged_file.h"
#include "plugin/parameters.h"
#include "settings/settings_file.h"
#include "tests/test_support.h"

namespace {

std::string Temp(const std::string& name) { return ExecutableDirectory() + "settings-" + name; }

std::vector<unsigned char> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

FilterParameters Defaults() {
  FilterParameters p{};
  ResetParameters(p);
  return p;
}

double FromBigEndian(std::initializer_list<unsigned char> bytes) {
  unsigned char b[8];
  int i = 0;
  for (unsigned char c : bytes) b[i++] = c;
  if (LittleEndianMachine())
    for (int j = 0; j < 4; ++j) std::swap(b[j], b[7 - j]);
  double d;
  std::memcpy(&d, b, 8);
  return d;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, 8) == 0; }

}  // namespace

TEST(SettingsFile, TheDefaultsAreExactly108Bytes) {
  FilterParameters p = Defaults();
  const std::string path = Temp("defaults.ksl");
  ASSERT_TRUE(WriteSettingsFile(BindSettings(p), path));
  const unsigned char one[] = {0x3F, 0xF0, 0, 0, 0, 0, 0, 0};
  const unsigned char hundred[] = {0x40, 0x59, 0, 0, 0, 0, 0, 0};
  std::vector<unsigned char> expected;
  for (char c : std::string("Kestrelle ver1")) expected.push_back(uint8(c));
  expected.push_back(0);
  for (int i = 0; i < 3; ++i) {
    expected.insert(expected.end(), one, one + 8);
    expected.insert(expected.end(), 8, 0);
  }
  expected.insert(expected.end(), hundred, hundred + 8);
  expected.insert(expected.end(), hundred, hundred + 8);
  expected.insert(expected.end(), 24, 0);
  for (unsigned char b : {0x0D, 0x0D, 0x00, 0x0D, 0x0D}) expected.push_back(b);
  EXPECT_EQ(ReadAll(path), expected);
  EXPECT_EQ(expected.size(), 108u);
  std::remove(path.c_str());
}

TEST(SettingsFile, EveryDoubleComesBackBitForBit) {
  FilterParameters p = Defaults();
  p.redGain = -0.0;
  p.redGainFine = std::numeric_limits<double>::denorm_min();
  p.greenGain = FromBigEndian({0x3F, 0xF0, 0x0A, 0x0D, 0x1A, 0x0A, 0x0D, 0x0A});  // line ends and ^Z
  p.greenGainFine = FromBigEndian({0x1A, 0x1A, 0x0D, 0x0D, 0x0A, 0x0A, 0x00, 0x01});
  p.blueGain = -1e300;
  p.reserved[1] = 123.456;
  p.ignoreSelection = true;
  const std::string path = Temp("roundtrip.ksl");
  ASSERT_TRUE(WriteSettingsFile(BindSettings(p), path));
  FilterParameters q = Defaults();
  ASSERT_TRUE(ReadSettingsFile(BindSettings(q), path));
  for (int i = 0; i < kParameterCount; ++i) EXPECT_TRUE(SameBits(ParameterAt(p, i), ParameterAt(q, i))) << i;
  EXPECT_TRUE(q.ignoreSelection);
  std::remove(path.c_str());
}

TEST(SettingsFile, FilesOfTheOldTextModeWriterStillLoad) {
  FilterParameters p = Defaults();
  p.redGain = FromBigEndian({0x40, 0x0A, 0x0D, 0x0A, 0x00, 0x0A, 0x1A, 0x0A});
  p.highlightRolloff = 42.5;
  const std::vector<unsigned char> binary = EncodeSettings(BindSettings(p));
  // What a Windows text-mode stream made of it: every 0x0A after the header
  // written as 0x0D 0x0A, the separators left alone.
  std::vector<unsigned char> text(binary.begin(), binary.begin() + 15);
  for (size_t i = 15; i < binary.size(); ++i) {
    if (binary[i] == 0x0A) text.push_back(0x0D);
    text.push_back(binary[i]);
  }
  ASSERT_NE(text.size(), binary.size());
  const std::string path = Temp("textmode.ksl");
  WriteAll(path, text);
  FilterParameters q = Defaults();
  ASSERT_TRUE(ReadSettingsFile(BindSettings(q), path));
  EXPECT_TRUE(SameBits(q.redGain, p.redGain));
  EXPECT_EQ(q.highlightRolloff, 42.5);
  std::remove(path.c_str());
}

TEST(SettingsFile, DamagedFilesChangeNothing) {
  MessageCapture capture;
  FilterParameters p = Defaults();
  p.redGain = 1.75;
  p.ignoreSelection = true;
  const std::vector<unsigned char> good = EncodeSettings(BindSettings(p));
  const std::string path = Temp("damaged.ksl");

  struct Case {
    std::vector<unsigned char> bytes;
    bool headerMessage;
  };
  std::vector<Case> cases;
  cases.push_back({std::vector<unsigned char>(good.begin(), good.begin() + 14), true});  // no zero byte
  std::vector<unsigned char> noZero(good.begin(), good.begin() + 14);
  noZero.push_back('X');
  cases.push_back({noZero, true});
  cases.push_back({std::vector<unsigned char>(good.begin(), good.begin() + 15), false});   // header only
  cases.push_back({std::vector<unsigned char>(good.begin(), good.begin() + 60), false});   // inside a value
  cases.push_back({std::vector<unsigned char>(good.begin(), good.begin() + 105), false});  // before the flag
  cases.push_back({std::vector<unsigned char>(300, 0x55), true});
  for (const Case& c : cases) {
    WriteAll(path, c.bytes);
    FilterParameters q = Defaults();
    capture.clear();
    EXPECT_FALSE(ReadSettingsFile(BindSettings(q), path)) << c.bytes.size();
    EXPECT_EQ(q.redGain, 1.0) << c.bytes.size();
    EXPECT_FALSE(q.ignoreSelection);
    if (c.headerMessage) {
      ASSERT_EQ(capture.messages().size(), 1u);
      EXPECT_EQ(capture.messages()[0].text,
                "Not a valid Verdaline settings file.  No settings/parameters will be loaded.");
    } else {
      EXPECT_TRUE(capture.messages().empty());
    }
  }
  // Extra bytes after the last pair load normally.
  std::vector<unsigned char> longer = good;
  longer.insert(longer.end(), {1, 2, 3, 0x0D});
  WriteAll(path, longer);
  FilterParameters q = Defaults();
  EXPECT_TRUE(ReadSettingsFile(BindSettings(q), path));
  EXPECT_EQ(q.redGain, 1.75);
  std::remove(path.c_str());

  capture.clear();
  EXPECT_FALSE(ReadSettingsFile(BindSettings(q), Temp("missing.ksl")));
  ASSERT_EQ(capture.messages().size(), 1u);
  EXPECT_EQ(capture.messages()[0].text, "Could not open file.  Note that Unicode characters are not supported.");
}

TEST(SettingsFile, NotANumberIsKeptOnlyBy64BitBuilds) {
  FilterParameters p = Defaults();
  p.greenGain = std::numeric_limits<double>::quiet_NaN();
  p.ignoreSelection = true;
  const std::string path = Temp("nan.ksl");
  ASSERT_TRUE(WriteSettingsFile(BindSettings(p), path));
  MessageCapture capture;
  FilterParameters q = Defaults();
  const bool loaded = ReadSettingsFile(BindSettings(q), path);
#if defined(_WIN32) && !defined(_WIN64)
  EXPECT_FALSE(loaded);
  EXPECT_EQ(q.greenGain, 0.0);
  EXPECT_FALSE(q.ignoreSelection);  // the flags are not read
  ASSERT_EQ(capture.messages().size(), 1u);
  EXPECT_EQ(capture.messages()[0].text, "Value is not a number (NaN).");
#else
  EXPECT_TRUE(loaded);
  EXPECT_TRUE(std::isnan(q.greenGain));
  EXPECT_TRUE(q.ignoreSelection);
  EXPECT_TRUE(capture.messages().empty());
#endif
  std::remove(path.c_str());
}

#ifndef _WIN32
// Settings files are replaced the way the command replaces its outputs: the
// file a link leads to is the one replaced, its permissions stay, and no
// temporary name is left beside it.
TEST(SettingsFile, ASaveThroughALinkReplacesTheFileItLeadsTo) {
  MessageCapture capture;
  const std::string real = Temp("linked-real.ksl"), link = Temp("linked.ksl");
  std::remove(real.c_str());
  std::remove(link.c_str());
  WriteAll(real, {1, 2, 3});
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  FilterParameters p = Defaults();
  p.redGain = 1.25;
  ASSERT_TRUE(WriteSettingsFile(BindSettings(p), link));
  struct stat info;
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link was replaced instead of the file";
  ASSERT_EQ(stat(real.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(ReadAll(real).size(), 108u);
  FilterParameters back = Defaults();
  ASSERT_TRUE(ReadSettingsFile(BindSettings(back), link));
  EXPECT_EQ(back.redGain, 1.25);
  EXPECT_TRUE(capture.messages().empty());
  // Beside the file or beside the link: no temporary of either is left.
  for (const auto& entry : std::filesystem::directory_iterator(ExecutableDirectory())) {
    const std::string name = entry.path().filename().string();
    long process = 0;
    EXPECT_FALSE(name.rfind("settings-linked", 0) == 0 && files::ParseTemporaryName(name, &process))
        << entry.path() << " was left behind";
  }
  std::remove(link.c_str());
  std::remove(real.c_str());
}
#endif

TEST(SettingsFile, AFailedSaveLeavesTheOldFileAsItWas) {
  MessageCapture capture;
  const std::string path = Temp("readonly.ksl");
  FilterParameters old = Defaults();
  old.redGain = 0.5;
  ASSERT_TRUE(WriteSettingsFile(BindSettings(old), path));
  const std::vector<unsigned char> before = ReadAll(path);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  FilterParameters p = Defaults();
  EXPECT_FALSE(WriteSettingsFile(BindSettings(p), path));
  EXPECT_EQ(ReadAll(path), before);
  ASSERT_EQ(capture.messages().size(), 1u);
  EXPECT_EQ(capture.messages()[0].text,
            "Could not open file for writing.  Note that Unicode characters in the file name are not "
            "supported and read-only files cannot be overwritten.");
  chmod(path.c_str(), 0644);
  std::remove(path.c_str());

  capture.clear();
  EXPECT_FALSE(WriteSettingsFile(BindSettings(p), Temp("no-such-folder/x.ksl")));
  EXPECT_EQ(capture.messages().size(), 1u);
}
