#include <cstring>

#include "../platform/message_box.h"
#include "band_job.h"
#include "transfer_tables.h"
#include "transform.h"

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
  const TransformCoefficients& k = *job.coefficients;
  switch (job.depth) {
    case 8:
      ProcessRows<uint8>(
          job, [&](uint8* r, uint8* g, uint8* b) { TransformPixel8(k, r, g, b); },
          [&](uint8 v) { return TransformSingle8(k, v); });
      break;
    case 16:
      ProcessRows<uint16>(
          job, [&](uint16* r, uint16* g, uint16* b) { TransformPixel16(k, r, g, b); },
          [&](uint16 v) { return TransformSingle16(k, v); });
      break;
    case 32: {
      const TransferTables& tables = *job.tables;
      ProcessRows<float>(
          job, [&](float* r, float* g, float* b) { TransformPixelFloat(k, tables, r, g, b); },
          [&](float v) { return TransformSingleFloat(k, tables, v); });
      break;
    }
    default:
      break;  // other depths pass through unchanged
  }
}

uint32 BandThreadProc(void* job) {
  const BandJob local = *static_cast<const BandJob*>(job);
  ProcessBand(local);
  return 0;
}
