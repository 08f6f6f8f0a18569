// Files named in any language: the command, its workers and the filter's
// own files take them all, on Windows (UTF-16 names, where the ANSI calls
// lost every letter outside the system code page) as natively (names that
// are bytes, not always UTF-8). The reports stay UTF-8 JSON whatever the
// names hold.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#endif

#include "cli/batch_report.h"
#include "files/file_identity.h"
#include "files/system_names.h"
#include "files/utf8.h"
#include "host/json.h"
#include "host/plugin_module.h"
#include "plugin/last_used_file.h"
#include "plugin/parameters.h"
#include "settings/settings_file.h"
#include "tests/cli_test_support.h"
#include "tests/render_support.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;
using namespace cli_tests;

namespace {

// Spelt as bytes, so the source file's own encoding does not matter.
const std::string kCafe = "caf\xC3\xA9";                 // café
const std::string kCeshi = "\xE6\xB5\x8B\xE8\xAF\x95";   // 测试
const std::string kLatin1Cafe = "caf\xE9";               // café in Latin-1: not UTF-8

std::string Hex(const std::string& bytes) {
  std::string out;
  char two[3];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02x", c);
    out += two;
  }
  return out;
}

// The names of a folder's files.
std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  std::error_code e;
  for (fs::directory_iterator it(files::SystemPath(folder), e), end; !e && it != end; it.increment(e))
    names.insert(files::NameOfPath(it->path().filename()));
  return names;
}

// Every line of a report, each checked to be UTF-8 and one JSON object; the
// file each line is about, by its exact file name (from "input_bytes" when
// the name is not UTF-8).
std::map<std::string, host::JsonValue> ReportByInput(const std::string& path) {
  std::map<std::string, host::JsonValue> lines;
  std::istringstream text(FileText(path));
  for (std::string line; std::getline(text, line);) {
    EXPECT_TRUE(files::IsUtf8(line)) << line;
    host::JsonValue v;
    std::string error;
    EXPECT_TRUE(host::ParseJson(line, v, &error)) << line << ": " << error;
    const host::JsonValue* input = v.Member("input");
    const host::JsonValue* bytes = v.Member("input_bytes");
    if (!input) continue;
    std::string name = input->text;
    if (bytes) {
      name.clear();
      for (size_t i = 0; i + 1 < bytes->text.size(); i += 2)
        name += char(std::strtoul(bytes->text.substr(i, 2).c_str(), nullptr, 16));
      EXPECT_EQ(input->text, files::Utf8Replacing(name)) << "the text shows the name, bad bytes as U+FFFD";
    }
    lines[files::NameOf(name)] = v;
  }
  return lines;
}

// Where the filter keeps its per-user files: the profile folder on Windows,
// $XDG_CONFIG_HOME natively. Inherited by the programs the test starts.
void SetUserFolder(const std::string& folder) {
#ifdef _WIN32
  SetEnvironmentVariableW(L"APPDATA", files::Wide(folder).c_str());
#else
  setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
#endif
}

class KestrelleNames : public FolderTest {
 protected:
  KestrelleNames() : FolderTest("names-") {}
};

}  // namespace

