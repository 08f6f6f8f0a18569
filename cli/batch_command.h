// `kestrelle apply INPUT... --output-dir DIR`, and the worker processes it
// starts to filter files in parallel.
#pragma once

#include "cli/apply_options.h"

namespace cli {

// The whole batch: plan, run, a line per file, the summary; the exit code.
int BatchCommand(const ApplyOptions& options);

// `kestrelle apply --batch-worker ...`: opens the session, then filters the
// files the batch sends on standard input, answering on standard output.
int WorkerCommand(const ApplyOptions& options);

}  // namespace cli
