// Runs a program of the build (kestrelle) the way a user would, collecting
// its exit code and everything it printed.
#pragma once

#include <string>
#include <vector>

struct ProgramRun {
  int exitCode = -1;
  std::string output;  // standard output and standard error together
  long long peakMemory = -1;  // the most memory the process held at once, in bytes (-1: unknown)
};

// `folder`, when not empty, is the program's current folder.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& folder = "");

// The kestrelle program built next to the tests.
std::string KestrelleProgram();

#ifndef _WIN32
#include <sys/types.h>

// Starts kestrelle with `args` without waiting for it, its standard output
// and error going to the file `output`; the tests that signal a run while it
// works use this.
pid_t StartKestrelle(const std::vector<std::string>& args, const std::string& output = "/dev/null");
// The same for any program.
pid_t StartProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& output = "/dev/null");
// Waits for a started program: its exit code, or 128 + the signal that ended it.
int WaitForProgram(pid_t pid);
#endif
