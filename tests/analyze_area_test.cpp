#include <gtest/gtest.h>

#include "render/analyze_area.h"
#include "render/render_final.h"
#include "tests/render_support.h"
#include "tests/test_support.h"

using host::Document;
using host::Host;
using host::MakeDocument;

namespace {

// A document of one colour (8-bit values scaled to the depth).
Document Flat(int32 w, int32 h, int16 planes, int32 depth, int r, int g, int b) {
  Document d = MakeDocument(w, h, planes, depth);
  const int values[3] = {r, g, b};
  for (int32 y = 0; y < h; ++y)
    for (int32 x = 0; x < w; ++x)
      for (int p = 0; p < planes; ++p) {
        const int v = values[p % 3];
        if (depth == 8) d.Set<uint8>(x, y, p, uint8(v));
        if (depth == 16) d.Set<uint16>(x, y, p, uint16((v * 32768 + 127) / 255));
      }
  return d;
}

struct Analysis {
  FilterParameters parameters;
  int16 result = 0;
};

Analysis Analyze(Host& h, VPoint a, VPoint b) {
  CallScope call(h);
  Analysis out;
  ResetParameters(out.parameters);
  out.parameters.redGainFine = 0.5;  // analysis sets the fine gains to 0
  AnalyzeArea(h.record(), out.parameters, out.result, a, b);
  return out;
}

}  // namespace

TEST(AnalyzeArea, TurnsTheAverageColourNeutral) {
  Host h(Flat(40, 30, 3, 8, 100, 200, 150));
  Analysis a = Analyze(h, {5, 5}, {25, 35});
  ASSERT_EQ(a.result, noErr);
  EXPECT_FLOAT_EQ(a.parameters.redGain, 1.5);
  EXPECT_FLOAT_EQ(a.parameters.greenGain, 0.75);
  EXPECT_FLOAT_EQ(a.parameters.blueGain, 1.0);
  EXPECT_EQ(a.parameters.redGainFine, 0.0);
  // One request for all colour planes, at full resolution, of exactly the area.
  ASSERT_EQ(h.requests().size(), 1u);
  EXPECT_EQ(h.requests()[0].inLoPlane, 0);
  EXPECT_EQ(h.requests()[0].inHiPlane, 2);
  EXPECT_EQ(h.requests()[0].rate, 1);
  EXPECT_EQ(h.requests()[0].inRect.left, 5);
  EXPECT_EQ(h.requests()[0].inRect.bottom, 25);

  // The next render normalises the gains to 2, 1, 1.3333334 and the area's
  // colour becomes grey.
  TransformCoefficients k;
  PrepareTransform(a.parameters, k);
  EXPECT_FLOAT_EQ(k.redMultiplier, 2.0f);
  EXPECT_FLOAT_EQ(k.greenMultiplier, 1.0f);
  EXPECT_FLOAT_EQ(k.blueMultiplier, 1.3333334f);
  ASSERT_EQ(RunFinal(h, a.parameters), noErr);
  EXPECT_EQ(h.document().Get<uint8>(0, 0, 0), 112);
  EXPECT_EQ(h.document().Get<uint8>(0, 0, 1), 112);
  EXPECT_EQ(h.document().Get<uint8>(0, 0, 2), 112);
  EXPECT_TRUE(IsBalanced(h));
}

TEST(AnalyzeArea, CapsTheLargestGainAtTwo) {
  Host h1(Flat(8, 8, 3, 8, 50, 200, 200));
  Analysis a = Analyze(h1, {0, 0}, {8, 8});
  EXPECT_FLOAT_EQ(a.parameters.redGain, 2.0);
  EXPECT_FLOAT_EQ(a.parameters.greenGain, 0.5);
  EXPECT_FLOAT_EQ(a.parameters.blueGain, 0.5);

  // The reference is the larger of red and the smaller of green and blue.
  Host h2(Flat(8, 8, 3, 8, 200, 100, 50));
  Analysis b = Analyze(h2, {8, 8}, {0, 0});  // corners in either order
  EXPECT_FLOAT_EQ(b.parameters.redGain, 0.5);
  EXPECT_FLOAT_EQ(b.parameters.greenGain, 1.0);
  EXPECT_FLOAT_EQ(b.parameters.blueGain, 2.0);
}

