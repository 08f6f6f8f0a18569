#include "analyze_area.h"

#include <algorithm>

#include "../platform/message_box.h"
#include "../plugin/host_rects.h"
#include "../plugin/host_services.h"
#include "../plugin/parameters.h"
#include "planes.h"
#include "transfer_tables.h"
#include "transform.h"

namespace {

uint64 SumPlane(const FilterRecord& record, int32 rows, int32 columns) {
  uint64 sum = 0;
  const uint8* base = static_cast<const uint8*>(record.inData);
  if (base == nullptr) return 0;
  const int32 depth = SampleDepth(record);
  for (int32 r = 0; r < rows; ++r) {
    const uint8* row = base + int64(r) * record.inRowBytes;
    switch (depth) {
      case 0:
      case 8:
        for (int32 c = 0; c < columns; ++c) sum += row[c];
        break;
      case 16: {
        const uint16* values = reinterpret_cast<const uint16*>(row);
        for (int32 c = 0; c < columns; ++c) sum += values[c];
        break;
      }
      case 32: {
        const float* values = reinterpret_cast<const float*>(row);
        for (int32 c = 0; c < columns; ++c) {
          float v = values[c];
          if (!(v >= 0.0f)) {
            v = 0.0f;
          } else if (v > 1.0f) {
            v = 1.0f;
          }
          sum += uint64(int32(LookUpLinearToSrgb(gTransferTables, v) + 0.5f));
        }
        break;
      }
      default:
        break;
    }
  }
  return sum;
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
  // Only red, green and blue are averaged; a fourth plane is never read.
  const int16 planes = std::min<int16>(PlanesForMode(record.imageMode), 3);
  for (int16 p = 0; p < planes; ++p) {
    record.inLoPlane = record.inHiPlane = p;
    SetOutRect(record, area);
    const Fixed rate = record.inputRate;
    record.inputRate = kFixedOne;
    result = record.advanceState();
    record.inputRate = rate;
    if (result != noErr) return;
    sums[p] = SumPlane(record, rows, columns);
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
