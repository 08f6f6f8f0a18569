// The filter as a host drives it: only through the module's PluginMain.
#include <gtest/gtest.h>

#include "host/filter_run.h"
#include "host/host.h"
#include "host/message_log.h"
#include "host/plugin_module.h"
#include "plugin/parameters.h"
#include "plugin/scripting_keys.h"
#include "module/selectors.h"
#include "tests/render_support.h"
#include "tests/test_support.h"

using host::Descriptor;
using host::Document;
using host::Host;
using host::HostOptions;

namespace {

class PluginMainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(module.Load(BuiltModulePath(), &error)) << error;
    log.Attach(module, false, true);
  }
  void TearDown() override { log.Detach(); }

  PluginMainProc entry() const { return module.entry(); }
  std::vector<host::ShownBox> Messages() { return log.Messages(); }

  static Document Photo(int32 w = 300, int32 h = 200, int32 depth = 8) {
    Document d = host::MakeDocument(w, h, 3, depth);
    FillNoise(d, 21);
    return d;
  }

  static const FilterParameters* Record(Host& h) {
    // Between calls the handle is unlocked; the bundled host's handles do not
    // move, so the record can be looked at directly.
    Handle p = h.record().parameters;
    return p ? reinterpret_cast<const FilterParameters*>(*p) : nullptr;
  }
  static uint8 ShowDialogFlag(Host& h) {
    Handle d = reinterpret_cast<Handle>(h.dataSlot());
    return d ? uint8(**d) : 0xFF;
  }

  host::PluginModule module;
  host::MessageLog log;
};

}  // namespace

TEST_F(PluginMainTest, ASilentRunFiltersTheDocumentAndGivesEverythingBack) {
  const Document original = Photo();
  Host h(original);
  h.scripting().Play(ActionFor(WarmCast()), plugInDialogDontDisplay);
  host::RunResult run = host::RunFilter(h, entry(), false);
  EXPECT_EQ(run.Error(), noErr);
  EXPECT_TRUE(run.started);
  EXPECT_EQ(run.continues, 0);  // Start did the work and left nothing to deliver
  EXPECT_EQ(FirstDifference(h.document(), Expected(original, WarmCast(), {0, 0, 200, 300})), "");
  EXPECT_EQ(ShowDialogFlag(h), 0);
  EXPECT_TRUE(Messages().empty());
  EXPECT_TRUE(IsBalanced(h));
  // Finish recorded the action and stored the last-used settings.
  Descriptor recorded;
  ASSERT_TRUE(h.scripting().Recorded(recorded));
  EXPECT_EQ(recorded.size(), 18u);
  EXPECT_EQ(h.scripting().registry().count(kPluginUniqueString), 1u);
}

TEST_F(PluginMainTest, RepeatingTheFilterRunsSilentlyWithTheStoredRecord) {
  const Document original = Photo();
  Host h(original);
  h.scripting().Play(ActionFor(WarmCast()), plugInDialogDontDisplay);
  ASSERT_EQ(host::RunFilter(h, entry(), false).Error(), noErr);
  // The host repeats the filter: no Parameters, no descriptor, handles kept.
  h.document() = original;
  host::RunResult again = host::RunFilter(h, entry(), false);
  EXPECT_EQ(again.Error(), noErr);
  EXPECT_EQ(FirstDifference(h.document(), Expected(original, WarmCast(), {0, 0, 200, 300})), "");
  EXPECT_TRUE(IsBalanced(h));
}

TEST_F(PluginMainTest, ACancelledDialogRestoresTheRecordAndReportsNothing) {
  Host h(Photo());
  // Last used: red 1.5. The action asks for the dialog with red 1.9.
  FilterParameters stored{};
  ResetParameters(stored);
  stored.redGain = 1.5;
  Descriptor lastUsed;
  lastUsed.PutFloat(FourCharCode("brgH"), 1.5);
  h.scripting().SetRegistryEntry(kPluginUniqueString, lastUsed, true);
  Descriptor action;
  action.PutFloat(FourCharCode("brgH"), 1.9);
  action.PutBoolean(FourCharCode("ignS"), true);
  h.scripting().Play(action, plugInDialogDisplay);

  ASSERT_EQ(h.Call(entry(), filterSelectorParameters), noErr);
  ASSERT_EQ(h.Call(entry(), filterSelectorPrepare), noErr);
  // Nobody works the dialog: it ends as cancelled.
  EXPECT_EQ(h.Call(entry(), filterSelectorStart), userCanceledErr);
  EXPECT_EQ(Record(h)->redGain, 1.5);
  EXPECT_FALSE(Record(h)->ignoreSelection);
  EXPECT_EQ(ShowDialogFlag(h), 0);
  EXPECT_TRUE(Messages().empty());  // -128 is never shown
  // The last-used store received the restored doubles with the flag as the
  // dialog left it.
  const Descriptor& entryNow = h.scripting().registry().at(kPluginUniqueString).descriptor;
  double red = 0;
  bool ignore = false;
  EXPECT_EQ(entryNow.GetFloat(FourCharCode("brgH"), red), noErr);
  EXPECT_EQ(entryNow.GetBoolean(FourCharCode("ignS"), ignore), noErr);
  EXPECT_EQ(red, 1.5);
  EXPECT_TRUE(ignore);
  EXPECT_TRUE(IsBalanced(h));
}

