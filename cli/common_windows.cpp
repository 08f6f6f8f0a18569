#include <cstdio>
#include <io.h>
#include <windows.h>

#include "cli/cli.h"

namespace cli {

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

std::string ProgramDirectory() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string p(path);
  return p.substr(0, p.find_last_of("\\/") + 1);
}

}  // namespace cli
