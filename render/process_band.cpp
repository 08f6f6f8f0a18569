#include <cstring>
#include <vector>

#include "platform/message_box.h"
#include "render/process_band.h"
#include "render/row_kernels.h"
#include "render/transfer_tables.h"
#include "render/transform.h"

namespace {

// The first element of row r: data + r * rowBytes bytes, taken as an element
// index for deeper samples.
template <typename T>
T* RowStart(uint8* data, int32 rowBytes, int32 r) {
  return reinterpret_cast<T*>(data) + (int64(r) * rowBytes) / int64(sizeof(T));
}

template <typename T>
const T* RowStart(const uint8* data, int32 rowBytes, int32 r) {
  return reinterpret_cast<const T*>(data) + (int64(r) * rowBytes) / int64(sizeof(T));
}

template <typename T, typename ThreePlanes, typename OnePlane>
void ProcessRows(const BandJob& job, ThreePlanes three, OnePlane one) {
  const int32 pixels = job.endColumn - job.firstColumn;
  if (pixels <= 0) return;
  const int32 pixelStep = job.interleaved ? job.planeCount : 1;
  const int32 channelStep = job.interleaved ? 1 : job.planeStride;
  for (int32 r = job.firstRow; r < job.endRow; ++r) {
    T* row = RowStart<T>(job.data, job.rowBytes, r);
    if (job.source != nullptr) {
      const T* from = RowStart<T>(job.source, job.sourceRowBytes, r);
      std::memmove(row, from, size_t(pixels) * size_t(pixelStep) * sizeof(T));
    }
    if (job.planeCount == 3) {
      for (int32 x = 0; x < pixels; ++x) {
        T* p = row + int64(x) * pixelStep;
        three(p, p + channelStep, p + 2 * int64(channelStep));
      }
    } else {
      for (int32 x = 0; x < pixels; ++x) row[x] = one(row[x]);
    }
  }
}

}  // namespace

void ProcessBand(const BandJob& job) {
  if (!job.interleaved && job.planeStride <= 0) {
    platform::ShowMessageBox("Verdaline error (planebytes <= 0).");
    // Green and blue would alias red, or lie before the buffer: touch nothing.
    return;
  }
  if (job.firstRow >= job.endRow || job.data == nullptr) return;
  if (job.planeCount != 3 && job.planeCount != 1) return;
  if (job.depth != 8 && job.depth != 16 && job.depth != 32) return;  // passes through unchanged
  KernelPlan local;
  const KernelPlan* plan = job.plan;
  if (plan == nullptr) {
    local = MakeKernelPlan(*job.coefficients, job.tables);
    plan = &local;
  }
  const int32 pixels = job.endColumn - job.firstColumn;
  if (pixels <= 0) return;
  if (!job.interleaved && job.planeCount == 3 && job.depth != 8) {
    // Planar deep rows have no row kernel (the preview is 8-bit): per pixel.
    const TransformCoefficients& k = *job.coefficients;
    if (job.depth == 16) {
      ProcessRows<uint16>(job, [&](uint16* r, uint16* g, uint16* b) { TransformPixel16(k, r, g, b); },
                          [&](uint16 v) { return v; });
    } else {
      const TransferTables& tables = *job.tables;
      ProcessRows<float>(job, [&](float* r, float* g, float* b) { TransformPixelFloat(k, tables, r, g, b); },
                         [&](float v) { return v; });
    }
    return;
  }
  const size_t sampleBytes = size_t(job.depth / 8);
  // Pixels with planes beyond the colour ones (transparency): the colour
  // samples are gathered into a row of their own, transformed there and put
  // back, and the other planes keep what the input had.
  const bool extraPlanes = job.interleaved && job.pixelPlanes > job.planeCount;
  const size_t pixelSamples = size_t(extraPlanes ? job.pixelPlanes : job.interleaved ? job.planeCount : 1);
  const size_t rowSamples = size_t(pixels) * pixelSamples;
  const size_t colourBytes = size_t(job.planeCount) * sampleBytes;
  const size_t pixelBytes = pixelSamples * sampleBytes;
  std::vector<uint8> colour(extraPlanes ? size_t(pixels) * colourBytes : 0);
  for (int32 r = job.firstRow; r < job.endRow; ++r) {
    uint8* stored = job.data + (int64(r) * job.rowBytes) / int64(sampleBytes) * int64(sampleBytes);
    if (job.source != nullptr) {
      const uint8* from = job.source + (int64(r) * job.sourceRowBytes) / int64(sampleBytes) * int64(sampleBytes);
      std::memmove(stored, from, rowSamples * sampleBytes);
    }
    uint8* row = stored;
    if (extraPlanes) {
      for (int32 x = 0; x < pixels; ++x)
        std::memcpy(colour.data() + size_t(x) * colourBytes, stored + size_t(x) * pixelBytes, colourBytes);
      row = colour.data();
    }
    if (job.planeCount == 1) {
      if (job.depth == 8) TransformGreyRow8(*plan, row, pixels);
      if (job.depth == 16) TransformGreyRow16(*plan, reinterpret_cast<uint16*>(row), pixels);
      if (job.depth == 32) TransformGreyRowFloat(*plan, reinterpret_cast<float*>(row), pixels);
    } else if (!job.interleaved) {
      TransformPlanarRow8(*plan, row, row + job.planeStride, row + 2 * int64(job.planeStride), pixels);
    } else {
      if (job.depth == 8) TransformRow8(*plan, row, pixels);
      if (job.depth == 16) TransformRow16(*plan, reinterpret_cast<uint16*>(row), pixels);
      if (job.depth == 32) TransformRowFloat(*plan, reinterpret_cast<float*>(row), pixels);
    }
    if (extraPlanes) {
      for (int32 x = 0; x < pixels; ++x)
        std::memcpy(stored + size_t(x) * pixelBytes, colour.data() + size_t(x) * colourBytes, colourBytes);
    }
  }
}

uint32 BandThreadProc(void* job) {
  const BandJob local = *static_cast<const BandJob*>(job);
  ProcessBand(local);
  return 0;
}
