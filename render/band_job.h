// One worker's share of a render: a band of rows of one buffer, and what
// each pixel is made of.
#pragma once

#include "hostapi/host_interface.h"

struct TransformCoefficients;
struct TransferTables;
struct KernelPlan;

struct BandJob {
  uint8* data = nullptr;        // row r starts at data + r * rowBytes
  int32 rowBytes = 0;
  void* maskData = nullptr;     // the host's mask: carried, not read
  int32 maskRowBytes = 0;
  int32 firstRow = 0;
  int32 firstColumn = 0;
  int32 endRow = 0;             // one past the last row
  int32 endColumn = 0;          // pixels per row = endColumn - firstColumn
  int32 depth = 8;              // bits per channel: 8, 16 or 32
  int32 planeCount = 3;         // colour planes the transform works on
  // Interleaved only: samples per pixel, the colour planes first; any
  // further ones (transparency) are carried through unchanged. 0: planeCount.
  int32 pixelPlanes = 0;
  bool interleaved = true;      // false: planar, planes planeStride apart
  int32 planeStride = 0;        // planar only, in channel elements
  // Hosts that hand the tile's pixels in a separate input buffer: each row is
  // copied from here into `data` before it is transformed. nullptr: in place.
  const uint8* source = nullptr;
  int32 sourceRowBytes = 0;
  const TransformCoefficients* coefficients = nullptr;
  const TransferTables* tables = nullptr;
  // The row kernels' plan for these coefficients (built once per render);
  // null: built by the band itself.
  const KernelPlan* plan = nullptr;
};

// The most worker threads one parallel step starts.
constexpr int kMaxRenderThreads = 32;
// Stack of each worker; the kernels need little.
constexpr size_t kRenderThreadStackBytes = 64000;

// Transforms the job's band in place.
void ProcessBand(const BandJob& job);

// The thread entry: copies the job, processes it, returns 0.
uint32 BandThreadProc(void* job);

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