TEST_F(PluginMainTest, PrepareKeepsExistingHandlesAndResetsNewOnes) {
  Host h(Photo());
  ASSERT_EQ(h.Call(entry(), filterSelectorPrepare), noErr);
  ASSERT_NE(Record(h), nullptr);
  EXPECT_EQ(Record(h)->redGain, 1.0);
  EXPECT_EQ(ShowDialogFlag(h), 1);
  // Change the stored record and flag; a second Prepare keeps them.
  const_cast<FilterParameters*>(Record(h))->redGain = 1.25;
  **reinterpret_cast<Handle>(h.dataSlot()) = 0;
  ASSERT_EQ(h.Call(entry(), filterSelectorPrepare), noErr);
  EXPECT_EQ(Record(h)->redGain, 1.25);
  EXPECT_EQ(ShowDialogFlag(h), 0);
  // Parameters always resets.
  ASSERT_EQ(h.Call(entry(), filterSelectorParameters), noErr);
  EXPECT_EQ(Record(h)->redGain, 1.0);
  EXPECT_EQ(ShowDialogFlag(h), 1);
  EXPECT_TRUE(IsBalanced(h));
}

TEST_F(PluginMainTest, PrepareLowersMaxSpaceToWhatTheTilesNeed) {
  EXPECT_EQ(MemoryNeed(3, false, 1000, 800), 425996);
  EXPECT_EQ(MemoryNeed(3, false, 100, 50), 62780);
  EXPECT_EQ(MemoryNeed(4, true, 1000, 800), 688140);
  EXPECT_EQ(MemoryNeed(3, false, -5, 800), 425996);  // a negative side counts as 256

  Host h(Photo(1000, 800));
  h.record().maxSpace = 100000000;
  h.record().bufferSpace = 12345;
  ASSERT_EQ(h.Call(entry(), filterSelectorPrepare), noErr);
  EXPECT_EQ(h.record().maxSpace, 425996);
  EXPECT_EQ(h.record().bufferSpace, 0);

  Host low(Photo(1000, 800));
  low.record().maxSpace = 300000;  // below the need: left as it is
  ASSERT_EQ(low.Call(entry(), filterSelectorPrepare), noErr);
  EXPECT_EQ(low.record().maxSpace, 300000);
}

TEST_F(PluginMainTest, UnknownSelectorsOnlyBuildAndReleaseTheTables) {
  Host h(Photo());
  ASSERT_EQ(h.Call(entry(), filterSelectorPrepare), noErr);
  const int allocated = h.buffers().Allocated();
  EXPECT_EQ(h.Call(entry(), 6), noErr);
  EXPECT_EQ(h.buffers().Allocated(), allocated + 2);
  EXPECT_TRUE(Messages().empty());
  EXPECT_TRUE(IsBalanced(h));
}

TEST_F(PluginMainTest, AboutShowsOnlyTheAboutBox) {
  Host h(Photo());
  EXPECT_EQ(h.Call(entry(), filterSelectorAbout), noErr);
  auto boxes = Messages();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "About");
  EXPECT_EQ(boxes[0].text.rfind("Kestrelle v1.0.7\n\n", 0), 0u);
  EXPECT_EQ(h.handles().Created(), 0);
  EXPECT_EQ(h.buffers().Allocated(), 0);
}

TEST_F(PluginMainTest, HostErrorsAreReportedWithTheSelector) {
  Host h(Photo());
  h.scripting().Play(ActionFor(WarmCast()), plugInDialogDontDisplay);
  h.ledger().FailAt("advanceState", 2);
  host::RunResult run = host::RunFilter(h, entry(), false);
  EXPECT_EQ(run.start, memFullErr);
  auto boxes = Messages();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "gResult error @ Start: -108");
  EXPECT_EQ(boxes[0].caption, "Verdaline");
  EXPECT_TRUE(IsBalanced(h));
}

