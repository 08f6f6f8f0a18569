#include <cstdio>

#include "cli/cli.h"

namespace cli {

void Error(const std::string& message) { Print(stderr, "kestrelle: " + message + "\n"); }

}  // namespace cli
