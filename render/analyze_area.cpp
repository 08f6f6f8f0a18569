#include "render/analyze_area.h"

#include <algorithm>
#include <cstring>

#include "platform/message_box.h"
#include "plugin/host_rects.h"
#include "plugin/host_services.h"
#include "plugin/pixel_request.h"
#include "plugin/parameters.h"
#include "render/planes.h"
#include "render/transfer_tables.h"
#include "render/transform.h"

namespace {

// Adds the first `rows` x `columns` pixels of the delivered buffer to the
// sums of the first min(planes, 3) channels.
void SumChannels(const DeliveredPixels& pixels, int16 planes, int32 depth, int32 rows, int32 columns,
                 uint64 sums[3]) {
  const int16 summed = std::min<int16>(planes, 3);
  for (int32 r = 0; r < rows; ++r) {
    const uint8* row = pixels.in + int64(r) * pixels.inRowBytes;
    for (int16 p = 0; p < summed; ++p) {
      uint64 sum = 0;
      switch (depth) {
        case 8:
          for (int32 c = 0; c < columns; ++c) sum += row[int64(c) * planes + p];
          break;
        case 16:
          for (int32 c = 0; c < columns; ++c) {
            uint16 v;
            std::memcpy(&v, row + (int64(c) * planes + p) * 2, 2);
            sum += v;
          }
          break;
        case 32:
          for (int32 c = 0; c < columns; ++c) {
            float v;
            std::memcpy(&v, row + (int64(c) * planes + p) * 4, 4);
            if (!(v >= 0.0f)) {
              v = 0.0f;
            } else if (v > 1.0f) {
              v = 1.0f;
            }
            sum += uint64(int32(LookUpLinearToSrgb(gTransferTables, v) + 0.5f));
          }
          break;
        default:
          break;
      }
      sums[p] += sum;
    }
  }
}

}  // namespace

void AnalyzeArea(FilterRecord& record, FilterParameters& parameters, int16& result,
                 VPoint cornerA, VPoint cornerB) {
  const VRect area{std::min(cornerA.v, cornerB.v), std::min(cornerA.h, cornerB.h),
                   std::max(cornerA.v, cornerB.v), std::max(cornerA.h, cornerB.h)};
  SetInRect(record, area);
  const int64 height = int64(area.bottom) - area.top;
  const int64 width = int64(area.right) - area.left;
  if (height > kMaxAnalysisSide || width > kMaxAnalysisSide) {
    platform::ShowMessageBox("Analysis area has been clipped to 64000 x 64000");
  }
  const int32 rows = int32(std::min<int64>(height, kMaxAnalysisSide));
  const int32 columns = int32(std::min<int64>(width, kMaxAnalysisSide));
  if (rows <= 0 || columns <= 0) return;  // nothing to average
  if (record.advanceState == nullptr) {
    result = errPlugInHostInsufficient;
    return;
  }

  uint64 sums[3] = {0, 0, 0};
  // All colour planes in one request, at full resolution; only red, green
  // and blue are averaged.
  const int16 planes = PlanesForMode(record.imageMode);
  const int32 depth = SampleDepth(record);
  // Samples of any other depth add nothing: the gains come out 1, 1, 1.
  if (planes > 0 && (depth == 8 || depth == 16 || depth == 32)) {
    PixelRequest request;
    request.in = request.out = area;
    request.setOut = true;
    request.planes = planes;
    const Fixed rate = record.inputRate;
    DeliveredPixels pixels;
    result = RequestPixels(record, request, pixels);
    record.inputRate = rate;
    if (result != noErr) return;
    SumChannels(pixels, planes, depth, rows, columns, sums);
  }

  const uint64 count = uint64(rows) * uint64(columns);
  uint64 averages[3];
  for (int p = 0; p < 3; ++p) {
    averages[p] = (sums[p] + count / 2) / count;
    if (averages[p] < 1) averages[p] = 1;
  }
  // The larger of red and the smaller of green and blue.
  const uint64 reference = std::max(averages[0], std::min(averages[1], averages[2]));
  float gains[3];
  for (int p = 0; p < 3; ++p) gains[p] = float(double(reference) / double(averages[p]));
  const float largest = std::max(gains[0], std::max(gains[1], gains[2]));
  if (largest > 2.0f) {
    const float cap = 2.0f / largest;
    for (float& g : gains) g *= cap;
  }

  parameters.redGain = gains[0];
  parameters.greenGain = gains[1];
  parameters.blueGain = gains[2];
  parameters.redGainFine = parameters.greenGainFine = parameters.blueGainFine = 0.0;
  gTransformCoefficients.redMultiplier = gains[0];
  gTransformCoefficients.greenMultiplier = gains[1];
  gTransformCoefficients.blueMultiplier = gains[2];
}
