#include "parameters.h"

#include <cmath>

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
  for (int i = 0; i < kParameterCount; ++i) ParameterAt(record, i) = kDefaultParameterValues[i];
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
  const double kMinimumGain = 0.00392156862745098;  // 1/255
  Bound(record.redGain, kMinimumGain, 1000.0);
  Bound(record.greenGain, kMinimumGain, 1000.0);
  Bound(record.blueGain, kMinimumGain, 1000.0);
  Bound(record.redGainFine, -100.0, 100.0);
  Bound(record.greenGainFine, -100.0, 100.0);
  Bound(record.blueGainFine, -100.0, 100.0);
  Bound(record.highlightRolloff, 0.0, 10000.0);
  Bound(record.highlightRecovery, 0.0, 100.0);
}
