#include <cstdio>

#include "cli/cli.h"

namespace cli {

void Error(const std::string& message) { std::fprintf(stderr, "kestrelle: %s\n", message.c_str()); }

}  // namespace cli
