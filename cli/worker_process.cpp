#include "cli/worker_process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace cli {
namespace {

// Takes one line out of `pending`, reading more with `read` (bytes read,
// 0 at the end, negative on an error) as needed. The last line may lack
// its '\n'.
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

}  // namespace

std::string QuoteArgument(const std::string& argument) {
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, '\\');
  return out + "\"";
}

std::vector<char*> ArgumentVector(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

#ifdef _WIN32

namespace {

void Close(void*& handle) {
  if (handle) CloseHandle(handle);
  handle = nullptr;
}

}  // namespace

WorkerProcess::~WorkerProcess() {
  Close(input_);
  if (process_) Wait();
  Close(output_);
  Close(process_);
}

bool WorkerProcess::Start(const std::string& program, const std::vector<std::string>& args, std::string* why) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE childIn = nullptr, parentIn = nullptr, parentOut = nullptr, childOut = nullptr;
  if (!CreatePipe(&childIn, &parentIn, &inherit, 0)) {
    *why = "cannot make a pipe (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  if (!CreatePipe(&parentOut, &childOut, &inherit, 0)) {
    *why = "cannot make a pipe (error " + std::to_string(GetLastError()) + ")";
    CloseHandle(childIn);
    CloseHandle(parentIn);
    return false;
  }
  // This process's ends must not be inherited by the next worker: it
  // would hold this worker's input open after it is closed here.
  SetHandleInformation(parentIn, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(parentOut, HANDLE_FLAG_INHERIT, 0);
  std::string line = QuoteArgument(program);
  for (const std::string& a : args) line += " " + QuoteArgument(a);
  std::vector<char> mutableLine(line.begin(), line.end());
  mutableLine.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = childIn;
  startup.hStdOutput = childOut;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessA(program.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  const DWORD error = GetLastError();
  CloseHandle(childIn);
  CloseHandle(childOut);
  if (!started) {
    CloseHandle(parentIn);
    CloseHandle(parentOut);
    *why = "cannot start " + program + " (error " + std::to_string(error) + ")";
    return false;
  }
  CloseHandle(process.hThread);
  id_ = long(process.dwProcessId);
  process_ = process.hProcess;
  input_ = parentIn;
  output_ = parentOut;
  return true;
}

bool WorkerProcess::Send(const std::string& text) {
  size_t done = 0;
  while (input_ && done < text.size()) {
    DWORD n = 0;
    if (!WriteFile(input_, text.data() + done, DWORD(text.size() - done), &n, nullptr)) return false;
    done += n;
  }
  return input_ && done == text.size();
}

void WorkerProcess::CloseInput() { Close(input_); }

bool WorkerProcess::ReadLine(std::string* line) {
  return NextLine(pending_, line, [this](char* buffer, size_t size) -> long {
    DWORD n = 0;
    if (!output_ || !ReadFile(output_, buffer, DWORD(size), &n, nullptr)) return -1;
    return long(n);
  });
}

void WorkerProcess::Kill() {
  if (!waited_ && process_) TerminateProcess(process_, 137);
}

int WorkerProcess::Wait() {
  if (waited_ || !process_) return exitCode_;
  WaitForSingleObject(process_, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process_, &code);
  waited_ = true;
  exitCode_ = int(code);
  return exitCode_;
}

std::string ProgramPath() {
  char path[MAX_PATH * 4] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, n < sizeof path ? n : 0);
}

void IgnoreBrokenPipes() {}

WorkerChannel::WorkerChannel() {
  _setmode(_fileno(stdin), _O_BINARY);
  out_ = _dup(_fileno(stdout));
  _setmode(out_, _O_BINARY);
  std::fflush(stdout);
  _dup2(_fileno(stderr), _fileno(stdout));
  SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
}

bool WorkerChannel::Send(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const int n = _write(out_, text.data() + done, unsigned(text.size() - done));
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool WorkerChannel::ReadLine(std::string* line) {
  return NextLine(pending_, line,
                  [](char* buffer, size_t size) -> long { return long(_read(_fileno(stdin), buffer, unsigned(size))); });
}

#else

WorkerProcess::~WorkerProcess() {
  CloseInput();
  if (pid_ > 0) Wait();
  if (output_ >= 0) close(output_);
}

bool WorkerProcess::Start(const std::string& program, const std::vector<std::string>& args, std::string* why) {
  // Close-on-exec: no other worker may inherit these ends (one holding this
  // worker's input open would keep it from ever seeing its end).
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) {
    *why = std::string("cannot make a pipe: ") + std::strerror(errno);
    return false;
  }
  if (pipe2(out, O_CLOEXEC) != 0) {
    *why = std::string("cannot make a pipe: ") + std::strerror(errno);
    close(in[0]);
    close(in[1]);
    return false;
  }
  std::vector<char*> argv = ArgumentVector(program, args);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  if (error != 0) {
    close(in[1]);
    close(out[0]);
    *why = "cannot start " + program + ": " + std::strerror(error);
    return false;
  }
  pid_ = pid;
  id_ = long(pid);
  input_ = in[1];
  output_ = out[0];
  return true;
}

bool WorkerProcess::Send(const std::string& text) {
  size_t done = 0;
  while (input_ >= 0 && done < text.size()) {
    const ssize_t n = write(input_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return input_ >= 0 && done == text.size();
}

void WorkerProcess::CloseInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

bool WorkerProcess::ReadLine(std::string* line) {
  return NextLine(pending_, line, [this](char* buffer, size_t size) -> long {
    for (;;) {
      const ssize_t n = read(output_, buffer, size);
      if (n < 0 && errno == EINTR) continue;
      return long(n);
    }
  });
}

void WorkerProcess::Kill() {
  if (!waited_ && pid_ > 0) kill(pid_, SIGKILL);
}

int WorkerProcess::Wait() {
  if (waited_ || pid_ <= 0) return exitCode_;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  waited_ = true;
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return exitCode_;
}

std::string ProgramPath() {
  char path[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return std::string(path, n > 0 ? size_t(n) : 0);
}

void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

WorkerChannel::WorkerChannel() {
  std::fflush(stdout);
  out_ = fcntl(1, F_DUPFD_CLOEXEC, 3);
  dup2(2, 1);
}

bool WorkerChannel::Send(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(out_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool WorkerChannel::ReadLine(std::string* line) {
  return NextLine(pending_, line, [](char* buffer, size_t size) -> long {
    for (;;) {
      const ssize_t n = read(0, buffer, size);
      if (n < 0 && errno == EINTR) continue;
      return long(n);
    }
  });
}

#endif

int ProcessorCount() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : int(n);
}

}  // namespace cli
