// kestrelle never loses a file and never reports a failure as success: one
// scenario per kind of fault, each run in a folder of its own, checking that
// every file there is byte for byte what it was (so also that no temporary
// file is left), and the exit status and the message.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include "imageio/image_io.h"
#include "host/plugin_module.h"
#include "tests/cli_test_support.h"
#include "tests/render_support.h"
#include "tests/run_program.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;
using host::Image;

namespace {

// An empty folder for one scenario, with a trailing separator.
std::string Folder(const std::string& name) { return cli_tests::EmptyFolder("files-", name); }

// Every file in the folder with its bytes.
typedef std::map<std::string, std::string> Contents;
Contents Snapshot(const std::string& folder) {
  Contents c;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.is_regular_file()) c[entry.path().filename().string()] = FileText(entry.path().string());
  return c;
}

::testing::AssertionResult Untouched(const std::string& folder, const Contents& before) {
  const Contents after = Snapshot(folder);
  for (const auto& [name, bytes] : after) {
    auto it = before.find(name);
    if (it == before.end()) return ::testing::AssertionFailure() << "a new file was left: " << name;
    if (it->second != bytes) return ::testing::AssertionFailure() << name << " was changed";
  }
  for (const auto& [name, bytes] : before)
    if (!after.count(name)) return ::testing::AssertionFailure() << name << " was removed";
  return ::testing::AssertionSuccess();
}

bool HasTemporaryFiles(const std::string& folder) {
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().find(".kestrelle-") != std::string::npos) return true;
  return false;
}

Image Noise(int16 planes, int32 depth, int32 width = 97, int32 height = 61) {
  Image image;
  image.document = host::MakeDocument(width, height, planes, depth);
  FillNoise(image.document, uint32(width + planes + depth));
  return image;
}

std::string MakeInput(const std::string& path, int16 planes = 3, int32 depth = 8) {
  std::string error;
  EXPECT_TRUE(host::WriteImage(path, Noise(planes, depth), &error)) << error;
  return FileText(path);
}

ProgramRun Apply(std::vector<std::string> args, const std::string& folder = "") {
  args.insert(args.begin(), "--quiet");
  args.insert(args.begin(), "apply");
  return RunProgram(KestrelleProgram(), args, folder);
}

}  // namespace

// An output that is the input, another output or a file the run reads is
// refused before anything is read, however the paths are spelt.
TEST(KestrelleFiles, AnOutputThatIsAFileOfTheRunIsRefused) {
  const std::string dir = Folder("aliases");
  const std::string in = dir + "in.png", out = dir + "out.png", play = dir + "play.json";
  MakeInput(in);
  SaveText(out, "keep me");
  SaveText(play, "[]\n");
  SaveText(dir + "settings.ksl", "not settings");
  const Contents before = Snapshot(dir);
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{in, in}, "OUTPUT " + in + " is the same file as INPUT"},
      {{in, dir + "./in.png"}, "is the same file as INPUT"},
      {{"--side-by-side", in, in, out}, "--side-by-side " + in + " is the same file as INPUT"},
      {{"--record", in, in, out}, "--record " + in + " is the same file as INPUT"},
      {{"--side-by-side", out, in, out}, "a run writes each file once"},
      {{"--registry", in, in, out}, "--registry " + in + " is the same file as INPUT"},
      {{"--registry", play, "--play", play, in, out}, "is the same file as --play"},
      {{"--record", dir + "settings.ksl", "--settings", dir + "settings.ksl", in, out}, "as --settings"},
      {{"--ui-steps", "screenshot \"" + in + "\"; ok", in, out}, "'screenshot"},
      {{"--ui-steps", "save-settings \"" + out + "\"; ok", in, out}, "'save-settings"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    ProgramRun run = Apply(c.args);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_SAYS(run, c.says);
    EXPECT_SAYS(run, "nothing was written");
    EXPECT_TRUE(Untouched(dir, before));
  }
  // A script may save settings and load them back: that is no conflict.
  ProgramRun saveAndLoad = Apply(
      {"--ui-steps", "save-settings \"" + dir + "s.ksl\"; load-settings \"" + dir + "s.ksl\"; ok", in, dir + "b.png"});
  EXPECT_EQ(saveAndLoad.exitCode, 0) << saveAndLoad.output;
