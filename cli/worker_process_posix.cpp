// The POSIX half: posix_spawn with pipes.
#include "cli/worker_process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;

namespace cli {

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

}  // namespace cli
