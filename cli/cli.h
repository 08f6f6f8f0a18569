// The kestrelle command: runs the Kestrelle filter module on image files the
// way a host application does, and shows what a module declares.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace cli {

// Exit codes.
constexpr int kSuccess = 0;
constexpr int kFailure = 1;    // the filter failed, or a file could not be read or written
constexpr int kUsage = 2;      // the command line is wrong
constexpr int kCancelled = 130;  // Ctrl-C (SIGTERM gives 143, SIGHUP 129: interrupts.h)

int ApplyCommand(const std::vector<std::string>& args);
int InfoCommand(const std::vector<std::string>& args);

// What Ctrl-C does: the running filter is asked to stop at its next tile,
// and no file is replaced.
void RequestCancel();

// "kestrelle: <message>" on standard error.
void Error(const std::string& message);

// The command line's arguments after the program's name, as UTF-8 on
// Windows (read wide: the narrow argv has '?' for every letter outside the
// system code page), as the bytes they are elsewhere.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Writes `text` (UTF-8 inside) to `stream`: on a Windows console as
// characters, so names in any language show as they are; to a file, a pipe
// or any stream elsewhere as its bytes.
void Print(std::FILE* stream, const std::string& text);

// Whether `stream` is a terminal (progress bars draw only on one).
bool IsTerminal(std::FILE* stream);

// The folder of the running program, with a trailing separator.
std::string ProgramDirectory();

}  // namespace cli
