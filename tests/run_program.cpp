#include "tests/run_program.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/worker_process.h"
#include "files/system_names.h"
#include "tests/test_support.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

std::string KestrelleProgram() {
#ifdef _WIN32
  return ExecutableDirectory() + "..\\kestrelle.exe";
#else
  return ExecutableDirectory() + "../kestrelle";
#endif
}

#ifndef _WIN32
namespace {

// Starts `program` with its standard output and error going to the file
// `output`, in `folder` when it is not empty; -1 if it could not start.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args, const std::string& output,
            const std::string& folder) {
  std::vector<char*> argv = cli::ArgumentVector(program, args);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

}  // namespace

pid_t StartKestrelle(const std::vector<std::string>& args, const std::string& output) {
  return Spawn(KestrelleProgram(), args, output, "");
}

pid_t StartProgram(const std::string& program, const std::vector<std::string>& args, const std::string& output) {
  return Spawn(program, args, output, "");
}

int WaitForProgram(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return ExitCode(status);
}
#endif

namespace {

// A test program that runs itself again (with a filter of its own) must run
// all of that filter: the shard this process was started as is no part of
// what the child is asked. gtest has read them already, so they go here.
void ForgetTestShard() {
  for (const char* name : {"GTEST_TOTAL_SHARDS", "GTEST_SHARD_INDEX", "GTEST_SHARD_STATUS_FILE"}) {
#ifdef _WIN32
    _putenv_s(name, "");
    SetEnvironmentVariableA(name, nullptr);
#else
    unsetenv(name);
#endif
  }
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& folder) {
  ForgetTestShard();
  ProgramRun run;
  // One capture file per test process: ctest runs tests in parallel, and a
  // shared name let one test read (or remove) another's output.
#ifdef _WIN32
  const unsigned long self = GetCurrentProcessId();
#else
  const unsigned long self = static_cast<unsigned long>(getpid());
#endif
  const std::string capture = ExecutableDirectory() + "program-output-" + std::to_string(self) + ".txt";
#ifdef _WIN32
  // Wide, as a user's shell starts it: arguments in any language.
  std::string line = "\"" + program + "\"";
  for (const std::string& a : args) line += " " + cli::QuoteArgument(a);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out = CreateFileW(files::Wide(capture).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = out;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  std::wstring mutableLine = files::Wide(line);
  const std::wstring wideFolder = files::Wide(folder);
  if (CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                     folder.empty() ? nullptr : wideFolder.c_str(), &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    run.exitCode = int(code);
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (K32GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters))
      run.peakMemory = static_cast<long long>(counters.PeakWorkingSetSize);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  CloseHandle(out);
#else
  const pid_t pid = Spawn(program, args, capture, folder);
  if (pid > 0) {
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    run.exitCode = ExitCode(status);
    run.peakMemory = static_cast<long long>(usage.ru_maxrss) * 1024;
  }
#endif
  files::ReadFileBytes(capture, SIZE_MAX, &run.output);
  files::RemoveFile(capture);
  return run;
}