TEST(Utf8Names, ConvertBothWaysAndKeepWhatUtf8CannotSpell) {
  for (const std::u16string& s : {std::u16string(u"plain"), std::u16string(u"caf\u00e9"),
                                  std::u16string(u"\u6d4b\u8bd5"), std::u16string(u"\U0001F600.png")}) {
    const std::string utf8 = files::Utf8FromUtf16(s);
    EXPECT_TRUE(files::IsUtf8(utf8));
    std::u16string back;
    EXPECT_TRUE(files::Utf16FromUtf8(utf8, &back));
    EXPECT_EQ(back, s);
  }
  EXPECT_EQ(files::Utf8FromUtf16(u"caf\u00e9"), kCafe);
  EXPECT_EQ(files::Utf8FromUtf16(u"\u6d4b\u8bd5"), kCeshi);
  EXPECT_EQ(files::Utf8FromUtf16(u"\U0001F600"), "\xF0\x9F\x98\x80");  // a pair, not two surrogates

  // A Windows name may hold half a pair: it comes back exactly, and is not UTF-8.
  const std::u16string lone = {u'a', char16_t(0xD800), u'b', char16_t(0xDC00)};
  const std::string wtf8 = files::Utf8FromUtf16(lone);
  EXPECT_FALSE(files::IsUtf8(wtf8));
  std::u16string back;
  EXPECT_TRUE(files::Utf16FromUtf8(wtf8, &back));
  EXPECT_EQ(back, lone);

  // Stray continuation, overlong forms, cut sequences, beyond U+10FFFF, a
  // surrogate, Latin-1.
  for (const std::string& bad : std::vector<std::string>{"\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xC3", "\xE6\xB5", "\xF4\x90\x80\x80",
                                "\xF5\x80\x80\x80", "\xFF", "\xED\xA0\x80", kLatin1Cafe}) {
    EXPECT_FALSE(files::IsUtf8(bad)) << Hex(bad);
    EXPECT_TRUE(files::IsUtf8(files::Utf8Replacing(bad))) << Hex(bad);
  }
  EXPECT_FALSE(files::Utf16FromUtf8(kLatin1Cafe + ".png", &back));
  // Each bad byte becomes one U+FFFD; the rest is kept.
  EXPECT_EQ(files::Utf8Replacing(kLatin1Cafe + ".png"), "caf\xEF\xBF\xBD.png");
  EXPECT_EQ(files::Utf8Replacing("\xE6\xB5x"), "\xEF\xBF\xBD\xEF\xBF\xBDx");
  EXPECT_EQ(files::Utf8Replacing(kCeshi), kCeshi);
  // Cut where a character ends.
  EXPECT_EQ(files::Utf8Prefix(kCeshi, 5), kCeshi.substr(0, 3));
  EXPECT_EQ(files::Utf8Prefix(kCeshi, 6), kCeshi);
  EXPECT_EQ(files::Utf8Prefix(kLatin1Cafe, 4), kLatin1Cafe);
}

// A report line is UTF-8 JSON whatever its texts hold; a name it cannot
// spell keeps its bytes beside it.
TEST(Utf8Names, ReportLinesAreUtf8JsonAndKeepTheExactBytes) {
  cli::FileOutcome failed;
  failed.error = "in/" + kLatin1Cafe + ".png: cannot open";
  failed.warnings = {"in/" + kLatin1Cafe + ".png: a warning"};
  const std::string line = cli::ReportLine({"in/" + kLatin1Cafe + ".png", "out/" + kCeshi + ".png"},
                                           cli::FileStatus::Failed, failed);
  ASSERT_TRUE(files::IsUtf8(line)) << line;
  host::JsonValue v;
  ASSERT_TRUE(host::ParseJson(line, v, nullptr)) << line;
  EXPECT_EQ(v.Member("input")->text, "in/caf\xEF\xBF\xBD.png");
  ASSERT_NE(v.Member("input_bytes"), nullptr);
  EXPECT_EQ(v.Member("input_bytes")->text, Hex("in/" + kLatin1Cafe + ".png"));
  EXPECT_EQ(v.Member("output")->text, "out/" + kCeshi + ".png");
  EXPECT_EQ(v.Member("output_bytes"), nullptr) << "a UTF-8 name needs no bytes";
  EXPECT_EQ(v.Member("reason")->text, "in/caf\xEF\xBF\xBD.png: cannot open");
  EXPECT_EQ(v.Member("warnings")->array.at(0).text, "in/caf\xEF\xBF\xBD.png: a warning");
}

