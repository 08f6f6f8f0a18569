#include "plugin/parameters.h"

#include <cmath>
#include <cstring>

ProxyViewState gProxyViewState;

double& ParameterAt(FilterParameters& record, int index) {
  switch (index) {
    case kRedGain: return record.redGain;
    case kRedGainFine: return record.redGainFine;
    case kGreenGain: return record.greenGain;
    case kGreenGainFine: return record.greenGainFine;
    case kBlueGain: return record.blueGain;
    case kBlueGainFine: return record.blueGainFine;
    case kHighlightRecovery: return record.highlightRecovery;
    case kHighlightRolloff: return record.highlightRolloff;
    case kReserved0: return record.reserved[0];
    case kReserved1: return record.reserved[1];
    default: return record.reserved[2];
  }
}

double ParameterAt(const FilterParameters& record, int index) {
  return ParameterAt(const_cast<FilterParameters&>(record), index);
}

void ResetParameters(FilterParameters& record) {
  record.ignoreSelection = false;
  for (int i = 0; i < kParameterCount; ++i) ParameterAt(record, i) = DefaultParameterValue(i);
}

namespace {

// The comparisons are written so that NaN survives the upper bound and is
// replaced by the lower one.
void Bound(double& x, double low, double high) {
  if (x > high) x = high;
  if (!(x > low)) x = low;
  if (std::fabs(x) < 1e-6) x = 0.0;
}

}  // namespace

void ClampParameters(FilterParameters& record) {
  for (int i = 0; i < kSettingCount; ++i) Bound(ParameterAt(record, i), kSettings[i].low, kSettings[i].high);
}

void MarkRecord(FilterParameters& record, uint32 generation) {
  record.unusedByte = 0;
  record.mark[0] = kRecordMark[0];
  record.mark[1] = kRecordMark[1];
  record.generation = generation;
}

bool IsOwnRecord(const void* bytes) {
  if (bytes == nullptr) return false;
  const uint8* b = static_cast<const uint8*>(bytes);
  if (std::memcmp(b + offsetof(FilterParameters, mark), kRecordMark, sizeof kRecordMark) != 0) return false;
  const uint8 flag = b[offsetof(FilterParameters, ignoreSelection)];
  if (flag > 1) return false;
  for (int i = 0; i < kParameterCount; ++i) {
    double value;
    std::memcpy(&value, b + i * sizeof(double), sizeof value);
    if (!std::isfinite(value)) return false;
    if (i < kSettingCount && (value < kSettings[i].low || value > kSettings[i].high)) return false;
  }
  return true;
}
