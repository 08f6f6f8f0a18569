// kestrelle apply over many files (INPUT... --output-dir DIR), as a studio
// runs it: real folders, the program as a separate process with its worker
// processes, the lines, summary, exit code and report it leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include "cli/batch_plan.h"
#include "cli/worker_protocol.h"
#include "imageio/image_io.h"
#include "host/json.h"
#include "tests/cli_test_support.h"
#include "tests/render_support.h"
#include "tests/run_program.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Save(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// An empty folder for one scenario, with a trailing separator.
std::string Folder(const std::string& name) { return cli_tests::EmptyFolder("batch-", name); }

void MakeImage(const std::string& path, int16 planes, int32 depth, uint32 seed) {
  host::Image image;
  image.document = host::MakeDocument(41 + int32(seed % 7), 23, planes, depth);
  FillFileNoise(image.document, seed);
  std::string error;
  ASSERT_TRUE(host::WriteImage(path, image, &error)) << path << ": " << error;
}

ProgramRun Apply(std::vector<std::string> args) {
  args.insert(args.begin(), "apply");
  return RunProgram(KestrelleProgram(), args);
}

// Every file below `folder` (its path relative to it, '/' between names)
// with its bytes.
std::map<std::string, std::string> Tree(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) files[fs::relative(e.path(), folder).generic_string()] = Bytes(e.path().string());
  return files;
}

bool HasTemporaryFiles(const std::string& folder) {
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.path().filename().string().find(".kestrelle-") != std::string::npos) return true;
  return false;
}

// The report's lines, each an object.
std::vector<host::JsonValue> Report(const std::string& path) {
  std::vector<host::JsonValue> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    host::JsonValue v;
    std::string error;
    EXPECT_TRUE(host::ParseJson(line, v, &error)) << line << ": " << error;
    lines.push_back(v);
  }
  return lines;
}

std::string Field(const host::JsonValue& v, const char* name) {
  const host::JsonValue* m = v.Member(name);
  return m ? m->text : "";
}

// Each input's status in the report.
std::map<std::string, std::string> Statuses(const std::vector<host::JsonValue>& report) {
  std::map<std::string, std::string> s;
  for (const host::JsonValue& v : report) {
    EXPECT_EQ(s.count(Field(v, "input")), 0u) << "reported twice: " << Field(v, "input");
    s[Field(v, "input")] = Field(v, "status");
  }
  return s;
}

// A folder of mixed files: PNG, TIFF and JPEG at several depths, three
// damaged ones, and files that are not taken (not images, hidden).
struct Shoot {
  std::string dir;
  std::vector<std::string> good, damaged;
};

Shoot MakeShoot(const std::string& name) {
  Shoot s;
  s.dir = Folder(name) + "in";
  fs::create_directories(s.dir);
  const std::string d = s.dir + "/";
  MakeImage(d + "a8.png", 3, 8, 1);
  MakeImage(d + "b16.png", 3, 16, 2);
  MakeImage(d + "c8.tif", 3, 8, 3);
  MakeImage(d + "d16.tif", 3, 16, 4);
  MakeImage(d + "e32.tif", 3, 32, 5);
  MakeImage(d + "f.jpg", 3, 8, 6);
  MakeImage(d + "g.JPEG", 3, 8, 7);
  MakeImage(d + "h-grey16.png", 1, 16, 8);
  s.good = {"a8.png", "b16.png", "c8.tif", "d16.tif", "e32.tif", "f.jpg", "g.JPEG", "h-grey16.png"};
  Save(d + "x-junk.png", "not a picture at all");
  const std::string tif = Bytes(d + "c8.tif");
  Save(d + "y-cut.tif", tif.substr(0, tif.size() / 3));
  Save(d + "z-empty.jpg", "");
  s.damaged = {"x-junk.png", "y-cut.tif", "z-empty.jpg"};
  Save(d + "notes.txt", "not taken");
  Save(d + ".hidden.png", "not taken");
  return s;
}

}  // namespace