#ifndef _WIN32
  // A link to the input, symbolic or hard, is the input.
  fs::create_symlink(in, dir + "link.png");
  fs::create_hard_link(in, dir + "hard.png");
  for (const char* name : {"link.png", "hard.png"}) {
    ProgramRun run = Apply({in, dir + name});
    EXPECT_EQ(run.exitCode, 2) << name;
    EXPECT_SAYS(run, "is the same file as INPUT");
  }
  EXPECT_EQ(FileText(in), before.at("in.png"));
#endif
}

// Outputs are all or nothing: when any one cannot be written, none replaces
// an existing file, and the reason names the one that failed.
TEST(KestrelleFiles, OutputsAreReplacedAllTogetherOrNotAtAll) {
  const std::string dir = Folder("all-or-nothing");
  const std::string in = dir + "in.png", out = dir + "main.png";
  MakeInput(in);
  SaveText(out, "keep me");
  fs::create_directories(dir + "a-folder");
  const Contents before = Snapshot(dir);
  struct Case {
    std::vector<std::string> extra;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{"--side-by-side", dir + "s.gif"}, "s.gif: unknown output format"},
      {{"--side-by-side", dir + "nodir/s.png"}, "the folder " + dir + "nodir does not exist"},
      {{"--record", dir + "nodir/r.json"}, "does not exist"},
      {{"--record", dir + "a-folder"}, "a-folder: is a folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra[1]);
    std::vector<std::string> args = c.extra;
    args.push_back(in);
    args.push_back(out);
    ProgramRun run = Apply(args);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_SAYS(run, c.says);
    EXPECT_TRUE(Untouched(dir, before));
  }
  // A 32-bit input cannot go to PNG: refused before the filter runs.
  std::string error;
  ASSERT_TRUE(host::WriteImage(dir + "float.tif", Noise(3, 32), &error)) << error;
  const Contents withFloat = Snapshot(dir);
  ProgramRun deep = Apply({"--side-by-side", dir + "pair.png", dir + "float.tif", dir + "deep.tif"});
  EXPECT_EQ(deep.exitCode, 1);
  EXPECT_SAYS(deep, "pair.png: PNG cannot hold 32-bit");
  EXPECT_TRUE(Untouched(dir, withFloat));

#ifndef _WIN32
  // A disk that fills up while the second output is written: the first,
  // though complete, does not replace main.png. (A file size limit stands
  // in for the full disk; the written files' sizes fall either side of it.)
  const Contents now = Snapshot(dir);
  const ProgramRun probe = Apply({"--side-by-side", dir + "probe-pair.tif", in, dir + "probe.png"});
  ASSERT_EQ(probe.exitCode, 0) << probe.output;
  const uintmax_t small = fs::file_size(dir + "probe.png"), large = fs::file_size(dir + "probe-pair.tif");
  ASSERT_LT(small, large);
  fs::remove(dir + "probe.png");
  fs::remove(dir + "probe-pair.tif");
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit limit = saved;
  limit.rlim_cur = rlim_t((small + large) / 2);
  void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG
  setrlimit(RLIMIT_FSIZE, &limit);
  ProgramRun full = Apply({"--side-by-side", dir + "pair.tif", in, out});
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_EQ(full.exitCode, 1);
  EXPECT_SAYS(full, "pair.tif");
  EXPECT_TRUE(Untouched(dir, now));
#endif
}

// The document modes the module's own property list rejects are refused as
// a host greys the filter out, and the message says which it accepts.
TEST(KestrelleFiles, ADocumentTheFilterDoesNotTakeIsRefused) {
  const std::string dir = Folder("modes");
  MakeInput(dir + "grey.png", 1, 8);
  const Contents before = Snapshot(dir);
  ProgramRun grey = Apply({"--red-gain", "2", dir + "grey.png", dir + "out.png"});
  EXPECT_EQ(grey.exitCode, 1);
  EXPECT_SAYS(grey, "the filter does not work on 8-bit grey documents");
  EXPECT_SAYS(grey, "it accepts 8-bit RGB, 16-bit grey, 16-bit RGB, 32-bit grey and 32-bit RGB documents");
  EXPECT_TRUE(Untouched(dir, before));
  // The neighbours it does take.
  MakeInput(dir + "grey16.png", 1, 16);
  ProgramRun grey16 = Apply({dir + "grey16.png", dir + "out16.png"});
  EXPECT_EQ(grey16.exitCode, 0) << grey16.output;
}