// A folder of files named in several languages, in a folder named in
// another, is filtered whole, in the command's own process and by workers,
// each file as it is filtered alone; the lines and the report name every
// file. The program itself may live in such a folder.
TEST_F(KestrelleNames, FilesAndFoldersNamedInAnyLanguageAreAllFiltered) {
  std::vector<std::string> names = {"plain.png", kCafe + ".png", kCeshi + ".tif"};
#ifndef _WIN32
  names.push_back(kLatin1Cafe + ".jpg");  // POSIX names are bytes; Windows names cannot be this
#endif
  const std::string in = dir_ + "photos-" + kCafe;
  fs::create_directories(files::SystemPath(in));
  for (size_t i = 0; i < names.size(); ++i) {
    std::string error;
    ASSERT_TRUE(host::WriteImage(in + "/" + names[i], NoiseImage(3, 8, uint32(i + 1)), &error)) << error;
  }
  ASSERT_EQ(Names(in), std::set<std::string>(names.begin(), names.end()));

  // Each file alone, by its own name, to a name in another script.
  std::map<std::string, std::string> alone;
  for (const std::string& name : names) {
    const std::string out = dir_ + kCeshi + "-" + name;
    const ProgramRun run = Apply({"--quiet", "--red-gain", "1.2", "--blue-gain", "0.9", in + "/" + name, out});
    ASSERT_EQ(run.exitCode, 0) << name << ": " << run.output;
    alone[name] = FileText(out);
    EXPECT_FALSE(alone[name].empty()) << name;
  }

  // The program in a folder named in another language: it finds its module
  // and starts its workers from there.
  const std::string program = dir_ + "programme-" + kCeshi + "/";
  fs::create_directories(files::SystemPath(program));
  const std::string built = KestrelleProgram(), module = BuiltModulePath();
  const std::string copied = program + files::NameOf(built);
  fs::copy_file(files::SystemPath(built), files::SystemPath(copied));
  fs::copy_file(files::SystemPath(module), files::SystemPath(program + host::DefaultModuleName()));
#ifndef _WIN32
  fs::permissions(copied, fs::perms::owner_exec, fs::perm_options::add);
#endif

  struct Batch {
    const char* jobs;
    std::string program;
  };
  for (const Batch& b : {Batch{"1", KestrelleProgram()}, Batch{"2", KestrelleProgram()}, Batch{"2", copied}}) {
    SCOPED_TRACE(std::string("--jobs ") + b.jobs + " " + b.program);
    const std::string out = dir_ + "sortie-" + kCeshi + "-" + b.jobs + (b.program == copied ? "-copied" : "");
    const std::string report = out + "-rapport-" + kCafe + ".jsonl";
    const ProgramRun run = RunProgram(b.program, {"apply", "--red-gain", "1.2", "--blue-gain", "0.9", in,
                                                  "--output-dir", out, "--jobs", b.jobs, "--report", report});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_SAYS(run, std::to_string(names.size()) + " files: " + std::to_string(names.size()) + " done, ");
    for (const std::string& name : names) EXPECT_SAYS(run, name + " -> ");

    EXPECT_EQ(Names(out), std::set<std::string>(names.begin(), names.end()));
    for (const std::string& name : names) EXPECT_TRUE(FileText(out + "/" + name) == alone[name]) << name;

    const std::map<std::string, host::JsonValue> lines = ReportByInput(report);
    EXPECT_EQ(lines.size(), names.size());
    for (const std::string& name : names) {
      const auto line = lines.find(name);
      ASSERT_NE(line, lines.end()) << name << " is not in the report";
      EXPECT_EQ(line->second.Member("status")->text, "done") << name;
    }
  }
}

