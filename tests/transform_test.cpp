#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "plugin/parameters.h"
#include "render/transfer_tables.h"
#include "render/transform.h"

namespace {

TransformCoefficients Prepared(double red, double green, double blue, double recovery = 100,
                               double rolloff = 100) {
  FilterParameters p{};
  ResetParameters(p);
  p.redGain = red;
  p.greenGain = green;
  p.blueGain = blue;
  p.highlightRecovery = recovery;
  p.highlightRolloff = rolloff;
  TransformCoefficients k;
  PrepareTransform(p, k);
  return k;
}

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
  return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

Rgb Apply8(const TransformCoefficients& k, Rgb in) {
  uint8 r = uint8(in.r), g = uint8(in.g), b = uint8(in.b);
  TransformPixel8(k, &r, &g, &b);
  return Rgb{r, g, b};
}

// Tables built in memory of our own, as for a host without buffer procs.
class Tables {
 public:
  Tables() {
    AllocateTransferTables(t, nullptr);
    BuildSrgbToLinearTable(t);
    BuildLinearToSrgbTable(t);
  }
  ~Tables() { ReleaseTransferTables(t); }
  TransferTables t;
};

}  // namespace

TEST(Transform, CoefficientsForARedGainOfTwo) {
  TransformCoefficients k = Prepared(2, 1, 1);
  EXPECT_EQ(k.redMultiplier, 2.0f);
  EXPECT_EQ(k.greenMultiplier, 1.0f);
  EXPECT_EQ(k.blueMultiplier, 1.0f);
  EXPECT_EQ(k.outputScale, 0.6666667f);
  EXPECT_EQ(k.rolloffWidth, 84.99999f);
}

TEST(Transform, GoldenEightBitResultsForARedGainOfTwo) {
  TransformCoefficients k = Prepared(2, 1, 1);
  EXPECT_EQ(Apply8(k, {255, 255, 255}), (Rgb{255, 255, 255}));
  EXPECT_EQ(Apply8(k, {100, 100, 100}), (Rgb{133, 67, 67}));
  EXPECT_EQ(Apply8(k, {128, 128, 128}), (Rgb{171, 85, 85}));
  EXPECT_EQ(Apply8(k, {255, 200, 150}), (Rgb{255, 133, 100}));
  // The smallest channel after the gains is 255: fully neutral.
  EXPECT_EQ(Apply8(k, {200, 255, 255}), (Rgb{218, 218, 218}));
  EXPECT_EQ(Apply8(k, {0, 0, 0}), (Rgb{0, 0, 0}));
}

TEST(Transform, WithoutRecoveryTheGainClipsAndNothingBlends) {
  TransformCoefficients k = Prepared(2, 1, 1, 0, 100);
  EXPECT_EQ(k.outputScale, 1.0f);
  EXPECT_EQ(k.rolloffWidth, 0.0f);
  EXPECT_EQ(Apply8(k, {200, 100, 100}), (Rgb{255, 100, 100}));
}

TEST(Transform, WithoutRolloffWhiteTurnsPinkInsteadOfNeutral) {
  TransformCoefficients k = Prepared(2, 1, 1, 100, 0);
  EXPECT_EQ(k.outputScale, 0.6666667f);
  EXPECT_EQ(k.rolloffWidth, 0.0f);
  EXPECT_EQ(Apply8(k, {255, 255, 255}), (Rgb{255, 170, 170}));
  EXPECT_EQ(Apply8(k, {200, 100, 100}), (Rgb{255, 67, 67}));
}

TEST(Transform, AWideRolloffDarkensShadowsBelowZeroAndClamps) {
  TransformCoefficients k = Prepared(2, 1, 1, 100, 1000);
  EXPECT_FLOAT_EQ(k.rolloffWidth, 850.0f);
  EXPECT_EQ(Apply8(k, {0, 0, 0}), (Rgb{0, 0, 0}));
  EXPECT_EQ(Apply8(k, {10, 10, 10}), (Rgb{0, 0, 0}));
}

TEST(Transform, EqualGainsAreTheIdentityForEveryEightBitPixel) {
  TransformCoefficients k = Prepared(0.5, 0.5, 0.5);
  EXPECT_EQ(k.redMultiplier, 1.0f);
  EXPECT_EQ(k.outputScale, 1.0f);
  EXPECT_EQ(k.rolloffWidth, 0.0f);
  int wrong = 0;
  for (int r = 0; r < 256; ++r)
    for (int g = 0; g < 256; ++g)
      for (int b = 0; b < 256; ++b) wrong += !(Apply8(k, {r, g, b}) == Rgb{r, g, b});
  EXPECT_EQ(wrong, 0);
}