// Values the filter would clamp without a word are refused with the range.
TEST(KestrelleFiles, SettingsOutsideTheirRangeAreRefusedWithTheRange) {
  const std::string dir = Folder("ranges");
  MakeInput(dir + "in.png");
  const Contents before = Snapshot(dir);
  struct Case {
    const char* option;
    const char* value;
    const char* says;
  };
  const Case cases[] = {
      {"--red-gain", "-1", "'-1' is out of range; R Gain takes 0.00392157 to 1000"},
      {"--red-gain", "1e6", "'1e6' is out of range"},
      {"--red-gain", "1e309", "'1e309' is out of range"},
      {"--green-gain", "inf", "'inf' is out of range; G Gain takes"},
      {"--blue-gain", "nan", "'nan' is not a number (NaN)"},
      {"--highlight-recovery", "-1000", "'-1000' is out of range; Highlight Recovery takes 0 to 100"},
      {"--highlight-rolloff", "10000.5", "'10000.5' is out of range; Highlight Rolloff takes 0 to 10000"},
      {"--red-gain-fine", "lots", "'lots' is not a number; R Gain (fine) takes -100 to 100"},
  };
  for (const Case& c : cases) {
    ProgramRun run = Apply({c.option, c.value, dir + "in.png", dir + "out.png"});
    EXPECT_EQ(run.exitCode, 2) << c.option << " " << c.value;
    EXPECT_SAYS(run, std::string(c.option) + ": " + c.says);
  }
  EXPECT_TRUE(Untouched(dir, before));
  // The bounds themselves, as printed, are accepted.
  ProgramRun edges = Apply({"--red-gain", "0.00392157", "--blue-gain", "1000", "--highlight-recovery", "0",
                            dir + "in.png", dir + "out.png"});
  EXPECT_EQ(edges.exitCode, 0) << edges.output;
}

// What the module reports in its message boxes is watched: a settings file
// it cannot load or save fails the run instead of one made with other
// settings.
TEST(KestrelleFiles, SettingsTheFilterCannotLoadOrSaveFailTheRun) {
  const std::string dir = Folder("settings");
  const std::string in = dir + "in.png", out = dir + "out.png";
  MakeInput(in);
  SaveText(out, "keep me");
  SaveText(dir + "garbage.ksl", "this is not a settings file at all, just words and more words");
  SaveText(dir + "empty.ksl", "");
  SaveText(dir + "wrong-header.ksl", std::string(200, 'x'));
  fs::create_directories(dir + "folder.ksl");
  const Contents before = Snapshot(dir);
  for (const char* name : {"garbage.ksl", "empty.ksl", "wrong-header.ksl"}) {
    SCOPED_TRACE(name);
    ProgramRun run = Apply({"--settings", dir + name, in, out});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_SAYS(run, "the filter reported a problem with --settings " + dir + name);
    EXPECT_SAYS(run, "nothing was written");
    EXPECT_TRUE(Untouched(dir, before));
  }
  ProgramRun folder = Apply({"--settings", dir + "folder.ksl", in, out});
  EXPECT_EQ(folder.exitCode, 1);
  EXPECT_SAYS(folder, "folder.ksl: it is a folder");
  ProgramRun step = Apply({"--ui-steps", "load-settings \"" + dir + "garbage.ksl\"; ok", in, out});
  EXPECT_EQ(step.exitCode, 1);
  EXPECT_SAYS(step, "(line 1)");
#ifndef _WIN32
  // (Windows' own save dialog does not take a folder for a file name.)
  ProgramRun save = Apply({"--ui-steps", "save-settings \"" + dir + "folder.ksl\"; ok", in, out});
  EXPECT_EQ(save.exitCode, 1);
  EXPECT_SAYS(save, "the filter reported a problem with save-settings");
#endif
  EXPECT_TRUE(Untouched(dir, before));
}

