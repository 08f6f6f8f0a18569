#include <cstdio>
#include <unistd.h>

#include "cli/cli.h"
#include "cli/worker_process.h"

namespace cli {

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

void Print(std::FILE* stream, const std::string& text) { std::fwrite(text.data(), 1, text.size(), stream); }

std::string ProgramDirectory() {
  const std::string p = ProgramPath();
  return p.substr(0, p.find_last_of('/') + 1);
}

}  // namespace cli
