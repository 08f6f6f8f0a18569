#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "plugin/parameters.h"

namespace {

FilterParameters Defaults() {
  FilterParameters p{};
  ResetParameters(p);
  return p;
}

}  // namespace

TEST(Parameters, ResetGivesTheDefaultRecordAndLeavesTheViewAlone) {
  FilterParameters p;
  for (int i = 0; i < kParameterCount; ++i) ParameterAt(p, i) = -7.0;
  p.ignoreSelection = true;
  ProxyViewState before = gProxyViewState;
  gProxyViewState.zoomLevel = 5;

  ResetParameters(p);

  EXPECT_EQ(p.redGain, 1.0);
  EXPECT_EQ(p.redGainFine, 0.0);
  EXPECT_EQ(p.greenGain, 1.0);
  EXPECT_EQ(p.greenGainFine, 0.0);
  EXPECT_EQ(p.blueGain, 1.0);
  EXPECT_EQ(p.blueGainFine, 0.0);
  EXPECT_EQ(p.highlightRecovery, 100.0);
  EXPECT_EQ(p.highlightRolloff, 100.0);
  for (double r : p.reserved) EXPECT_EQ(r, 0.0);
  EXPECT_FALSE(p.ignoreSelection);
  EXPECT_EQ(gProxyViewState.zoomLevel, 5);
  gProxyViewState = before;
}

TEST(Parameters, IndexOrderFollowsTheRecord) {
  FilterParameters p = Defaults();
  for (int i = 0; i < kParameterCount; ++i) ParameterAt(p, i) = i;
  EXPECT_EQ(p.redGain, 0);
  EXPECT_EQ(p.greenGain, 2);
  EXPECT_EQ(p.highlightRecovery, 6);
  EXPECT_EQ(p.highlightRolloff, 7);
  EXPECT_EQ(p.reserved[2], 10);
  // The handle stores the doubles back to back, the flag right after them.
  EXPECT_EQ(offsetof(FilterParameters, ignoreSelection), 88u);
}

TEST(Parameters, ViewStateStartsFromItsInitialValues) {
  ProxyViewState v;
  EXPECT_EQ(v.zoomLevel, 1);
  EXPECT_EQ(v.offsetH, 0);
  EXPECT_EQ(v.focalPointV, 0);
  EXPECT_EQ(v.windowWidth, 1920);
  EXPECT_EQ(v.windowHeight, 1080);
  EXPECT_EQ(v.dialogWidth, 1920);
  EXPECT_EQ(v.dialogHeight, 1080);
  EXPECT_EQ(v.savedSize, 1);
  EXPECT_EQ(v.savedMode, 0);
  EXPECT_EQ(v.savedFlag, 0);
}

TEST(Parameters, ClampBoundsEveryFieldAndKeepsTheResult) {
  FilterParameters p = Defaults();
  p.greenGainFine = 150;
  p.blueGainFine = -150;
  p.redGain = 0;
  p.greenGain = 5000;
  p.highlightRolloff = 20000;
  p.highlightRecovery = 150;
  p.redGainFine = 5e-7;
  p.reserved[0] = 1e9;
  p.ignoreSelection = true;
  ClampParameters(p);
  EXPECT_EQ(p.greenGainFine, 100);
  EXPECT_EQ(p.blueGainFine, -100);
  EXPECT_EQ(p.redGain, 0.00392156862745098);
  EXPECT_EQ(p.greenGain, 1000);
  EXPECT_EQ(p.highlightRolloff, 10000);
  EXPECT_EQ(p.highlightRecovery, 100);
  EXPECT_EQ(p.redGainFine, 0.0);
  EXPECT_EQ(p.reserved[0], 1e9);  // reserved values are never clamped
  EXPECT_TRUE(p.ignoreSelection);
}

TEST(Parameters, NanBecomesTheLowerBound) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  FilterParameters p = Defaults();
  p.blueGain = nan;
  p.greenGainFine = nan;
  p.highlightRecovery = nan;
  p.highlightRolloff = nan;
  ClampParameters(p);
  EXPECT_EQ(p.blueGain, 0.00392156862745098);
  EXPECT_EQ(p.greenGainFine, -100);
  EXPECT_EQ(p.highlightRecovery, 0);
  EXPECT_EQ(p.highlightRolloff, 0);
}

TEST(Parameters, InfinitiesStopAtTheBounds) {
  const double inf = std::numeric_limits<double>::infinity();
  FilterParameters p = Defaults();
  p.redGain = inf;
  p.blueGain = -inf;
  p.redGainFine = -inf;
  ClampParameters(p);
  EXPECT_EQ(p.redGain, 1000);
  EXPECT_EQ(p.blueGain, 0.00392156862745098);
  EXPECT_EQ(p.redGainFine, -100);
}