TEST(Transform, EqualGainsAreTheIdentityForEverySixteenBitValue) {
  // The host's 16-bit range is 0..32768, not 0..65535.
  TransformCoefficients k = Prepared(3, 3, 3, 100, 100);
  int wrong = 0;
  for (int v = 0; v <= 32768; ++v) {
    uint16 r = uint16(v), g = uint16(32768 - v), b = uint16(v / 2);
    TransformPixel16(k, &r, &g, &b);
    wrong += r != v || g != 32768 - v || b != v / 2;
    wrong += TransformSingle16(k, uint16(v)) != v;
  }
  EXPECT_EQ(wrong, 0);
}

TEST(Transform, SixteenBitFollowsTheEightBitScale) {
  TransformCoefficients k = Prepared(2, 1, 1);
  // 100/255 of full scale, as in the 8-bit golden (100,100,100) -> (133,67,67).
  uint16 r = 12850, g = 12850, b = 12850;
  TransformPixel16(k, &r, &g, &b);
  EXPECT_NEAR(r, 133 * 128.50197, 80);
  EXPECT_NEAR(g, 67 * 128.50197, 80);
  EXPECT_EQ(g, b);
  // Out-of-range host values are clamped to full scale, never wrap.
  uint16 hr = 65535, hg = 40000, hb = 32768;
  TransformPixel16(k, &hr, &hg, &hb);
  EXPECT_LE(hr, 32768);
  EXPECT_LE(hg, 32768);
  EXPECT_LE(hb, 32768);
}

TEST(Transform, FineGainCanPushARawMultiplierToTheFloor) {
  FilterParameters p{};
  ResetParameters(p);
  p.redGainFine = -100;  // raw multiplier 1 - 10 = -9
  TransformCoefficients k;
  PrepareTransform(p, k);
  // Raised to 1/255 and normalised to 1; the others become 255.
  EXPECT_EQ(k.redMultiplier, 1.0f);
  EXPECT_FLOAT_EQ(k.greenMultiplier, 255.0f);
  EXPECT_FLOAT_EQ(k.blueMultiplier, 255.0f);
}

TEST(Transform, PrepareLeavesTheClampedRecordBehind) {
  FilterParameters p{};
  ResetParameters(p);
  p.greenGainFine = 150;
  p.redGain = std::numeric_limits<double>::quiet_NaN();
  TransformCoefficients k;
  PrepareTransform(p, k);
  EXPECT_EQ(p.greenGainFine, 100);
  EXPECT_EQ(p.redGain, 0.00392156862745098);
  EXPECT_TRUE(std::isfinite(k.outputScale));
  EXPECT_TRUE(std::isfinite(k.rolloffWidth));
}

TEST(Transform, SinglePlaneIsTheRedResultOfTheGreyPixel) {
  TransformCoefficients k = Prepared(2, 1, 1);
  for (int v = 0; v < 256; ++v) {
    uint8 r = uint8(v), g = uint8(v), b = uint8(v);
    TransformPixel8(k, &r, &g, &b);
    ASSERT_EQ(TransformSingle8(k, uint8(v)), r) << v;
  }
  EXPECT_EQ(TransformSingle8(k, 100), 133);
}

TEST(Transform, FloatPixelsOutsideZeroToOneArePinned) {
  Tables tables;
  TransformCoefficients identity = Prepared(1, 1, 1);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  float r = 1.5f, g = nan, b = -0.25f;
  TransformPixelFloat(identity, tables.t, &r, &g, &b);
  EXPECT_NEAR(r, 1.0f, 1e-6f);  // processed as 1.0
  EXPECT_EQ(g, 0.0f);           // NaN processed as 0
  EXPECT_EQ(b, 0.0f);
  const float inf = std::numeric_limits<float>::infinity();
  float pi = inf, ni = -inf, one = 1.0f;
  TransformPixelFloat(identity, tables.t, &pi, &ni, &one);
  EXPECT_NEAR(pi, 1.0f, 1e-6f);
  EXPECT_EQ(ni, 0.0f);
}

TEST(Transform, FloatIdentityRoundTripsThroughTheTables) {
  Tables tables;
  TransformCoefficients identity = Prepared(1, 1, 1);
  for (float v = 0.0f; v <= 1.0f; v += 1.0f / 512) {
    float r = v, g = v, b = v;
    TransformPixelFloat(identity, tables.t, &r, &g, &b);
    // Two interpolated look-ups: close, not exact.
    ASSERT_NEAR(r, v, 2e-3f + v * 2e-3f) << v;
    ASSERT_EQ(r, g);
    ASSERT_EQ(TransformSingleFloat(identity, tables.t, v), r);
  }
}

TEST(Transform, FloatGainsMatchTheEightBitScale) {
  Tables tables;
  TransformCoefficients k = Prepared(2, 1, 1);
  // A mid grey that encodes to sRGB 100 gets the 8-bit golden result.
  float v = LookUpSrgbToLinear(tables.t, 100.0f);
  float r = v, g = v, b = v;
  TransformPixelFloat(k, tables.t, &r, &g, &b);
  EXPECT_NEAR(LookUpLinearToSrgb(tables.t, r), 133.33f, 0.1f);
  EXPECT_NEAR(LookUpLinearToSrgb(tables.t, g), 66.67f, 0.1f);
}
