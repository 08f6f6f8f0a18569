// Splitting a render over worker threads: one band of rows per worker.
#pragma once

#include "render/process_band.h"

// The most worker threads one parallel step starts.
constexpr int kMaxRenderThreads = 32;
// Stack of each worker; the kernels need little.
constexpr size_t kRenderThreadStackBytes = 64000;

// One worker per processor, at most kMaxRenderThreads.
int RenderWorkerCount();

// Worker k of n gets rows [first, end): q = rows / n rows each, the last
// worker the rest.
void BandRows(int32 rows, int n, int k, int32& first, int32& end);

// Splits `rows` rows among one worker per processor (at most 32): worker k
// gets rows [q*k, q*(k+1)) with q = rows / n, the last one the rest. Waits
// for all of them in creation order. A worker that cannot be started has its
// band processed on the calling thread, so no row is left out.
void RunParallelStep(const BandJob& prototype, int32 rows);

namespace platform {
class WorkerCrew;
}
// The same split over workers that are already running (one per share).
void RunParallelStep(platform::WorkerCrew& crew, const BandJob& prototype, int32 rows);
