// The processor budget: what a cgroup's quota grants, that the count follows
// the affinity (so `taskset -c 0` means one render thread), and that a
// batch's workers split the processors between them instead of each taking
// them all.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "imageio/image_io.h"
#include "platform/processors.h"
#include "platform/threads.h"
#include "render/parallel_step.h"
#include "tests/render_support.h"
#include "tests/run_program.h"
#include "tests/test_support.h"

TEST(ProcessorBudget, ACgroupQuotaIsRoundedUpToWholeProcessors) {
  EXPECT_EQ(platform::ProcessorsInCpuMax("max 100000"), 0);
  EXPECT_EQ(platform::ProcessorsInCpuMax("100000 100000"), 1);
  EXPECT_EQ(platform::ProcessorsInCpuMax("50000 100000\n"), 1);
  EXPECT_EQ(platform::ProcessorsInCpuMax("150000 100000"), 2);
  EXPECT_EQ(platform::ProcessorsInCpuMax("400000 100000"), 4);
  for (const char* bad : {"", "max", "100000", "abc 100000", "-5 100000", "100000 0", "12x 100000"})
    EXPECT_EQ(platform::ProcessorsInCpuMax(bad), 0) << bad;
}

#ifndef _WIN32
namespace {

// Runs `body` in a child process (affinity is the whole process's) and
// gives back its exit status.
template <typename Body>
int InChild(Body body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

// Runs `body` in a child process; what it returns comes back through a pipe.
template <typename Body>
std::string TextFromChild(Body body) {
  int fds[2];
  if (pipe(fds) != 0) return "";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const std::string text = body();
    const bool written = write(fds[1], text.data(), text.size()) == ssize_t(text.size());
    _exit(written ? 0 : 1);
  }
  close(fds[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  return text;
}

std::vector<int> Allowed() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::vector<int> cpus;
  if (sched_getaffinity(0, sizeof set, &set) == 0)
    for (int i = 0; i < CPU_SETSIZE; ++i)
      if (CPU_ISSET(i, &set)) cpus.push_back(i);
  return cpus;
}

}  // namespace

TEST(ProcessorBudget, FollowsTheAffinityDownToTheRenderThreads) {
  const std::vector<int> allowed = Allowed();
  ASSERT_FALSE(allowed.empty());
  EXPECT_LE(platform::ProcessorBudget(), int(allowed.size()));
  EXPECT_EQ(InChild([&] {
              cpu_set_t one;
              CPU_ZERO(&one);
              CPU_SET(allowed.back(), &one);
              if (sched_setaffinity(0, sizeof one, &one) != 0) return 100;
              return platform::ProcessorBudget() * 10 + RenderWorkerCount();
            }),
            11);
}

TEST(ProcessorBudget, WorkersSplitTheProcessorsBetweenThem) {
  const std::vector<int> allowed = Allowed();
  const int budget = platform::ProcessorBudget();
  const int shares = 2;
  std::set<int> used;
  for (int share = 0; share < shares; ++share) {
    // The child answers with the processors it kept, or why it could not.
    const std::string kept = TextFromChild([&] {
      if (!platform::KeepToProcessorShare(share, shares)) return std::string("refused");
      const size_t expected = platform::PlacesOfShare(budget, int(allowed.size()), share, shares).size();
      if (size_t(platform::ProcessorBudget()) != expected) return std::string("a budget other than its part");
      std::string list;
      for (int cpu : Allowed()) list += std::to_string(cpu) + " ";
      return list;
    });
    std::istringstream in(kept);
    std::vector<int> cpus;
    for (int cpu; in >> cpu;) cpus.push_back(cpu);
    ASSERT_FALSE(cpus.empty()) << "share " << share << ": " << kept;
    for (int cpu : cpus) {
      EXPECT_NE(std::find(allowed.begin(), allowed.end(), cpu), allowed.end()) << "cpu " << cpu << " was not allowed";
      EXPECT_TRUE(allowed.size() < 2 || used.insert(cpu).second) << "cpu " << cpu << " in both parts";
    }
  }
  // A single worker keeps everything.
  EXPECT_EQ(InChild([&] { return platform::KeepToProcessorShare(0, 1) ? platform::ProcessorBudget() : 0; }),
            budget);
}

// A budget that does not divide by the workers leaves no processor idle:
// the first parts take one more; every processor is in exactly one part.
TEST(ProcessorBudget, SharesCoverTheBudgetOnceWhenItDoesNotDivide) {
  struct Case {
    int budget, shares;
    std::vector<std::vector<int>> parts;
  };
  for (const Case& c : {Case{8, 3, {{0, 1, 2}, {3, 4, 5}, {6, 7}}}, Case{4, 2, {{0, 1}, {2, 3}}},
                        Case{5, 5, {{0}, {1}, {2}, {3}, {4}}}, Case{2, 3, {{0}, {1}, {0}}}}) {
    for (int share = 0; share < c.shares; ++share)
      EXPECT_EQ(platform::PlacesOfShare(c.budget, c.budget, share, c.shares), c.parts[size_t(share)])
          << c.budget << " processors, part " << share << " of " << c.shares;
  }
  // A quota below the allowed processors: the parts stay within the quota.
  EXPECT_EQ(platform::PlacesOfShare(3, 16, 1, 2), (std::vector<int>{2}));
}

namespace {

namespace fs = std::filesystem;

// A /proc file's text; empty when its process has gone meanwhile (which
// streams report by throwing).
std::string ProcText(const std::string& path) {
  std::string text;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
  }
  return text;
}

// The parent of process `pid` (the fourth field of /proc/PID/stat, after the
// name in parentheses), -1 when it is gone.
int ParentOf(const std::string& pid) {
  const std::string stat = ProcText("/proc/" + pid + "/stat");
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(stat.substr(close + 1));
  std::string state;
  int parent = -1;
  rest >> state >> parent;
  return parent;
}

// The processors each worker of this batch keeps, by process id, watched
// through /proc until the batch ends (other tests' batches run alongside).
std::map<int, std::string> WatchWorkers(pid_t batch) {
  std::map<int, std::string> seen;
  int status = 0;
  while (waitpid(batch, &status, WNOHANG) == 0) {
    std::error_code ignored;
    for (const auto& e : fs::directory_iterator("/proc", ignored)) {
      const std::string name = e.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      const std::string cmdline = ProcText(e.path().string() + "/cmdline");
      if (cmdline.find("--batch-worker") == std::string::npos || ParentOf(name) != batch) continue;
      std::istringstream in(ProcText(e.path().string() + "/status"));
      std::string line;
      while (std::getline(in, line))
        if (line.rfind("Cpus_allowed_list:", 0) == 0) seen[std::stoi(name)] = line.substr(line.find(':') + 1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return seen;
}

}  // namespace

// Under `taskset -c 0` a batch takes one processor: no worker processes,
// one render thread, and the same outputs as with every processor.
TEST(ProcessorBudget, ABatchKeepsToTheProcessorsItIsGiven) {
  if (!fs::exists("/usr/bin/taskset")) GTEST_SKIP() << "taskset is not installed (util-linux)";
  const std::string root = ExecutableDirectory() + "budget/";
  fs::remove_all(root);
  fs::create_directories(root + "in");
  for (uint32 i = 0; i < 6; ++i) {
    host::Image image;
    image.document = host::MakeDocument(700, 500, 3, 8);
    FillFileNoise(image.document, 40 + i);
    std::string error;
    ASSERT_TRUE(host::WriteImage(root + "in/p" + std::to_string(i) + ".png", image, &error)) << error;
  }
  const std::vector<std::string> settings = {"--red-gain", "1.3", "--blue-gain", "0.8"};
  // `taskset CPUS kestrelle ...` when `cpus` is given.
  auto batch = [&](const std::string& cpus, const std::vector<std::string>& options, const std::string& out) {
    std::vector<std::string> args = {"apply", "--output-dir", root + out};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), settings.begin(), settings.end());
    args.push_back(root + "in");
    if (!cpus.empty()) args.insert(args.begin(), {"-c", cpus, KestrelleProgram()});
    return WatchWorkers(cpus.empty() ? StartKestrelle(args) : StartProgram("/usr/bin/taskset", args));
  };
  const std::map<int, std::string> one = batch(std::to_string(Allowed().front()), {}, "one");
  EXPECT_TRUE(one.empty()) << one.size() << " worker processes on one processor";
  std::map<int, std::string> two;
  if (Allowed().size() >= 2) {
    two = batch("", {"--jobs", "2"}, "two");
    ASSERT_EQ(two.size(), 2u);
    std::set<std::string> parts;
    for (const auto& w : two) parts.insert(w.second);
    EXPECT_EQ(parts.size(), 2u) << "both workers kept the same processors";
  }
  for (uint32 i = 0; i < 6; ++i) {
    const std::string name = "p" + std::to_string(i) + ".png";
    ASSERT_TRUE(fs::exists(root + "one/" + name)) << name;
    if (!two.empty()) {
      EXPECT_EQ(FileText(root + "one/" + name), FileText(root + "two/" + name)) << name;
    }
  }
}
#endif
