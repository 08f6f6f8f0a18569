#include "platform/threads.h"
#include "platform/worker_crew.h"
#include "render/parallel_step.h"

int RenderWorkerCount() {
  int n = platform::ProcessorCount();
  if (n > kMaxRenderThreads) n = kMaxRenderThreads;
  return n < 1 ? 1 : n;
}

void BandRows(int32 rows, int n, int k, int32& first, int32& end) {
  const int32 q = rows / n;
  first = q * k;
  end = k == n - 1 ? rows : q * (k + 1);
}

void RunParallelStep(const BandJob& prototype, int32 rows) {
  const int n = RenderWorkerCount();
  BandJob jobs[kMaxRenderThreads];
  platform::ThreadHandle threads[kMaxRenderThreads] = {};
  for (int k = 0; k < n; ++k) {
    jobs[k] = prototype;
    jobs[k].firstColumn = 0;
    BandRows(rows, n, k, jobs[k].firstRow, jobs[k].endRow);
    threads[k] = platform::StartThread(&BandThreadProc, &jobs[k], kRenderThreadStackBytes);
    // A thread that cannot start must not leave its rows unfiltered.
    if (threads[k] == nullptr) ProcessBand(jobs[k]);
  }
  for (int k = 0; k < n; ++k) platform::JoinThread(threads[k]);
}

namespace {

struct Step {
  BandJob jobs[kMaxRenderThreads];
};

void RunShare(int worker, void* step) { ProcessBand(static_cast<Step*>(step)->jobs[worker]); }

}  // namespace

void RunParallelStep(platform::WorkerCrew& crew, const BandJob& prototype, int32 rows) {
  const int n = crew.size();
  Step step;
  for (int k = 0; k < n; ++k) {
    step.jobs[k] = prototype;
    step.jobs[k].firstColumn = 0;
    BandRows(rows, n, k, step.jobs[k].firstRow, step.jobs[k].endRow);
  }
  crew.Run(&RunShare, &step);
}
