#include <cstdio>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include "files/system_names.h"
#include "cli/cli.h"
#include "cli/worker_process.h"

namespace cli {

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(files::FromWide(wide[i]));
  LocalFree(wide);
  return args;
}

void Print(std::FILE* stream, const std::string& text) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode)) {
    // A console shows characters; bytes would be read in its code page.
    std::fflush(stream);
    const std::wstring wide = files::Wide(text);
    DWORD written = 0;
    WriteConsoleW(h, wide.data(), DWORD(wide.size()), &written, nullptr);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stream);
}

std::string ProgramDirectory() {
  const std::string p = ProgramPath();
  return p.substr(0, p.find_last_of("\\/") + 1);
}

}  // namespace cli
