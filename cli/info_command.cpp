#include <cstdio>

#include "host/pe_resources.h"
#include "host/plugin_info.h"
#include "cli/cli.h"

namespace cli {

namespace {

const char* const kInfoHelp =
    "Usage: kestrelle info MODULE\n"
    "\n"
    "Shows what a Windows filter module (.8bf) tells a host about itself: the\n"
    "menu title and submenu, interface version, entry points, the image modes\n"
    "and enable rule, the filter cases, and the scripting keys of its\n"
    "terminology. The module is read as data; none of its code runs, so any\n"
    "module can be inspected on any platform.\n";

}  // namespace

int InfoCommand(const std::vector<std::string>& args) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kInfoHelp, stdout);
    return kSuccess;
  }
  if (args.size() != 1) {
    Error("info needs exactly one MODULE (see kestrelle info --help)");
    return kUsage;
  }
  host::PeModule module;
  std::string error;
  if (!host::ReadPeModule(args[0], module, &error)) {
    Error(error);
    return kFailure;
  }
  Print(stdout, args[0] + ": " + host::MachineName(module.machine) + " module\n");

  std::vector<uint8_t> pipl;
  if (!host::FindPeResource(module, "PIPL", 16000, pipl, &error)) {
    Error(args[0] + ": " + error + " (not a filter plug-in?)");
    return kFailure;
  }
  std::vector<host::PipelineProperty> properties;
  if (!host::ParsePiPL(pipl, properties, &error)) {
    Error(args[0] + ": " + error);
    return kFailure;
  }
  std::printf("Plug-in properties (PiPL 16000):\n%s", host::DescribePiPL(properties).c_str());

  std::vector<uint8_t> terminology;
  if (host::FindPeResource(module, "AETE", 16000, terminology, &error)) {
    std::printf("Scripting terminology (AETE 16000):\n%s", host::DescribeTerminology(terminology).c_str());
  } else {
    std::printf("Scripting terminology: none (%s)\n", error.c_str());
  }
  return kSuccess;
}

}  // namespace cli
