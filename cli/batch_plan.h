// Which files a run over many inputs takes and where each one's output goes,
// decided whole before any work: folders expanded, the list sorted (so every
// machine of a sharded run sees the same list), output names made from the
// input names, and everything that would make one file overwrite another
// refused up front rather than found halfway through a shoot.
#pragma once

#include <string>
#include <vector>

#include "cli/apply_options.h"

namespace cli {

struct BatchItem {
  std::string input, output;
};

struct BatchPlan {
  std::vector<BatchItem> items;  // this shard's files, in sorted order
  size_t allFiles = 0;           // in all shards together
};

// A file the session reads besides the inputs (--play, --ui, the module...),
// with the name it goes by in messages.
struct SessionFile {
  std::string path, role;
};

// Is `name` a PNG, TIFF or JPEG file by its extension (any case)?
bool IsImageName(const std::string& name);

// The output name for an input name: the suffix before the extension, the
// extension replaced by `format`'s when one is given ("IMG_1.JPG", "-wb",
// "tif" -> "IMG_1-wb.tif").
std::string OutputName(const std::string& inputName, const std::string& suffix, const std::string& format);

// Expands and checks the inputs of `o`; kSuccess, or the exit code (kUsage
// for outputs that collide or alias a file the run reads, kFailure for a
// folder that cannot be read) with the reason in *why.
int PlanBatch(const ApplyOptions& o, const std::vector<SessionFile>& reads, BatchPlan* plan, std::string* why);

}  // namespace cli
