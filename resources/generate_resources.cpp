// Build tool: writes the PiPL of one architecture and the terminology as
// binary files for the resource compiler.
//   generate_resources x64|x86 PIPL_FILE AETE_FILE DIALOG_RC_FILE
#include <cstdio>
#include <cstring>
#include <string>

#include "resources/plugin_resources.h"

namespace {

bool Write(const char* path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 || (std::strcmp(argv[1], "x64") != 0 && std::strcmp(argv[1], "x86") != 0)) {
    std::fprintf(stderr, "usage: generate_resources x64|x86 PIPL_FILE AETE_FILE DIALOG_RC_FILE\n");
    return 2;
  }
  const Architecture a = std::strcmp(argv[1], "x64") == 0 ? Architecture::X64 : Architecture::X86;
  const std::string dialog = BuildDialogScript();
  if (!Write(argv[2], BuildPiPL(a)) || !Write(argv[3], BuildTerminology()) ||
      !Write(argv[4], std::vector<uint8_t>(dialog.begin(), dialog.end()))) {
    std::fprintf(stderr, "generate_resources: cannot write the resource files\n");
    return 1;
  }
  return 0;
}
