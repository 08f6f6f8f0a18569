#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

const char* const kUsageText =
    "Usage: kestrelle <command> [options]\n"
    "\n"
    "Kestrelle corrects the white balance of photographs and pulls clipped\n"
    "highlights back to a clean white. This program runs the Kestrelle filter\n"
    "module on PNG, TIFF and JPEG files exactly as a host application runs it.\n"
    "\n"
    "Commands:\n"
    "  apply [options] INPUT OUTPUT   filter INPUT and write the result to OUTPUT\n"
    "  apply [options] INPUT... --output-dir DIR\n"
    "                                 filter files and folders into DIR, in parallel\n"
    "  info MODULE                    show what a Windows filter module declares\n"
    "\n"
    "  kestrelle <command> --help     options of a command\n"
    "  kestrelle --version            the version\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = cli::CommandLineArguments(argc, argv);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::fputs(kUsageText, args.empty() ? stderr : stdout);
    return args.empty() ? cli::kUsage : cli::kSuccess;
  }
  if (args[0] == "--version") {
    std::puts("kestrelle 1.0.7");
    return cli::kSuccess;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "apply") return cli::ApplyCommand(args);
  if (command == "info") return cli::InfoCommand(args);
  cli::Error("unknown command '" + command + "' (see kestrelle --help)");
  return cli::kUsage;
}
