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

// Transforms the job's band in place.
void ProcessBand(const BandJob& job);

// The thread entry: copies the job, processes it, returns 0.
uint32 BandThreadProc(void* job);
