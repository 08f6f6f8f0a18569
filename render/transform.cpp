#include "render/transform.h"

#include "plugin/parameters.h"
#include "render/transfer_tables.h"

TransformCoefficients gTransformCoefficients;

namespace {

// 255/32768 is exact in single precision; 128.50197 is the float nearest to
// 32768/255. Together they map the host's 16-bit range 0..32768 onto 0..255
// and back, returning every value unchanged when the transform is identity.
constexpr float kSixteenToWorking = 0.0077819824f;
constexpr float kWorkingToSixteen = 128.50197f;

inline uint8 ToByte(float x) {
  return static_cast<uint8>(static_cast<int32>(ClampToWorkingScale(x) + 0.5f));
}

inline uint16 ToSixteen(float x) {
  return static_cast<uint16>(static_cast<int32>(ClampToWorkingScale(x) * kWorkingToSixteen + 0.5f));
}

// Linear light in, sRGB-encoded 0..255 out. Values past 1 (and NaN, and
// negatives) are pinned to the table's range first.
inline float EncodeLinear(const TransferTables& tables, float x) {
  if (!(x >= 0.0f)) {
    x = 0.0f;
  } else if (x > 1.0f) {
    x = 1.0f;
  }
  float s = LookUpLinearToSrgb(tables, x);
  return s > 255.0f ? 255.0f : s;
}

}  // namespace

void PrepareTransform(FilterParameters& record, TransformCoefficients& k) {
  ClampParameters(record);

  // Raw multipliers in double precision, stored as single.
  float red = static_cast<float>(record.redGainFine * 0.1 + record.redGain);
  float green = static_cast<float>(record.greenGainFine * 0.1 + record.greenGain);
  float blue = static_cast<float>(record.blueGainFine * 0.1 + record.blueGain);

  const float kFloor = static_cast<float>(1.0 / 255.0);
  if (!(red > kFloor)) red = kFloor;
  if (!(green > kFloor)) green = kFloor;
  if (!(blue > kFloor)) blue = kFloor;

  // Normalise so the weakest channel has gain 1: the filter only brightens
  // channels relative to the weakest, and the output scale brings it back.
  float lowest = red;
  if (green < lowest) lowest = green;
  if (blue < lowest) lowest = blue;
  const double inverse = 1.0 / static_cast<double>(lowest);
  k.redMultiplier = static_cast<float>(static_cast<double>(red) * inverse);
  k.greenMultiplier = static_cast<float>(static_cast<double>(green) * inverse);
  k.blueMultiplier = static_cast<float>(static_cast<double>(blue) * inverse);

  // The neutral level a white pixel reaches after the gains; at least 255.
  const float neutralWhite =
      ((k.blueMultiplier + k.greenMultiplier + k.redMultiplier) * 255.0f - 255.0f) * 0.5f;

  const double recovery = record.highlightRecovery * 0.01;
  k.outputScale = static_cast<float>(recovery / static_cast<double>(neutralWhite) * 255.0 +
                                     (1.0 - recovery));
  const float headroom = 1.0f - k.outputScale;
  k.rolloffWidth = static_cast<float>(static_cast<double>(headroom) * record.highlightRolloff *
                                      2.5500000000000003);
}

void TransformCore(const TransformCoefficients& k, float& r, float& g, float& b) {
  const float red = r * k.redMultiplier;
  const float green = g * k.greenMultiplier;
  const float blue = b * k.blueMultiplier;
  const float neutral = (blue + green + red - 255.0f) * 0.5f;

  // Colour weight: 1 while the smallest channel stays rolloffWidth below 255,
  // falling to 0 as it reaches 255, so the brightest pixels turn neutral
  // instead of clipping to a colour cast.
  float t = 1.0f;
  const float width = k.rolloffWidth;
  if (width != 0.0f && width == width) {
    float smallest = red;
    if (green < smallest) smallest = green;
    if (blue < smallest) smallest = blue;
    float d = 255.0f - smallest;
    if (d > width) d = width;
    if (d < 0.0f) d = 0.0f;
    t = d / width;
  }

  const float w = (1.0f - t) * neutral;
  r = (t * red + w) * k.outputScale;
  g = (t * green + w) * k.outputScale;
  b = (t * blue + w) * k.outputScale;
}

void TransformPixel8(const TransformCoefficients& k, uint8* r, uint8* g, uint8* b) {
  float fr = *r, fg = *g, fb = *b;
  TransformCore(k, fr, fg, fb);
  *r = ToByte(fr);
  *g = ToByte(fg);
  *b = ToByte(fb);
}

void TransformPixel16(const TransformCoefficients& k, uint16* r, uint16* g, uint16* b) {
  float fr = *r * kSixteenToWorking;
  float fg = *g * kSixteenToWorking;
  float fb = *b * kSixteenToWorking;
  TransformCore(k, fr, fg, fb);
  *r = ToSixteen(fr);
  *g = ToSixteen(fg);
  *b = ToSixteen(fb);
}

void TransformPixelFloat(const TransformCoefficients& k, const TransferTables& tables, float* r,
                         float* g, float* b) {
  float fr = EncodeLinear(tables, *r);
  float fg = EncodeLinear(tables, *g);
  float fb = EncodeLinear(tables, *b);
  TransformCore(k, fr, fg, fb);
  *r = LookUpSrgbToLinear(tables, ClampToWorkingScale(fr));
  *g = LookUpSrgbToLinear(tables, ClampToWorkingScale(fg));
  *b = LookUpSrgbToLinear(tables, ClampToWorkingScale(fb));
}

// (1 - t) * Y + t * R' equals t * R' + (1 - t) * Y exactly (addition is
// commutative in IEEE arithmetic), so the red result of TransformCore is the
// single-plane value bit for bit.
uint8 TransformSingle8(const TransformCoefficients& k, uint8 v) {
  uint8 r = v, g = v, b = v;
  TransformPixel8(k, &r, &g, &b);
  return r;
}

uint16 TransformSingle16(const TransformCoefficients& k, uint16 v) {
  uint16 r = v, g = v, b = v;
  TransformPixel16(k, &r, &g, &b);
  return r;
}

float TransformSingleFloat(const TransformCoefficients& k, const TransferTables& tables, float v) {
  float r = v, g = v, b = v;
  TransformPixelFloat(k, tables, &r, &g, &b);
  return r;
}
