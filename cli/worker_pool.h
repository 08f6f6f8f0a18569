// Files filtered in parallel by worker processes: each worker is this
// program started as `kestrelle apply --batch-worker` with the batch's
// session options; it loads the module once and takes one file after
// another. Everything the batch is told happens on the calling thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/apply_session.h"

namespace cli {

// The next file to filter; false when there is none.
typedef std::function<bool(size_t* id, FileTask* task)> NextTask;
// A file's outcome. A worker that ends while filtering a file fails that
// file (the next worker takes the rest); a cancelled file comes back with
// `cancelled` set.
typedef std::function<void(size_t id, const FileOutcome& outcome)> TaskDone;

// Runs files over `jobs` workers until `next` has none left or a cancel
// (Ctrl-C, SIGTERM, SIGHUP) arrives, which is passed on to the workers:
// their files in hand come back cancelled and nothing more is started.
// When no worker can open the session, the files not started fail with
// its reason.
void RunInWorkers(int jobs, const std::vector<std::string>& sessionArgs, const NextTask& next,
                  const TaskDone& done);

// The same in this process, one file after another.
void RunInProcess(ApplySession& session, const NextTask& next, const TaskDone& done);

}  // namespace cli