TEST_F(PluginMainTest, AFailedLockIsReportedAndNothingIsReadThroughIt) {
  Host h(Photo());
  ASSERT_EQ(h.Call(entry(), filterSelectorPrepare), noErr);
  h.ledger().Reset();
  h.ledger().FailAt("handle.lockProc", 2);  // the data handle
  EXPECT_EQ(h.Call(entry(), filterSelectorStart), memFullErr);
  auto boxes = Messages();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "gResult error @ Start: -108");
  EXPECT_TRUE(h.requests().empty());  // no render without the record
  EXPECT_TRUE(IsBalanced(h));          // the handle that did lock is unlocked
}

TEST_F(PluginMainTest, MissingHandlesAtStartAreBadParameters) {
  Host h(Photo());
  EXPECT_EQ(h.Call(entry(), filterSelectorStart), filterBadParameters);
  EXPECT_EQ(h.Call(entry(), filterSelectorFinish), filterBadParameters);
  EXPECT_TRUE(IsBalanced(h));
}

TEST_F(PluginMainTest, ContinueEmptiesTheRectangles) {
  Host h(Photo());
  h.record().bigDocumentData->inRect32 = VRect{1, 2, 3, 4};
  h.record().bigDocumentData->outRect32 = VRect{1, 2, 3, 4};
  EXPECT_EQ(h.Call(entry(), filterSelectorContinue), noErr);
  EXPECT_EQ(h.record().bigDocumentData->inRect32.bottom, 0);
  EXPECT_EQ(h.record().bigDocumentData->outRect32.right, 0);
  EXPECT_TRUE(IsBalanced(h));
}

TEST_F(PluginMainTest, NullArgumentsAreSurvived) {
  Host h(Photo());
  int16 result = 0;
  intptr_t slot = 0;
  entry()(filterSelectorStart, nullptr, &slot, &result);
  EXPECT_EQ(result, filterBadParameters);
  entry()(filterSelectorPrepare, &h.record(), &slot, nullptr);
  entry()(filterSelectorAbout, nullptr, nullptr, &result);
  // No data slot: the data block lives in the filter's own memory.
  result = 0;
  entry()(filterSelectorPrepare, &h.record(), nullptr, &result);
  EXPECT_EQ(result, noErr);
  h.scripting().Play(ActionFor(WarmCast()), plugInDialogDontDisplay);
  entry()(filterSelectorStart, &h.record(), nullptr, &result);
  EXPECT_EQ(result, noErr);
  h.record().parameters = nullptr;  // leave the handle to the host's accounting
}

TEST_F(PluginMainTest, AHostWithoutHandleProcsStillRuns) {
  const Document original = Photo();
  HostOptions options;
  options.offerHandleProcs = false;
  Host h(original, options);
  h.scripting().Play(ActionFor(WarmCast()), plugInDialogDontDisplay);
  host::RunResult run = host::RunFilter(h, entry(), true);
  // Parameters resets and wants the dialog; the played action then says
  // otherwise and the filter runs.
  EXPECT_EQ(run.Error(), noErr);
  EXPECT_EQ(FirstDifference(h.document(), Expected(original, WarmCast(), {0, 0, 200, 300})), "");
  EXPECT_TRUE(IsBalanced(h));
}

// The same filter on the same pixels gives the same bits in every build: the
// native module and both Windows modules (the x86 one with SSE arithmetic).
TEST_F(PluginMainTest, EveryBuildFiltersToTheSameBits) {
  struct Case {
    int32 depth;
    uint64_t hash;
  };
  const Case cases[] = {{8, 0xaf6c27be1bb62dfaull}, {16, 0x2f5f72cc1657ec69ull}, {32, 0x2c35000830fb764eull}};
  for (const Case& c : cases) {
    Document d = host::MakeDocument(173, 91, 3, c.depth);
    FillNoise(d, 77);
    Host h(d);
    h.scripting().Play(ActionFor(WarmCast()), plugInDialogDontDisplay);
    ASSERT_EQ(host::RunFilter(h, entry(), false).Error(), noErr);
    uint64_t hash = 1469598103934665603ull;
    for (uint8 b : h.document().pixels) hash = (hash ^ b) * 1099511628211ull;
    EXPECT_EQ(hash, c.hash) << c.depth << " bits: 0x" << std::hex << hash;
  }
}
