// The row kernels with AVX2 (compiled with -mavx2, chosen at run time only
// on processors that have it). No FMA: fused operations would round
// differently from the reference kernel.
#include <algorithm>
#include <cstring>

#include <immintrin.h>

#include "render/row_kernels.h"
#include "render/transfer_tables.h"

#if defined(__AVX2__)
namespace avx2 {
#define KERNEL_LANES 8
#include "render/row_kernels_simd.h"
}  // namespace avx2
#else
namespace avx2 {
const RowKernelTable kTable = {};
}  // namespace avx2
#endif
