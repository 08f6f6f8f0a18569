// The transform over whole rows, as the band renderer calls it. Vectorised
// (SSE2 everywhere, AVX2 where the processor has it), and bit for bit the
// same as the per-pixel kernels of transform.h, which stay the reference.
//
// Why it can be fast and exact at once: when the smallest channel of a pixel
// lies at least rolloffWidth below 255 (most pixels), the highlight blend
// weight is exactly 1 and every output channel depends on its own input
// channel alone: out = clamp(in * multiplier * outputScale). Those samples go
// through vector code without being regrouped into pixels; the few bright
// pixels where the blend applies are found first, computed with the
// reference kernel and written back afterwards.
#pragma once

#include "hostapi/host_interface.h"
#include "render/transform.h"

struct TransferTables;

struct KernelPlan {
  TransformCoefficients k;
  const TransferTables* tables = nullptr;
  bool allFast = false;  // the blend never applies (rolloffWidth 0)
  bool allSlow = false;  // the blend always applies (a negative rolloffWidth): reference only
  // Per channel: the largest sample value at which that channel alone makes
  // the pixel's blend weight 1 (-1: none). A pixel needs the reference kernel
  // only when every channel lies above its limit.
  int32 limit8[3] = {-1, -1, -1};
  int32 limit16[3] = {-1, -1, -1};
  // Bytes times these gains stay within 0..2^30 (gains not negative, not
  // absurd): the 8-bit fast path then needs no clamp before its saturating
  // packs.
  bool bytesStayInRange = false;
};

KernelPlan MakeKernelPlan(const TransformCoefficients& k, const TransferTables* tables);

// Interleaved R, G, B rows of `pixels` pixels, in place.
void TransformRow8(const KernelPlan& plan, uint8* samples, int32 pixels);
void TransformRow16(const KernelPlan& plan, uint16* samples, int32 pixels);
void TransformRowFloat(const KernelPlan& plan, float* samples, int32 pixels);
// One-plane rows: each value stands for a grey pixel.
void TransformGreyRow8(const KernelPlan& plan, uint8* samples, int32 pixels);
void TransformGreyRow16(const KernelPlan& plan, uint16* samples, int32 pixels);
void TransformGreyRowFloat(const KernelPlan& plan, float* samples, int32 pixels);
// Three planes of one row (the preview's 8-bit planar proxy).
void TransformPlanarRow8(const KernelPlan& plan, uint8* red, uint8* green, uint8* blue, int32 pixels);

// The instruction sets the row kernels can use.
enum class KernelIsa { Reference, Sse2, Avx2 };
// The best one this processor supports (the default).
KernelIsa BestKernelIsa();
bool KernelIsaAvailable(KernelIsa isa);
// Forces one for tests and benchmarks; returns the previous choice.
KernelIsa UseKernelIsa(KernelIsa isa);

// The table of row functions one instruction set provides.
struct RowKernelTable {
  void (*row8)(const KernelPlan&, uint8*, int32);
  void (*row16)(const KernelPlan&, uint16*, int32);
  void (*rowFloat)(const KernelPlan&, float*, int32);
  void (*grey8)(const KernelPlan&, uint8*, int32);
  void (*grey16)(const KernelPlan&, uint16*, int32);
  void (*greyFloat)(const KernelPlan&, float*, int32);
  void (*planar8)(const KernelPlan&, uint8*, uint8*, uint8*, int32);
};

namespace reference {
extern const RowKernelTable kTable;
}
namespace sse2 {
extern const RowKernelTable kTable;
}
namespace avx2 {
extern const RowKernelTable kTable;  // empty members where AVX2 is not built
}
