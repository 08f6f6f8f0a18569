// The per-pixel white-balance and highlight transform. Every depth works in
// single precision on one 0..255 working scale: gains per channel, a blend of
// the brightest pixels towards neutral, then one output scale.
#pragma once

#include "hostapi/host_interface.h"

struct FilterParameters;
struct TransferTables;

// The five values every kernel reads. Written by PrepareTransform before a
// render starts; read-only while workers run.
struct TransformCoefficients {
  float redMultiplier = 1.0f;    // >= 1 after PrepareTransform
  float greenMultiplier = 1.0f;
  float blueMultiplier = 1.0f;
  float outputScale = 1.0f;      // 1 for equal multipliers or no recovery
  float rolloffWidth = 0.0f;     // highlight zone width on 0..255; 0 = no blend
};

// The module's coefficients: recomputed at the start of every render.
extern TransformCoefficients gTransformCoefficients;

// Clamps the record in place, then derives the coefficients from it.
void PrepareTransform(FilterParameters& record, TransformCoefficients& coefficients);

// Transforms one pixel on the 0..255 scale in place; results are not clamped.
void TransformCore(const TransformCoefficients& k, float& r, float& g, float& b);

void TransformPixel8(const TransformCoefficients& k, uint8* r, uint8* g, uint8* b);
void TransformPixel16(const TransformCoefficients& k, uint16* r, uint16* g, uint16* b);
void TransformPixelFloat(const TransformCoefficients& k, const TransferTables& tables, float* r,
                         float* g, float* b);

// One-plane images: v stands for the grey pixel (v, v, v) and the red result
// is kept.
uint8 TransformSingle8(const TransformCoefficients& k, uint8 v);
uint16 TransformSingle16(const TransformCoefficients& k, uint16 v);
float TransformSingleFloat(const TransformCoefficients& k, const TransferTables& tables, float v);

// Clamp to [0, 255]: not above 0 (NaN included) gives 0.
inline float ClampToWorkingScale(float x) {
  if (!(x > 0.0f)) return 0.0f;
  if (x >= 255.0f) return 255.0f;
  return x;
}