// A played action's key that the filter does not read is named; when the
// filter stopped reading there, the settings after it were never applied
// and the run fails.
TEST(KestrelleFiles, APlayedKeyTheFilterDoesNotKnowIsNamed) {
  const std::string dir = Folder("keys");
  const std::string in = dir + "in.png", out = dir + "out.png";
  MakeInput(in);
  SaveText(dir + "last.json", "[{\"key\": \"brgH\", \"type\": \"doub\", \"value\": 1.5},\n"
                          " {\"key\": \"Xyzw\", \"type\": \"long\", \"value\": 3}]\n");
  SaveText(dir + "middle.json", "[{\"key\": \"Xyzw\", \"type\": \"long\", \"value\": 3},\n"
                            " {\"key\": \"brgH\", \"type\": \"doub\", \"value\": 1.5}]\n");
  ProgramRun last = Apply({"--play", dir + "last.json", in, out});
  EXPECT_EQ(last.exitCode, 0) << last.output;
  EXPECT_SAYS(last, "warning: the filter does not know the key 'Xyzw' of the played action; it was ignored");
  const Contents before = Snapshot(dir);
  ProgramRun middle = Apply({"--play", dir + "middle.json", in, out});
  EXPECT_EQ(middle.exitCode, 1);
  EXPECT_SAYS(middle, "the key 'Xyzw'");
  EXPECT_SAYS(middle, "the settings after it ('brgH') were not applied; nothing was written");
  EXPECT_TRUE(Untouched(dir, before));
}

// Last-used settings that cannot be kept: the image is written, and the run
// says so and fails.
TEST(KestrelleFiles, LastUsedSettingsThatCannotBeKeptAreReported) {
  const std::string dir = Folder("registry");
  const std::string in = dir + "in.png", out = dir + "out.png";
  MakeInput(in);
  ProgramRun missing = Apply({"--registry", dir + "nodir/reg.json", in, out});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_SAYS(missing, "warning: the last-used settings were not kept: " + dir + "nodir/reg.json");
  EXPECT_TRUE(fs::exists(out));
  EXPECT_FALSE(HasTemporaryFiles(dir));

  // Files that are not registries, each with its real cause.
  SaveText(dir + "x.json", "{\"x\":1}");
  fs::create_directories(dir + "folder.json");
  ProgramRun entry = Apply({"--registry", dir + "x.json", in, out});
  EXPECT_EQ(entry.exitCode, 1);
  EXPECT_SAYS(entry, "entry \"x\" is not an object with a \"descriptor\"");
  ProgramRun folder = Apply({"--registry", dir + "folder.json", in, out});
  EXPECT_EQ(folder.exitCode, 1);
  EXPECT_SAYS(folder, "folder.json: is a folder, not a registry file");
}

// Each mistake is named for what it is.
TEST(KestrelleFiles, MistakesAreNamedForWhatTheyAre) {
  const std::string dir = Folder("words");
  const std::string in = dir + "in.png", out = dir + "out.png";
  MakeInput(in);
  fs::create_directories(dir + "folder");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{in, out, "--frob"}, 2, "unknown option --frob"},
      {{in, out, "--version"}, 2, "kestrelle --version shows the version"},
      {{"--ui", dir + "folder", in, out}, 1, "folder: it is a folder"},
      {{"--ui-steps", "wheel 1000000", in, out}, 2, "not '1000000'"},
      {{"--play=", in, out}, 2, "--play needs a value"},
  };
  for (const Case& c : cases) {
    ProgramRun run = Apply(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    EXPECT_SAYS(run, c.says);
  }
  // A script file saved with a byte-order mark.
  SaveText(dir + "bom.txt", "\xEF\xBB\xBFok\n");
  ProgramRun bom = Apply({"--ui", dir + "bom.txt", in, out});
  EXPECT_EQ(bom.exitCode, 0) << bom.output;
  // A module named as a file of the current folder, not searched for.
  const std::string module = BuiltModulePath();
  const std::string moduleFolder = module.substr(0, module.find_last_of("\\/") + 1);
  ProgramRun local = Apply({"--module", host::DefaultModuleName(), in, out}, moduleFolder);
  EXPECT_EQ(local.exitCode, 0) << local.output;
}

#ifndef _WIN32
// A symbolic link as OUTPUT is written through, as cp does: the link stays,
// the file it points to gets the result.
TEST(KestrelleFiles, ALinkedOutputIsWrittenThrough) {
  const std::string dir = Folder("links");
  fs::create_directories(dir + "real");
  const std::string in = dir + "in.png", target = dir + "real/out.png", link = dir + "out.png";
  MakeInput(in);
  SaveText(target, "old");
  fs::create_symlink("real/out.png", link);
  ProgramRun run = Apply({in, link});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_NE(FileText(target), "old");
  EXPECT_FALSE(HasTemporaryFiles(dir));
  EXPECT_FALSE(HasTemporaryFiles(dir + "real"));
  // A dangling link makes its target.
  fs::create_symlink("real/new.png", dir + "new.png");
  ProgramRun dangling = Apply({in, dir + "new.png"});
  ASSERT_EQ(dangling.exitCode, 0) << dangling.output;
  EXPECT_TRUE(fs::is_symlink(dir + "new.png"));
  EXPECT_TRUE(fs::is_regular_file(dir + "real/new.png"));
}