// The whole flow over a mixed folder: one damaged file does not stop the
// others, each file gets its line, the summary counts them, the exit code
// says a file failed, and the report has one line per file with its
// settings. The outputs are those a run on each file alone gives, whatever
// the number of jobs.
TEST(KestrelleBatch, AMixedFolderWithDamagedFilesGoesThrough) {
  const Shoot shoot = MakeShoot("mixed");
  const std::string root = Folder("mixed-out");
  const size_t files = shoot.good.size() + shoot.damaged.size();
  std::map<std::string, std::string> first;
  for (const char* jobs : {"1", "3"}) {
    SCOPED_TRACE(std::string("--jobs ") + jobs);
    const std::string out = root + "jobs" + jobs, report = root + "report" + jobs + ".jsonl";
    const ProgramRun run =
        Apply({"--red-gain", "1.2", "--blue-gain=0.9", shoot.dir, "--output-dir", out, "--jobs", jobs, "--report", report});
    EXPECT_EQ(run.exitCode, 1) << run.output;
    const std::string in = shoot.dir + (shoot.dir.back() == '/' ? "" : "/");
    for (const std::string& name : shoot.good) EXPECT_SAYS(run, name + ": done (");
    for (const std::string& name : shoot.damaged) EXPECT_SAYS(run, name + ": FAILED: ");
    EXPECT_SAYS(run, std::to_string(files) + " files: 8 done, 0 skipped, 3 failed in ");
    EXPECT_EQ(run.output.find("warning"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("notes.txt"), std::string::npos);
    EXPECT_EQ(run.output.find("hidden"), std::string::npos);

    const std::vector<host::JsonValue> lines = Report(report);
    ASSERT_EQ(lines.size(), files);
    for (const host::JsonValue& v : lines) {
      const std::string name = fs::path(Field(v, "input")).filename().string();
      const bool good = std::count(shoot.good.begin(), shoot.good.end(), name) > 0;
      EXPECT_EQ(Field(v, "status"), good ? "done" : "failed") << name;
      EXPECT_EQ(Field(v, "reason").empty(), good) << name;
      ASSERT_NE(v.Member("seconds"), nullptr);
      EXPECT_EQ(v.Member("seconds")->kind, host::JsonValue::Number);
      const host::JsonValue* settings = v.Member("settings");
      ASSERT_NE(settings, nullptr);
      if (good) {
        ASSERT_NE(settings->Member("red-gain"), nullptr) << name;
        EXPECT_EQ(settings->Member("red-gain")->text, "1.2");
        EXPECT_EQ(settings->Member("blue-gain")->text, "0.9");
      }
    }

    // Only whole outputs of the good files, named after them.
    std::map<std::string, std::string> written = Tree(out);
    EXPECT_EQ(written.size(), shoot.good.size());
    for (const std::string& name : shoot.good) EXPECT_EQ(written.count(name), 1u) << name;
    EXPECT_FALSE(HasTemporaryFiles(out));
    if (first.empty())
      first = written;
    else
      EXPECT_TRUE(written == first) << "--jobs 3 wrote other bytes than --jobs 1";
  }
  // Each output is what one file's run makes of it.
  const std::string single = root + "single.tif";
  ASSERT_EQ(Apply({"--quiet", "--red-gain", "1.2", "--blue-gain", "0.9", shoot.dir + "/d16.tif", single}).exitCode, 0);
  EXPECT_EQ(Bytes(single), first["d16.tif"]);
}

// Subfolders keep their structure under DIR; --suffix and --format name the
// outputs; the lines name input and output.
TEST(KestrelleBatch, RecursiveRunsKeepTheTreeAndNameTheOutputs) {
  const std::string dir = Folder("tree");
  fs::create_directories(dir + "in/day1/raw");
  fs::create_directories(dir + "in/day2");
  MakeImage(dir + "in/top.png", 3, 8, 1);
  MakeImage(dir + "in/day1/a.tif", 3, 8, 2);
  MakeImage(dir + "in/day1/raw/b.jpg", 3, 8, 3);
  MakeImage(dir + "in/day2/a.tif", 3, 8, 4);  // the same name as day1's, in another folder
  MakeImage(dir + "loose.png", 3, 8, 5);
  const ProgramRun run = Apply({dir + "in", dir + "loose.png", "--recursive", "--suffix", "-wb", "--format", "jpg",
                                "--output-dir", dir + "out", "--jobs", "2"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::map<std::string, std::string> out = Tree(dir + "out");
  std::set<std::string> names;
  for (const auto& [name, bytes] : out) names.insert(name);
  EXPECT_EQ(names, (std::set<std::string>{"top-wb.jpg", "day1/a-wb.jpg", "day1/raw/b-wb.jpg", "day2/a-wb.jpg",
                                          "loose-wb.jpg"}));
  for (const auto& [name, bytes] : out) EXPECT_EQ(bytes.substr(0, 2), "\xFF\xD8") << name << " is not a JPEG";
  EXPECT_SAYS(run, "5 files: 5 done, 0 skipped, 0 failed in ");
  EXPECT_SAYS(run, "b.jpg -> " + dir + "out");

  // Without --recursive a folder gives only its own files.
  const ProgramRun flat = Apply({"--quiet", dir + "in", "--output-dir", dir + "flat", "--jobs", "1"});
  ASSERT_EQ(flat.exitCode, 0) << flat.output;
  EXPECT_EQ(Tree(dir + "flat").size(), 1u);
  // A folder with nothing to take is said to be so.
  fs::create_directories(dir + "empty");
  const ProgramRun empty = Apply({dir + "empty", "--output-dir", dir + "out2"});
  EXPECT_EQ(empty.exitCode, 1);
  EXPECT_SAYS(empty, "no PNG, TIFF or JPEG files in");
  EXPECT_FALSE(fs::exists(dir + "out2"));
}

// N shards do every file exactly once; a shard whose run stopped part way
// is finished by a re-run with --skip-existing, which redoes nothing.
TEST(KestrelleBatch, ShardsDoEveryFileOnceAndARerunFinishesTheRest) {
  const std::string dir = Folder("shards");
  fs::create_directories(dir + "in");
  const int files = 11, shards = 3;
  for (int i = 0; i < files; ++i) MakeImage(dir + "in/p" + std::to_string(i) + ".png", 3, 8, uint32(i));
  std::multiset<std::string> done;
  for (int k = 0; k < shards; ++k) {
    const std::string shard = std::to_string(k) + "/" + std::to_string(shards);
    SCOPED_TRACE("--shard " + shard);
    const std::string report = dir + "r" + std::to_string(k) + ".jsonl";
    const ProgramRun run =
        Apply({dir + "in", "--output-dir", dir + "out", "--shard", shard, "--report", report, "--jobs", "1"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_SAYS(run, "(shard " + shard + " of 11 files)");
    for (const auto& [input, status] : Statuses(Report(report))) {
      EXPECT_EQ(status, "done");
      done.insert(input);
    }
  }
  EXPECT_EQ(done.size(), size_t(files));
  EXPECT_EQ(std::set<std::string>(done.begin(), done.end()).size(), size_t(files)) << "a file was done twice";
  EXPECT_EQ(Tree(dir + "out").size(), size_t(files));
  EXPECT_EQ(Apply({dir + "in", "--output-dir", dir + "x", "--shard", "3/3"}).exitCode, 2);
  // A worker's share is checked the same way, numbers too large included.
  for (const char* share : {"--batch-worker=2/2", "--batch-worker=99999999999/99999999999", "--batch-worker=1/2x"})
    EXPECT_EQ(Apply({share}).exitCode, 2) << share;

  // Shard 1 as if its machine stopped after some files: those it did hold a
  // mark, the others are gone. The re-run does only the missing ones.
  const std::string report = dir + "r1.jsonl";
  std::map<std::string, std::string> before;
  std::set<std::string> removed;
  int n = 0;
  for (const auto& [input, status] : Statuses(Report(report))) {
    const std::string out = dir + "out/" + fs::path(input).filename().string();
    if (n++ % 2 == 0) {
      fs::remove(out);
      removed.insert(out);
    } else {
      Save(out, "done before: " + out);
      before[out] = Bytes(out);
    }
  }
  ASSERT_FALSE(removed.empty());
  ASSERT_FALSE(before.empty());
  const ProgramRun rerun =
      Apply({dir + "in", "--output-dir", dir + "out", "--shard", "1/3", "--skip-existing", "--report", report, "--jobs", "1"});
  EXPECT_EQ(rerun.exitCode, 0) << rerun.output;
  for (const auto& [out, bytes] : before) EXPECT_EQ(Bytes(out), bytes) << out << " was redone";
  for (const std::string& out : removed) EXPECT_EQ(Bytes(out).substr(1, 3), "PNG") << out << " was not done";
  EXPECT_SAYS(rerun, ": skipped (the output exists)");
  size_t skipped = 0;
  for (const auto& [input, status] : Statuses(Report(report))) skipped += status == "skipped";
  EXPECT_EQ(skipped, before.size());
}

// Whatever would make one file overwrite another is refused before any
// work: nothing is written, not even DIR.
TEST(KestrelleBatch, CollisionsAndAliasesAreRefusedBeforeAnyWork) {
  const std::string dir = Folder("refused");
  fs::create_directories(dir + "in/sub");
  fs::create_directories(dir + "other");
  MakeImage(dir + "in/a.png", 3, 8, 1);
  MakeImage(dir + "in/a.tif", 3, 8, 2);
  MakeImage(dir + "in/sub/c.png", 3, 8, 3);
  MakeImage(dir + "other/a.png", 3, 8, 4);
  Save(dir + "play.json", "[]\n");
  const auto before = Tree(dir);
  const std::string in = dir + "in", out = dir + "out";
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{in, "--format", "jpg", "--output-dir", out}, "would both be written to"},
      {{in + "/a.png", dir + "other/a.png", "--output-dir", out}, "would both be written to"},
      // Without a suffix the outputs land on the inputs.
      {{in, "--output-dir", in}, "is the same file as INPUT"},
      {{in + "/a.tif", "--format", "tif", "--output-dir", in}, "is the same file as INPUT"},
      {{in, "--recursive", "--output-dir", in + "/sub/out"}, "lies inside " + in},
      {{in, "--recursive", "--suffix", "-x", "--output-dir", in}, "lies inside " + in},
      {{in, "--output-dir", out, "--report", in + "/a.png"}, "is the same file as INPUT"},
      {{in, "--output-dir", out, "--report", dir + "play.json", "--play", dir + "play.json"},
       "is the same file as --play"},
      {{in + "/sub", "--output-dir", out, "--report", out + "/c.png"}, "a run writes each file once"},
      {{in, "--output-dir", out, "--record", dir + "wb.json"}, "then --play it on the folder"},
      {{in, "--output-dir", out, "--side-by-side", dir + "pair.png"}, "--side-by-side names one file"},
      {{in, dir + "out.png", "--jobs", "2"}, "--jobs is for several inputs: give --output-dir"},
      {{in, "--output-dir", out, "--jobs", "0"}, "--jobs: '0' is not a whole number"},
      {{in, "--output-dir", out, "--format", "gif"}, "--format: 'gif' is not png, tif or jpg"},
      {{in, "--output-dir", out, "--shard", "2"}, "--shard: '2' is not K/N"},
      {{in, "--output-dir", out, "--jobs", "2", "--registry", dir + "reg.json"}, "one file at a time"},
      {{in, "--output-dir", out, "--jobs", "2", "--host-profile", "gimp", "--ui-steps", "ok"}, "one file at a time"},
      {{in, "--output-dir", out, "--ui-steps", "screenshot s.png; ok"}, "may not take screenshots"},
      {{in + "/a.png", "--output-dir", in + "/a.png"}, "is not a folder"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    const ProgramRun run = Apply(c.args);
    EXPECT_EQ(run.exitCode, 2) << run.output;
    EXPECT_SAYS(run, c.says);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(Tree(dir) == before) << "a file was written or changed";
  }
  // The same file given twice (by its folder and by name) is done once.
  const ProgramRun twice = Apply({in, in + "/a.png", "--output-dir", out, "--jobs", "1"});
  EXPECT_EQ(twice.exitCode, 0) << twice.output;
  EXPECT_SAYS(twice, "2 files: 2 done");
#ifndef _WIN32
  // An existing output that is a link to an input is that input.
  fs::create_directories(dir + "linked");
  fs::create_symlink(fs::absolute(in + "/a.png"), dir + "linked/a.png");
  const ProgramRun link = Apply({in + "/a.png", "--output-dir", dir + "linked"});
  EXPECT_EQ(link.exitCode, 2);
  EXPECT_SAYS(link, "is the same file as INPUT");
  EXPECT_EQ(Bytes(in + "/a.png"), before.at("in/a.png"));
  // Two output names for one file: DIR/sub is DIR.
  fs::create_directories(dir + "tree/sub");
  MakeImage(dir + "tree/x.png", 3, 8, 5);
  MakeImage(dir + "tree/sub/x.png", 3, 8, 6);
  fs::create_directories(dir + "looped");
  fs::create_symlink(".", dir + "looped/sub");
  const ProgramRun looped = Apply({dir + "tree", "--recursive", "--output-dir", dir + "looped"});
  EXPECT_EQ(looped.exitCode, 2);
  EXPECT_SAYS(looped, "a run writes each file once");
  EXPECT_FALSE(fs::exists(dir + "looped/x.png"));
#endif
}

// What the batch and its workers say to each other survives any file name
// and every setting's exact value.
TEST(KestrelleBatch, WorkerMessagesCarryAnyNameAndExactValues) {
  cli::FileTask task{"odd\nname \"q\" \\ \t\x01\xC3\xA9.png", "out/odd.png", "", ""};
  cli::WorkerMessage m = cli::ParseWorkerMessage(cli::TaskMessage(7, task));
  ASSERT_EQ(m.kind, cli::WorkerMessage::Task);
  EXPECT_EQ(m.id, 7u);
  EXPECT_EQ(m.task.input, task.input);
  EXPECT_EQ(m.task.output, task.output);
  EXPECT_EQ(cli::TaskMessage(1, task).find('\n'), cli::TaskMessage(1, task).size() - 1) << "one line";

  cli::FileOutcome o;
  o.exitCode = 1;
  o.error = "x.png: \"bad\"\nsecond line";
  o.warnings = {"warning: one", "UI script: two"};
  o.seconds = 0.1 + 0.2;
  o.settings = {{"red-gain", 1.0 / 3}, {"blue-gain", 1e-300}, {"highlight-rolloff", 10000}};
  m = cli::ParseWorkerMessage(cli::ResultMessage(12, o));
  ASSERT_EQ(m.kind, cli::WorkerMessage::Result);
  EXPECT_EQ(m.id, 12u);
  EXPECT_EQ(m.outcome.exitCode, 1);
  EXPECT_EQ(m.outcome.error, o.error);
  EXPECT_EQ(m.outcome.warnings, o.warnings);
  EXPECT_EQ(m.outcome.seconds, o.seconds);
  EXPECT_EQ(m.outcome.settings, o.settings);
  EXPECT_FALSE(m.outcome.cancelled);
  EXPECT_EQ(cli::ParseWorkerMessage(cli::CancelMessage()).kind, cli::WorkerMessage::Cancel);
  EXPECT_EQ(cli::ParseWorkerMessage("a stray print").kind, cli::WorkerMessage::Unknown);
  EXPECT_EQ(cli::ParseWorkerMessage("{\"result\":1}").kind, cli::WorkerMessage::Unknown);

  // Output names, and what a folder gives.
  EXPECT_EQ(cli::OutputName("IMG_1.JPG", "-wb", ""), "IMG_1-wb.JPG");
  EXPECT_EQ(cli::OutputName("IMG_1.JPG", "-wb", "tif"), "IMG_1-wb.tif");
  EXPECT_EQ(cli::OutputName("a.b.png", "", "jpg"), "a.b.jpg");
  EXPECT_EQ(cli::OutputName("noext", "-x", ""), "noext-x");
  EXPECT_TRUE(cli::IsImageName("x.TIFF"));
  EXPECT_TRUE(cli::IsImageName("x.jpeg"));
  EXPECT_FALSE(cli::IsImageName(".png"));
  EXPECT_FALSE(cli::IsImageName("x.png.txt"));
  EXPECT_FALSE(cli::IsImageName("png"));
}

#ifndef _WIN32
// Ctrl-C or SIGTERM while workers filter: files done stay done and whole,
// files in hand are discarded with no temporary file left, the summary and
// the report say what was not done, and the exit status is the signal's.
TEST(KestrelleBatch, ACancelledBatchLeavesOnlyWholeFiles) {
  const std::string dir = Folder("cancel");
  fs::create_directories(dir + "in");
  const int files = 40;
  for (int i = 0; i < files; ++i) MakeImage(dir + "in/p" + std::to_string(100 + i) + ".tif", 3, 16, uint32(i));
  // What each output is when nothing stops the run.
  ASSERT_EQ(Apply({"--quiet", dir + "in", "--output-dir", dir + "whole", "--red-gain", "1.3"}).exitCode, 0);
  const auto whole = Tree(dir + "whole");
  ASSERT_EQ(whole.size(), size_t(files));

  int cancelled = 0;
  // The second Ctrl-C ends the workers outright, without waiting for their
  // files in hand: still nothing half written is left.
  const std::pair<int, int> rounds[] = {{SIGINT, 1}, {SIGTERM, 1}, {SIGINT, 2}};
  for (const auto& [sig, times] : rounds) {
    const std::string name = std::to_string(sig) + "x" + std::to_string(times);
    SCOPED_TRACE("signal " + name);
    const std::string out = dir + "out" + name, report = dir + "r" + name + ".jsonl";
    const std::string said = dir + "said" + name + ".txt";
    const pid_t pid = StartKestrelle({"apply", "--red-gain", "1.3", dir + "in", "--output-dir", out, "--jobs", "2", "--report",
                             report},
                            said);
    // Signalled once the first file is reported: the batch is under way.
    for (long spin = 0; spin < 200000000L && (!fs::exists(report) || fs::file_size(report) == 0); ++spin) {
      int status;
      if (waitpid(pid, &status, WNOHANG) == pid) break;
    }
    for (int i = 0; i < times; ++i) kill(pid, sig);
    const int code = WaitForProgram(pid);
    const std::string text = Bytes(said);
    const auto written = Tree(out);
    for (const auto& [name, bytes] : written) EXPECT_EQ(bytes, whole.at(name)) << name << " is not whole";
    EXPECT_FALSE(HasTemporaryFiles(out));
    const auto statuses = Statuses(Report(report));
    EXPECT_EQ(statuses.size(), size_t(files)) << "the report lists every file";
    size_t done = 0, notDone = 0;
    for (const auto& [input, status] : statuses) {
      done += status == "done";
      notDone += status == "not done";
    }
    EXPECT_EQ(done, written.size());
    EXPECT_EQ(done + notDone, size_t(files)) << text;
    if (code == 0) {
      EXPECT_EQ(written.size(), size_t(files));  // it finished before the signal came
      continue;
    }
    ++cancelled;
    EXPECT_EQ(code, sig == SIGINT ? 130 : 143) << text;
    EXPECT_GT(notDone, 0u);
    EXPECT_NE(text.find(std::to_string(notDone) + " not done (cancelled)"), std::string::npos) << text;
  }
  EXPECT_GT(cancelled, 0) << "the signals came after the runs";
}

// A worker process that dies (as one would on a file that crashes the
// module) fails only the file it had; another worker takes the rest. A
// signal sent to a worker alone does not cancel its file: cancels go
// through the batch.
TEST(KestrelleBatch, AWorkerThatDiesFailsOnlyItsFile) {
  const std::string dir = Folder("dies");
  fs::create_directories(dir + "in");
  const int files = 30;
  for (int i = 0; i < files; ++i) MakeImage(dir + "in/p" + std::to_string(100 + i) + ".tif", 3, 16, uint32(i));
  for (int sig : {SIGKILL, SIGTERM}) {
    SCOPED_TRACE("signal " + std::to_string(sig));
    const std::string out = dir + "out" + std::to_string(sig), report = dir + "r" + std::to_string(sig) + ".jsonl";
    const std::string said = dir + "said.txt";
    const pid_t pid = StartKestrelle({"apply", dir + "in", "--output-dir", out, "--jobs", "2", "--report", report}, said);
    // Once a file is reported, one of its workers is signalled.
    for (long spin = 0; spin < 200000000L && (!fs::exists(report) || fs::file_size(report) == 0); ++spin) {
    }
    // A child of the batch, found by its parent in /proc.
    pid_t worker = 0;
    for (const auto& e : fs::directory_iterator("/proc")) {
      std::ifstream stat(e.path() / "stat");
      std::string line;
      if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
      std::istringstream rest(line.substr(line.rfind(')') + 2));
      char state;
      pid_t parent = 0;
      rest >> state >> parent;
      if (parent == pid) worker = pid_t(std::stol(e.path().filename().string()));
    }
    if (worker > 0) kill(worker, sig);
    const int code = WaitForProgram(pid);
    const std::string text = Bytes(said);
    const auto statuses = Statuses(Report(report));
    EXPECT_EQ(statuses.size(), size_t(files));
    size_t failed = 0;
    for (const auto& [input, status] : statuses) failed += status == "failed";
    EXPECT_LE(failed, sig == SIGKILL ? 1u : 0u) << text;
    EXPECT_EQ(code, failed ? 1 : 0) << text;
    if (failed) {
      EXPECT_NE(text.find("the worker process filtering it ended"), std::string::npos) << text;
    }
    // The file a worker died on has no output, or a whole one when the
    // worker had replaced it just before it died (outputs are renamed whole).
    EXPECT_GE(Tree(out).size(), size_t(files) - failed);
    EXPECT_LE(Tree(out).size(), size_t(files));
    EXPECT_FALSE(HasTemporaryFiles(out)) << "what a killed worker left is removed";
  }
}
#endif
