#include "render/render_preview.h"

#include <algorithm>
#include <cstring>

#include "render/parallel_step.h"
#include "render/planes.h"
#include "render/row_kernels.h"
#include "render/transfer_tables.h"
#include "render/transform.h"

int16 RenderPreview(FilterParameters& parameters, int16 imageMode, const uint8* source,
                    uint8* work, int32 width, int32 height) {
  if (work == nullptr) return 0;
  PrepareTransform(parameters, gTransformCoefficients);
  if (width <= 0 || height <= 0) return 0;
  const int16 planes = PlanesForMode(imageMode);
  const size_t planeSize = size_t(width) * size_t(height);
  if (source != nullptr) {
    if (planes == 1) {
      std::memcpy(work, source, planeSize);
    } else if (planes >= 3) {
      std::memcpy(work, source, 3 * planeSize);
    }
  }

  const KernelPlan plan = MakeKernelPlan(gTransformCoefficients, &gTransferTables);
  BandJob job;
  job.plan = &plan;
  job.data = work;
  job.rowBytes = width;
  job.endColumn = width;
  job.depth = 8;
  job.planeCount = ProcessedPlanesForMode(imageMode);
  job.interleaved = false;
  job.planeStride = int32(planeSize);
  job.coefficients = &gTransformCoefficients;
  job.tables = &gTransferTables;
  if (job.planeCount != 0) RunParallelStep(job, height);
  return 0;
}

void RenderExposedPreview(int16 imageMode, const uint8* source, uint8* target, int32 dx,
                          int32 dy, int32 width, int32 height) {
  if (source == nullptr || target == nullptr) return;
  const int16 planes = PlanesForMode(imageMode);
  const int16 processed = ProcessedPlanesForMode(imageMode);
  const TransformCoefficients& k = gTransformCoefficients;
  const size_t planeSize = size_t(width) * size_t(height);
  auto expose = [&](int32 x, int32 y) {
    const size_t at = size_t(y) * size_t(width) + size_t(x);
    if (planes == 1) {
      target[at] = processed == 1 ? TransformSingle8(k, source[at]) : source[at];
    } else if (planes >= 3) {
      uint8* r = target + at;
      uint8* g = r + planeSize;
      uint8* b = g + planeSize;
      *r = source[at];
      *g = source[at + planeSize];
      *b = source[at + 2 * planeSize];
      if (processed == 3) TransformPixel8(k, r, g, b);
    }
  };
  // A pixel is exposed when x >= width - dx, x < -dx, y >= height - dy or
  // y < -dy. Whole rows are exposed by the vertical shift; in the other rows
  // only the two column ranges the horizontal shift uncovered.
  const int64 leftEnd = std::min<int64>(width, std::max<int64>(0, -int64(dx)));
  const int64 rightStart = std::max<int64>(leftEnd, std::min<int64>(width, int64(width) - dx));
  for (int32 y = 0; y < height; ++y) {
    const bool wholeRow = int64(y) >= int64(height) - dy || int64(y) < -int64(dy);
    if (wholeRow) {
      for (int32 x = 0; x < width; ++x) expose(x, y);
    } else {
      for (int64 x = 0; x < leftEnd; ++x) expose(int32(x), y);
      for (int64 x = rightStart; x < width; ++x) expose(int32(x), y);
    }
  }
}
