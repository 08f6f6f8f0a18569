// The row kernels with SSE2, the baseline of every build.
#include <algorithm>
#include <cstring>

#include <immintrin.h>

#include "render/row_kernels.h"
#include "render/transfer_tables.h"

namespace sse2 {
#define KERNEL_LANES 4
#include "render/row_kernels_simd.h"
}  // namespace sse2