TEST(AnalyzeArea, ABlackAreaGivesUnitGains) {
  Host h(Flat(8, 8, 3, 8, 0, 0, 0));
  Analysis a = Analyze(h, {0, 0}, {4, 4});
  EXPECT_EQ(a.parameters.redGain, 1.0);
  EXPECT_EQ(a.parameters.greenGain, 1.0);
  EXPECT_EQ(a.parameters.blueGain, 1.0);
}

TEST(AnalyzeArea, SixteenBitGivesTheEightBitGainsWithinRounding) {
  Host h(Flat(16, 16, 3, 16, 100, 200, 150));
  Analysis a = Analyze(h, {0, 0}, {16, 16});
  EXPECT_NEAR(a.parameters.redGain, 1.5, 1e-3);
  EXPECT_NEAR(a.parameters.greenGain, 0.75, 1e-3);
  EXPECT_NEAR(a.parameters.blueGain, 1.0, 1e-3);
}

TEST(AnalyzeArea, AGreyDocumentHasOnlyOnePlaneToAverage) {
  Host h(Flat(8, 8, 1, 8, 100, 0, 0));
  Analysis a = Analyze(h, {0, 0}, {8, 8});
  ASSERT_EQ(h.requests().size(), 1u);
  // Averages 100, 1, 1: reference 100, gains 1, 100, 100 capped to 0.02, 2, 2.
  EXPECT_FLOAT_EQ(a.parameters.redGain, 0.02f);
  EXPECT_FLOAT_EQ(a.parameters.greenGain, 2.0);
}

TEST(AnalyzeArea, AFourthPlaneIsNeverAveraged) {
  // CMYK: the fourth plane comes with the others (every request asks for
  // all colour planes) but does not move the gains.
  Document d = Flat(8, 8, 4, 16, 100, 200, 150);
  for (int32 y = 0; y < 8; ++y)
    for (int32 x = 0; x < 8; ++x) d.Set<uint16>(x, y, 3, 1);
  Host h(d);
  Analysis a = Analyze(h, {0, 0}, {8, 8});
  ASSERT_EQ(a.result, noErr);
  ASSERT_EQ(h.requests().size(), 1u);
  EXPECT_EQ(h.requests()[0].inHiPlane, 3);
  EXPECT_NEAR(a.parameters.redGain, 1.5, 1e-3);
  EXPECT_NEAR(a.parameters.greenGain, 0.75, 1e-3);
  EXPECT_NEAR(a.parameters.blueGain, 1.0, 1e-3);
}

TEST(AnalyzeArea, AHostErrorLeavesTheParametersAlone) {
  Host h(Flat(8, 8, 3, 8, 100, 200, 150));
  h.ledger().FailAt("advanceState", 1);
  Analysis a = Analyze(h, {0, 0}, {8, 8});
  EXPECT_EQ(a.result, memFullErr);
  EXPECT_EQ(a.parameters.redGain, 1.0);
  EXPECT_EQ(a.parameters.redGainFine, 0.5);
}

TEST(AnalyzeArea, KeepsTheHostsSamplingRate) {
  Host h(Flat(8, 8, 3, 8, 100, 200, 150));
  h.record().inputRate = 3 << 16;
  Analyze(h, {0, 0}, {8, 8});
  EXPECT_EQ(h.record().inputRate, 3 << 16);
  EXPECT_EQ(h.requests()[0].rate, 1);  // but reads at full resolution
}

TEST(AnalyzeArea, AnAreaWiderThan64000IsClipped) {
  // Red is 100 in the first 64000 columns and 250 beyond: only the clipped
  // part may count.
  Document d = MakeDocument(70000, 100, 3, 8);
  for (int32 y = 0; y < 100; ++y)
    for (int32 x = 0; x < 70000; ++x) {
      d.Set<uint8>(x, y, 0, x < 64000 ? 100 : 250);
      d.Set<uint8>(x, y, 1, 200);
      d.Set<uint8>(x, y, 2, 150);
    }
  Host h(d);
  MessageCapture capture;
  Analysis a = Analyze(h, {0, 0}, {100, 70000});
  ASSERT_EQ(capture.messages().size(), 1u);
  EXPECT_EQ(capture.messages()[0].text, "Analysis area has been clipped to 64000 x 64000");
  EXPECT_EQ(capture.messages()[0].caption, "Verdaline");
  EXPECT_FLOAT_EQ(a.parameters.redGain, 1.5);
  // The host is still asked for the whole area.
  EXPECT_EQ(h.requests()[0].inRect.right, 70000);
}
