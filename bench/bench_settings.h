// The correction every kernel benchmark measures: gains 0.8 / 1.0 / 1.25,
// recovery and rolloff at their defaults.
#pragma once

#include "plugin/parameters.h"
#include "render/transform.h"

inline TransformCoefficients BenchCoefficients() {
  FilterParameters p{};
  ResetParameters(p);
  p.redGain = 0.8;
  p.blueGain = 1.25;
  TransformCoefficients k;
  PrepareTransform(p, k);
  return k;
}
