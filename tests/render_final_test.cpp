#include <gtest/gtest.h>

#include "platform/threads.h"
#include "render/parallel_step.h"
#include "render/render_final.h"
#include "tests/render_support.h"
#include "tests/test_support.h"

using host::Document;
using host::Host;
using host::HostOptions;
using host::MakeDocument;

namespace {

Document Noise(int32 w, int32 h, int16 planes, int32 depth, uint32 seed = 1) {
  Document d = MakeDocument(w, h, planes, depth);
  FillNoise(d, seed);
  return d;
}

// Restores the real processor count after a test that pretends otherwise.
struct ProcessorCount {
  explicit ProcessorCount(int n) { platform::SetProcessorCountForTesting(n); }
  ~ProcessorCount() { platform::SetProcessorCountForTesting(0); }
};

}  // namespace

TEST(RenderFinal, WalksTilesRowByRowAndReportsProgressAfterEach) {
  Document original = Noise(1000, 700, 3, 8);
  Host h(original);
  ASSERT_EQ(RunFinal(h, WarmCast()), noErr);
  // 4 tiles across, 3 down.
  ASSERT_EQ(h.progress().size(), 12u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(h.progress()[i], std::make_pair(i + 1, 12));
  ASSERT_EQ(h.requests().size(), 12u);
  EXPECT_EQ(h.requests()[1].outRect.left, 256);
  EXPECT_EQ(h.requests()[3].outRect.right, 1000);
  EXPECT_EQ(h.requests()[4].outRect.top, 256);
  EXPECT_EQ(h.requests()[11].outRect.bottom, 700);
  for (const auto& q : h.requests()) {
    EXPECT_EQ(q.inLoPlane, 0);
    EXPECT_EQ(q.inHiPlane, 2);
    EXPECT_EQ(q.outHiPlane, 2);
  }
  EXPECT_EQ(h.record().inputRate, kFixedOne);
  EXPECT_EQ(h.record().maskRate, kFixedOne);
  EXPECT_EQ(FirstDifference(h.document(), Expected(original, WarmCast(), {0, 0, 700, 1000})), "");
  EXPECT_TRUE(IsBalanced(h));
}

TEST(RenderFinal, FiltersAnOffOriginRectangleExactlyOnce) {
  // A non-idempotent correction: filtering any pixel twice would show.
  Document original = Noise(1000, 800, 3, 16);
  HostOptions options;
  options.selection = VRect{200, 300, 700, 900};
  Host h(original, options);
  ASSERT_EQ(RunFinal(h, WarmCast()), noErr);
  EXPECT_EQ(h.requests().front().outRect.top, 200);
  EXPECT_EQ(h.requests().front().outRect.left, 300);
  EXPECT_EQ(h.requests().back().outRect.bottom, 700);
  EXPECT_EQ(h.requests().back().outRect.right, 900);
  EXPECT_EQ(FirstDifference(h.document(), Expected(original, WarmCast(), options.selection)), "");
}

TEST(RenderFinal, StopsAfterTheTileDuringWhichTheUserCancelled) {
  Document original = Noise(600, 300, 3, 8);
  HostOptions options;
  options.abortAfter = 1;
  Host h(original, options);
  EXPECT_EQ(RunFinal(h, WarmCast()), userCanceledErr);
  EXPECT_EQ(h.requests().size(), 1u);
  // Only the first tile is filtered.
  Document expected = Expected(original, WarmCast(), {0, 0, 256, 256});
  EXPECT_EQ(FirstDifference(h.document(), expected), "");
  EXPECT_TRUE(IsBalanced(h));
}

TEST(RenderFinal, AHostErrorStopsTheRenderAndIsKept) {
  Document original = Noise(600, 300, 3, 8);
  Host h(original);
  h.ledger().FailAt("advanceState", 3);
  EXPECT_EQ(RunFinal(h, WarmCast()), memFullErr);
  EXPECT_EQ(h.progress().size(), 2u);
  Document expected = Expected(original, WarmCast(), {0, 0, 256, 512});
  EXPECT_EQ(FirstDifference(h.document(), expected), "");
}

TEST(RenderFinal, RowsAreSplitAmongWorkersAndTheLastTakesTheRest) {
  int32 first = 0, end = 0;
  for (int k = 0; k < 7; ++k) {
    BandRows(5, 8, k, first, end);
    EXPECT_EQ(first, end) << "worker " << k << " should get no rows";
  }
  BandRows(5, 8, 7, first, end);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(end, 5);
  BandRows(256, 3, 2, first, end);
  EXPECT_EQ(first, 170);
  EXPECT_EQ(end, 256);
  {
    ProcessorCount pretend(64);
    EXPECT_EQ(RenderWorkerCount(), 32);
  }
  {
    ProcessorCount pretend(8);
    EXPECT_EQ(RenderWorkerCount(), 8);
  }
}

TEST(RenderFinal, TheResultDoesNotDependOnTheNumberOfWorkers) {
  Document original = Noise(333, 517, 3, 32, 7);
  std::vector<Document> results;
  for (int workers : {1, 2, 7, 32}) {
    ProcessorCount pretend(workers);
    Host h(original);
    ASSERT_EQ(RunFinal(h, WarmCast()), noErr);
    results.push_back(h.document());
  }
  for (size_t i = 1; i < results.size(); ++i) EXPECT_EQ(FirstDifference(results[0], results[i]), "");
  EXPECT_EQ(FirstDifference(results[0], Expected(original, WarmCast(), {0, 0, 517, 333})), "");
}

TEST(RenderFinal, AWorkerThatCannotStartHasItsRowsFilteredAnyway) {
  Document original = Noise(300, 300, 3, 8);
  ProcessorCount pretend(4);
  Host h(original);
  // The second thread start fails, counted like a host callback.
  h.ledger().FailAt("threadStart", 2);
  platform::SetThreadStartGateForTesting(
      [](void* ledger) { return static_cast<host::CallLedger*>(ledger)->Enter("threadStart"); }, &h.ledger());
  ASSERT_EQ(RunFinal(h, WarmCast()), noErr);
  platform::SetThreadStartGateForTesting(nullptr, nullptr);
  EXPECT_EQ(h.ledger().FailuresInjected(), 1);
  EXPECT_EQ(FirstDifference(h.document(), Expected(original, WarmCast(), {0, 0, 300, 300})), "");
}

TEST(RenderFinal, EveryWayOfHandingOutTheOutputGivesTheSameResult) {
  Document original = Noise(300, 200, 3, 16);
  const Document expected = Expected(original, WarmCast(), {0, 0, 200, 300});
  for (auto output : {host::OutputBuffer::Prefilled, host::OutputBuffer::Stale,
                      host::OutputBuffer::SharedWithInput}) {
    for (int32 padding : {0, 6}) {
      HostOptions options;
      options.output = output;
      options.rowPadding = padding;
      options.tileWidth = 128;
      options.tileHeight = 64;
      Host h(original, options);
      ASSERT_EQ(RunFinal(h, WarmCast()), noErr);
      EXPECT_EQ(FirstDifference(h.document(), expected), "")
          << "output mode " << int(output) << ", padding " << padding;
      EXPECT_TRUE(IsBalanced(h));
    }
  }
}

TEST(RenderFinal, TileSizesOfZeroOrLessMean256) {
  for (int16 size : {int16(0), int16(-5)}) {
    HostOptions options;
    options.tileWidth = size;
    options.tileHeight = 40;
    Host h(Noise(600, 300, 3, 8), options);
    ASSERT_EQ(RunFinal(h, WarmCast()), noErr);
    EXPECT_EQ(h.requests().size(), 6u);
    EXPECT_EQ(h.requests()[0].outRect.right, 256);
    EXPECT_EQ(h.requests()[0].outRect.bottom, 256);
  }
}

TEST(RenderFinal, CmykAndLabPassThroughUnchanged) {
  for (int16 mode : {plugInModeCMYK64, plugInModeLab48, plugInModeLabColor, plugInModeMultichannel}) {
    Document original = Noise(100, 100, mode == plugInModeCMYK64 ? 4 : 3, 16);
    original.imageMode = mode;
    if (mode == plugInModeLabColor || mode == plugInModeMultichannel) {
      original = Noise(100, 100, 3, 8);
      original.imageMode = mode;
    }
    Host h(original);
    ASSERT_EQ(RunFinal(h, WarmCast()), noErr) << mode;
    EXPECT_EQ(FirstDifference(h.document(), original), "") << "mode " << mode;
    EXPECT_TRUE(h.requests().empty()) << "mode " << mode;
  }
}

TEST(RenderFinal, GreyDocumentsFollowTheSinglePlaneRule) {
  for (int32 depth : {8, 16, 32}) {
    Document original = Noise(200, 120, 1, depth, 3);
    Host h(original);
    ASSERT_EQ(RunFinal(h, WarmCast()), noErr);
    EXPECT_EQ(h.requests()[0].outHiPlane, 0);
    EXPECT_EQ(FirstDifference(h.document(), Expected(original, WarmCast(), {0, 0, 120, 200})), "")
        << "depth " << depth;
  }
}

TEST(RenderFinal, AHostWithoutAdvanceStateGetsAnErrorNotACrash) {
  HostOptions options;
  options.offerAdvanceState = false;
  options.offerProgress = false;
  options.offerAbort = false;
  Document original = Noise(50, 50, 3, 8);
  Host h(original, options);
  EXPECT_EQ(RunFinal(h, WarmCast()), errPlugInHostInsufficient);
  EXPECT_EQ(FirstDifference(h.document(), original), "");
}

TEST(RenderFinal, WorksWithoutProgressOrAbortProcs) {
  HostOptions options;
  options.offerProgress = false;
  options.offerAbort = false;
  Document original = Noise(300, 300, 3, 8);
  Host h(original, options);
  EXPECT_EQ(RunFinal(h, WarmCast()), noErr);
  EXPECT_EQ(FirstDifference(h.document(), Expected(original, WarmCast(), {0, 0, 300, 300})), "");
}

TEST(RenderFinal, ReadsAndWritesThe32BitRectanglesBeyond32767Pixels) {
  Document original = Noise(40000, 3, 3, 8);
  HostOptions options;
  options.tileWidth = 4096;
  Host h(original, options);
  ASSERT_EQ(RunFinal(h, WarmCast()), noErr);
  EXPECT_EQ(h.requests().back().outRect.right, 40000);
  EXPECT_EQ(FirstDifference(h.document(), Expected(original, WarmCast(), {0, 0, 3, 40000})), "");
}

TEST(RenderFinal, HostsWithout32BitCoordinatesGetThe16BitRectangles) {
  Document original = Noise(300, 200, 3, 8);
  HostOptions options;
  options.offerBigDocument = false;
  Host h(original, options);
  ASSERT_EQ(RunFinal(h, WarmCast()), noErr);
  EXPECT_EQ(h.record().outRect.right, 300);
  EXPECT_EQ(FirstDifference(h.document(), Expected(original, WarmCast(), {0, 0, 200, 300})), "");
}

TEST(RenderFinal, AnEmptyFilterRectangleRequestsNothing) {
  HostOptions options;
  options.selection = VRect{10, 10, 10, 50};  // zero rows: the host falls back to the whole document
  Host h(Noise(64, 64, 3, 8), options);
  h.bigDocument().filterRect32 = VRect{10, 10, 10, 50};
  h.record().filterRect = Rect{10, 10, 10, 50};
  EXPECT_EQ(RunFinal(h, WarmCast()), noErr);
  EXPECT_TRUE(h.requests().empty());
}