namespace {

// The size of the run's temporary file in `dir`, or -1 while there is none.
long long TemporarySize(const std::string& dir) {
  std::error_code e;
  for (const auto& entry : fs::directory_iterator(dir, e)) {
    if (entry.path().filename().string().find(".kestrelle-") == std::string::npos) continue;
    const uintmax_t size = fs::file_size(entry.path(), e);
    return e ? -1 : (long long)size;
  }
  return -1;
}

}  // namespace

// Signals at many points of the writing phase of a large file: the previous
// output is always either entirely the old file or entirely the new one,
// a caught signal leaves no temporary file and exits 130/143/129, and the
// next run into the folder removes what a killed one left.
TEST(KestrelleFiles, SignalsWhileWritingLeaveTheOldFileOrTheNewOne) {
  const std::string dir = Folder("signals");
  const std::string in = dir + "in.tif", out = dir + "out.tif";
  Image big = Noise(3, 16, 1200, 700);
  std::string error;
  ASSERT_TRUE(host::WriteImage(in, big, &error)) << error;
  const std::vector<std::string> args = {"apply", "--quiet", "--red-gain", "1.2", in, out};
  // The new file, made once without interruption.
  ASSERT_EQ(WaitForProgram(StartKestrelle(args)), 0);
  const std::string fresh = FileText(out);
  const long long full = (long long)fresh.size();
  const std::string old = "the old output";

  const int signals[] = {SIGINT, SIGTERM, SIGKILL, SIGHUP};
  const int points = 8;
  int sawOld = 0, sawNew = 0;
  for (int i = 0; i < points; ++i) {
    const int sig = signals[i % 4];
    SaveText(out, old);
    // Watch the temporary file grow past i/points of the file, then signal.
    const long long mark = full * i / points;
    const pid_t pid = StartKestrelle(args);
    bool exited = false;
    for (int spin = 0; spin < 2000000; ++spin) {
      if (TemporarySize(dir) > mark) break;
      int status;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        exited = true;
        break;
      }
    }
    if (!exited) kill(pid, sig);
    const int code = exited ? 0 : WaitForProgram(pid);
    const std::string now = FileText(out);
    SCOPED_TRACE("signal " + std::to_string(sig) + " past byte " + std::to_string(mark));
    EXPECT_TRUE(now == old || now == fresh) << "a damaged output of " << now.size() << " bytes";
    if (now == old) ++sawOld;
    if (now == fresh) ++sawNew;
    // What a killed run leaves would be taken for the next run's file.
    if (sig == SIGKILL)
      for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().find(".kestrelle-") != std::string::npos) fs::remove(entry.path());
    if (sig == SIGKILL) {
      EXPECT_TRUE(code == 128 + SIGKILL || (code == 0 && now == fresh)) << code;
    } else {
      const int expected = sig == SIGINT ? 130 : 128 + sig;
      EXPECT_TRUE((code == expected && now == old) || (code == 0 && now == fresh)) << code;
      EXPECT_FALSE(HasTemporaryFiles(dir));
    }
  }
  EXPECT_GT(sawOld, 0);  // the signals did come while writing

  // What a killed run left is removed by the next run into the folder; a
  // temporary file of a live process is not.
  SaveText(dir + "x.tif.kestrelle-999999999-1.tmp", "left by a killed run");
  const std::string live = "x.tif.kestrelle-" + std::to_string(getpid()) + "-1.tmp";
  SaveText(dir + live, "still being written");
  ASSERT_EQ(WaitForProgram(StartKestrelle({"apply", "--quiet", in, dir + "again.tif"})), 0);
  EXPECT_FALSE(fs::exists(dir + "x.tif.kestrelle-999999999-1.tmp"));
  EXPECT_TRUE(fs::exists(dir + live));
  fs::remove(dir + live);
  EXPECT_FALSE(HasTemporaryFiles(dir));
  (void)sawNew;
}
#endif
