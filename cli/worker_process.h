// Worker processes of a batch, at the edge with the OS: starting one with
// pipes to its standard input and output (posix_spawn, or CreateProcess on
// Windows), and, inside a worker, the two ends it talks to the batch through.
//
// The filter module keeps module-wide state and is not reentrant, so files
// filtered at the same time run in processes of their own; each loads the
// module once and takes many files, so a file costs a line each way, not a
// process start.
#pragma once

#include <string>
#include <vector>

namespace cli {

class WorkerProcess {
 public:
  WorkerProcess() = default;
  ~WorkerProcess();  // closes both pipes and waits for the process
  WorkerProcess(const WorkerProcess&) = delete;
  WorkerProcess& operator=(const WorkerProcess&) = delete;

  // Starts `program` with `args`; its standard error is this process's.
  bool Start(const std::string& program, const std::vector<std::string>& args, std::string* why);
  // Writes to the worker's standard input; false when it is gone.
  bool Send(const std::string& text);
  // Ends the worker's standard input (it finishes and exits).
  void CloseInput();
  // The next line the worker wrote (without '\n'); false at its end. Blocks:
  // each worker's lines are read on a thread of their own.
  bool ReadLine(std::string* line);
  // Ends the process at once (it cannot clean up).
  void Kill();
  // Waits for the process to end; its exit code (128 + the signal that
  // ended it, on POSIX).
  int Wait();
  // The process's id (as in its temporary files' names).
  long Id() const { return id_; }

 private:
  long id_ = 0;
#ifdef _WIN32
  void* process_ = nullptr;
  void* input_ = nullptr;
  void* output_ = nullptr;
#else
  int pid_ = -1;
  int input_ = -1;
  int output_ = -1;
#endif
  bool waited_ = false;
  int exitCode_ = -1;
  std::string pending_;
};

// One argument of a Windows command line, as the C runtime splits it back:
// in quotes, with the quotes inside escaped, and the backslashes before a
// quote (or before the closing one).
std::string QuoteArgument(const std::string& argument);
// `program` and `args` as posix_spawn and exec take them, ending in a null;
// the pointers are into the strings, which must outlive it.
std::vector<char*> ArgumentVector(const std::string& program, const std::vector<std::string>& args);

// The running program's own file.
std::string ProgramPath();
// A write to a worker that has gone fails instead of ending this process
// (POSIX: SIGPIPE is ignored).
void IgnoreBrokenPipes();

// Inside a worker: standard output becomes the batch's channel alone (a stray
// print by anything in the process goes to standard error instead), and
// lines are read from standard input.
class WorkerChannel {
 public:
  WorkerChannel();
  bool Send(const std::string& text);
  bool ReadLine(std::string* line);

 private:
  int out_ = -1;
  std::string pending_;
};

// Takes one line out of `pending`, reading more with `read` (bytes read,
// 0 at the end, negative on an error) as needed. The last line may lack
// its '\n'. Both halves read their pipes through it.
template <typename Read>
bool NextLine(std::string& pending, std::string* line, Read read) {
  for (;;) {
    const size_t end = pending.find('\n');
    if (end != std::string::npos) {
      line->assign(pending, 0, end);
      pending.erase(0, end + 1);
      return true;
    }
    char buffer[4096];
    const long n = read(buffer, sizeof buffer);
    if (n <= 0) {
      if (pending.empty()) return false;
      line->swap(pending);
      pending.clear();
      return true;
    }
    pending.append(buffer, size_t(n));
  }
}

}  // namespace cli
