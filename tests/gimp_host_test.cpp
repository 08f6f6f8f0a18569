// GIMP's host itself, as it was measured: tiny filters that do one thing
// each show what the host does whatever the real filter does.
#include <gtest/gtest.h>

#include <cstring>

#include "host/display.h"
#include "host/filter_run.h"
#include "host/host.h"
#include "host/host_profiles.h"
#include "host/host_runs.h"
#include "tests/render_support.h"
#include "tests/test_support.h"

using host::Document;
using host::Host;
using host::HostOptions;

namespace {

// Tiny filters that do one thing each, to see the host do what GIMP was
// measured to do whatever the real filter does.
struct FakeFilter {
  bool allPlanes = false;   // write the transparency plane too
  bool emptyAtStart = false;  // empty the rectangles before Start returns
  bool lockData = false;    // lock whatever is in the data slot at Prepare
  int finishes = 0;
};
FakeFilter gFake;

extern "C" void FakeEntry(int16 selector, void* record, intptr_t* data, int16* result) {
  FilterRecord& r = *static_cast<FilterRecord*>(record);
  *result = noErr;
  if (selector == filterSelectorPrepare && gFake.lockData)
    *result = r.handleProcs->lockProc(reinterpret_cast<Handle>(*data), false) ? noErr : memFullErr;
  if (selector == filterSelectorFinish) ++gFake.finishes;
  const Rect none{0, 0, 0, 0};
  if (selector == filterSelectorContinue) r.inRect = r.outRect = none;
  if (selector != filterSelectorStart) return;
  r.inRect = r.outRect = r.filterRect;
  r.inLoPlane = r.outLoPlane = 0;
  r.inHiPlane = r.outHiPlane = int16(gFake.allPlanes ? r.planes - 1 : 2);
  if ((*result = r.advanceState()) != noErr) return;
  const int32 w = r.outRect.right - r.outRect.left, planes = r.outHiPlane + 1;
  for (int32 y = 0; y < r.outRect.bottom - r.outRect.top; ++y)
    std::memset(static_cast<uint8*>(r.outData) + int64(y) * r.outRowBytes, 0x5A, size_t(w * planes));
  if (gFake.emptyAtStart) r.inRect = r.outRect = none;
}

class GimpHost : public ::testing::Test {
 protected:
  void SetUp() override {
    gFake = FakeFilter{};
    host::FindHostProfile("gimp")->apply(options, 8, 6);
    original = host::MakeDocument(8, 6, 4, 8);
    original.imageMode = plugInModeRGBColor;
    FillNoise(original, 3);
  }
  HostOptions options;
  Document original;
};

}  // namespace

// The output starts empty and the host writes back what outData held at
// each advanceState, its own calls included: a filter that returns from
// Start with its rectangles set gets the original back, and any plane it
// did not write comes back 0. Finish never comes.
TEST_F(GimpHost, RevertsAPendingTileAndEmptiesUnwrittenPlanes) {
  Host h(original, options);
  const host::RunResult run = host::RunFilter(h, FakeEntry, true);
  EXPECT_EQ(run.Error(), noErr);
  EXPECT_FALSE(run.finished);
  EXPECT_EQ(gFake.finishes, 0);
  for (int32 y = 0; y < 6; ++y)
    for (int32 x = 0; x < 8; ++x) {
      for (int c = 0; c < 3; ++c) ASSERT_EQ(*h.document().Sample(x, y, c), *original.Sample(x, y, c));
      ASSERT_EQ(*h.document().Sample(x, y, 3), 0) << "x=" << x << " y=" << y;
    }

  // Every plane written and the rectangles emptied: the filter's pixels,
  // in the selection only.
  gFake.allPlanes = gFake.emptyAtStart = true;
  HostOptions selected = options;
  selected.selection = VRect{1, 2, 4, 7};
  Host s(original, selected);
  EXPECT_EQ(host::RunFilter(s, FakeEntry, true).Error(), noErr);
  for (int32 y = 0; y < 6; ++y)
    for (int32 x = 0; x < 8; ++x)
      for (int c = 0; c < 4; ++c) {
        const bool inside = y >= 1 && y < 4 && x >= 2 && x < 7;
        ASSERT_EQ(*s.document().Sample(x, y, c), inside ? 0x5A : *original.Sample(x, y, c));
      }
  // A failed run leaves the document as it was.
  gFake.lockData = true;
  Host failed(original, options);
  failed.dataSlot() = 0;
  EXPECT_NE(host::RunFilter(failed, FakeEntry, false).Error(), noErr);
  EXPECT_EQ(FirstDifference(failed.document(), original), "");
}

// A repeat hands over a byte copy of the parameter handle and a data value
// from an earlier process: following that value is caught, not crashed on.
TEST_F(GimpHost, RefusesAStaleDataValue) {
  host::KeptRun kept;
  {
    Host earlier(original, options);
    earlier.record().parameters = earlier.handles().NewForHost("settings", 8);
    earlier.dataSlot() = reinterpret_cast<intptr_t>(earlier.handles().NewForHost("x", 1));
    kept = host::KeepAfterParameters(earlier);
  }
  gFake.lockData = true;
  Host h(original, options);
  const host::RunResult run = host::RunAs(h, FakeEntry, host::HostRun::Repeat, kept);
  EXPECT_EQ(run.parameters, noErr);  // not called
  EXPECT_NE(run.Error(), noErr);
  std::string why;
  EXPECT_FALSE(h.Balanced(&why));
  EXPECT_NE(why.find("earlier process"), std::string::npos) << why;
  std::vector<char> copied;
  ASSERT_TRUE(h.handles().Contents(h.record().parameters, copied));
  EXPECT_EQ(std::string(copied.begin(), copied.end()), "settings");
}

// displayPixels and the property proc as GIMP's are.
TEST_F(GimpHost, DisplaysOnlyEightBitRgbOrGreyAndAnswersFewProperties) {
  options.ownerWindow = 0x1234;  // what a caller offers; this host gives the dialog no owner
  Host h(original, options);
  std::vector<uint8> pixels(4 * 4 * 3, 0x80);
  PSPixelMap map{};
  map.version = 1;
  map.bounds = VRect{0, 0, 4, 4};
  map.imageMode = plugInModeRGBColor;
  map.rowBytes = 12;
  map.colBytes = 3;
  map.planeBytes = 1;
  map.baseAddr = pixels.data();
  EXPECT_EQ(h.record().displayPixels(&map, &map.bounds, 0, 0, nullptr), filterBadParameters);
  EXPECT_TRUE(IsBalanced(h));
  map.imageMode = plugInModeRGB48;
  int target = 0;  // never drawn on: the mode ends the host first
  EXPECT_NE(h.record().displayPixels(&map, &map.bounds, 0, 0, &target), noErr);
  EXPECT_FALSE(h.Balanced());

  intptr_t channels = 0;
  // Copied out: the record is packed, and a field of it cannot be bound to a reference.
  const GetPropertyProc getProperty = h.record().getPropertyObsolete;
  ASSERT_NE(getProperty, nullptr);
  EXPECT_EQ(h.record().getPropertyObsolete(FourCharCode("8BIM"), FourCharCode("nuch"), 0, &channels, nullptr), noErr);
  EXPECT_EQ(channels, 4);
  EXPECT_EQ(h.record().getPropertyObsolete(FourCharCode("8BIM"), FourCharCode("sstm"), 0, &channels, nullptr),
            errPlugInHostInsufficient);
  EXPECT_EQ(static_cast<const PlatformData*>(h.record().platformData)->hwnd, 0);
}