// The filter's last-used file, for a host without a registry, under a
// profile folder named in any language: GIMP's repeat finds what the
// interactive run kept there.
TEST_F(KestrelleNames, TheFiltersOwnFileLivesUnderAProfileNamedInAnyLanguage) {
  const std::string profile = dir_ + "profil-" + kCafe + "-" + kCeshi;
  fs::create_directories(files::SystemPath(profile));
  SetUserFolder(profile);
  const std::string in = dir_ + "in.png", first = dir_ + "first.png", again = dir_ + "again.png";
  std::string error;
  ASSERT_TRUE(host::WriteImage(in, NoiseImage(3, 8, 9), &error)) << error;
  const std::string module = BuiltModulePath();
  ProgramRun interactive = Apply({"--host-profile", "gimp", "--module", module, "--host-run", "interactive",
                                  "--blue-gain", "1.7", in, first});
  ASSERT_EQ(interactive.exitCode, 0) << interactive.output;
  ProgramRun repeat = Apply({"--host-profile", "gimp", "--module", module, "--host-run", "repeat", in, again});
  ASSERT_EQ(repeat.exitCode, 0) << repeat.output;
  EXPECT_TRUE(FileText(first) == FileText(again)) << "the repeat did not find the kept settings";

  // Where this process's filter code looks too, with what the module kept.
  const std::string kept = LastUsedFilePath();
  EXPECT_EQ(kept.rfind(profile, 0), 0u) << kept;
  EXPECT_EQ(files::KindOf(kept), files::PathKind::File) << kept;
  FilterParameters p{};
  ResetParameters(p);
  ProxyViewState view;
  EXPECT_EQ(ReadLastUsedFile(p, view), noErr);
  EXPECT_EQ(p.blueGain, 1.7);
}

// Save Settings and Load Settings through the file dialogs (the real ones
// under Windows), a script file and --settings, all named in other
// languages.
TEST(KestrelleDialog, SettingsFilesNamedInAnyLanguageAreSavedAndLoaded) {
#ifdef _WIN32
  char display[256] = {};
  if (GetEnvironmentVariableA("DISPLAY", display, sizeof display) == 0)
    GTEST_SKIP() << "no DISPLAY: the Windows dialog needs an X server";
#endif
  // Spelt as the user of each system would: the file dialog takes the name
  // as it is typed.
#ifdef _WIN32
  const std::string dir = ExecutableDirectory() + "names-settings-" + kCeshi + "\\";
#else
  const std::string dir = ExecutableDirectory() + "names-settings-" + kCeshi + "/";
#endif
  std::error_code ignored;
  fs::remove_all(files::SystemPath(dir), ignored);
  fs::create_directories(files::SystemPath(dir));
  const std::string in = dir + "entr\xC3\xA9" "e.png", saved = dir + "r\xC3\xA9glages-" + kCeshi + ".ksl";
  const std::string script = dir + "script-" + kCafe + ".txt";
  std::string error;
  ASSERT_TRUE(host::WriteImage(in, NoiseImage(3, 8, 4), &error)) << error;
  const host::Document original = Read(in).document;
  FilterParameters want{};
  ResetParameters(want);
  want.redGain = 1.5;

  // Saved at 1.5, moved away, loaded back.
  SaveText(script, "drag \"R Gain\" 150\nsave-settings \"" + saved + "\"\ndrag \"R Gain\" 100\nload-settings \"" +
                       saved + "\"\nok\n");
  const ProgramRun run = Apply({"--quiet", "--ui", script, in, dir + kCeshi + ".png"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(Names(dir).count(files::NameOf(saved)), 1u) << "saved under another name";
  FilterParameters fromFile{};
  ResetParameters(fromFile);
  ASSERT_TRUE(ReadSettingsFile(BindSettings(fromFile), saved));
  EXPECT_EQ(fromFile.redGain, 1.5);
  EXPECT_EQ(FirstDifference(Read(dir + kCeshi + ".png").document, Expected(original, want, {0, 0, 61, 97})), "");

  const ProgramRun loaded = Apply({"--quiet", "--settings", saved, in, dir + kCafe + ".png"});
  ASSERT_EQ(loaded.exitCode, 0) << loaded.output;
  EXPECT_EQ(FirstDifference(Read(dir + kCafe + ".png").document, Expected(original, want, {0, 0, 61, 97})), "");
  fs::remove_all(files::SystemPath(dir), ignored);
}
