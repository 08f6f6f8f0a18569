// The bundled host is the instrument every later test reads, so its own
// accounting has to be right: a leak it does not see is a leak that ships.
#include <gtest/gtest.h>

#include <cstring>

#include "host/host.h"
#include "tests/test_support.h"

using host::Host;
using host::MakeDocument;

TEST(HostAccounting, HandlesAreCountedFromNewToDispose) {
  Host h(MakeDocument(4, 4, 3, 8));
  HandleProcs* procs = h.record().handleProcs;
  Handle a = procs->newProc(96);
  ASSERT_NE(a, nullptr);
  Ptr p = procs->lockProc(a, true);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p, *a);  // a handle is a pointer to its master pointer
  std::memset(p, 0x5a, 96);
  EXPECT_EQ(procs->getSizeProc(a), 96);
  EXPECT_FALSE(h.Balanced());
  procs->unlockProc(a);
  EXPECT_FALSE(h.Balanced());  // still alive, and not one the host keeps
  procs->disposeProc(a);
  EXPECT_TRUE(IsBalanced(h));
  EXPECT_EQ(h.handles().Created(), 1);
  EXPECT_EQ(h.handles().Disposed(), 1);
}

TEST(HostAccounting, TheTwoPluginHandlesAreTheHostsToKeep) {
  Host h(MakeDocument(4, 4, 3, 8));
  HandleProcs* procs = h.record().handleProcs;
  h.record().parameters = procs->newProc(96);
  h.dataSlot() = reinterpret_cast<intptr_t>(procs->newProc(1));
  EXPECT_TRUE(IsBalanced(h));
  procs->lockProc(h.record().parameters, true);
  EXPECT_FALSE(h.Balanced());
  procs->unlockProc(h.record().parameters);
  EXPECT_TRUE(IsBalanced(h));
}

TEST(HostAccounting, MisusedHandlesAreRefusedAndRecorded) {
  Host h(MakeDocument(4, 4, 3, 8));
  HandleProcs* procs = h.record().handleProcs;
  Handle a = procs->newProc(8);
  procs->disposeProc(a);
  EXPECT_EQ(procs->lockProc(a, true), nullptr);  // disposed
  char bogus[16];
  Handle stranger = reinterpret_cast<Handle>(bogus);
  EXPECT_EQ(procs->lockProc(stranger, true), nullptr);
  procs->unlockProc(nullptr);
  procs->disposeProc(stranger);
  Handle b = procs->newProc(8);
  procs->unlockProc(b);  // never locked
  procs->disposeProc(b);
  EXPECT_EQ(h.handles().Misuse().size(), 5u);
  EXPECT_FALSE(h.Balanced());
}

TEST(HostAccounting, BuffersAreCountedFromAllocateToFree) {
  Host h(MakeDocument(4, 4, 3, 8));
  BufferProcs* procs = h.record().bufferProcs;
  BufferID id = nullptr;
  ASSERT_EQ(procs->allocateProc(1000, &id), noErr);
  ASSERT_NE(id, nullptr);
  Ptr p = procs->lockProc(id, true);
  ASSERT_NE(p, nullptr);
  std::memset(p, 1, 1000);
  EXPECT_EQ(h.buffers().LockedCount(), 1);
  procs->unlockProc(id);
  EXPECT_FALSE(h.Balanced());
  procs->freeProc(id);
  EXPECT_TRUE(IsBalanced(h));
  // Freed and unknown IDs are refused, not dereferenced.
  EXPECT_EQ(procs->lockProc(id, true), nullptr);
  EXPECT_EQ(procs->lockProc(reinterpret_cast<BufferID>(&h), true), nullptr);
  procs->freeProc(id);
  EXPECT_EQ(h.buffers().Misuse().size(), 3u);
}

TEST(HostAccounting, BuffersBeyondTheSpaceAreRefused) {
  Host h(MakeDocument(4, 4, 3, 8));
  h.buffers().SetSpace(4096);
  BufferID id = reinterpret_cast<BufferID>(&h);
  EXPECT_EQ(h.record().bufferProcs->allocateProc(4097, &id), memFullErr);
  EXPECT_EQ(id, nullptr);
  EXPECT_EQ(h.record().bufferProcs->allocateProc(-1, &id), paramErr);
  EXPECT_TRUE(h.buffers().LiveCount() == 0);
}

TEST(HostAccounting, AnyCallbackCanBeMadeToFailAtItsKthCall) {
  Host h(MakeDocument(4, 4, 3, 8));
  h.ledger().FailAt("newProc", 2);
  HandleProcs* procs = h.record().handleProcs;
  Handle a = procs->newProc(4);
  Handle b = procs->newProc(4);
  Handle c = procs->newProc(4);
  EXPECT_NE(a, nullptr);
  EXPECT_EQ(b, nullptr);
  EXPECT_NE(c, nullptr);
  EXPECT_EQ(h.ledger().Count("newProc"), 3);
  EXPECT_EQ(h.ledger().FailuresInjected(), 1);
  h.ledger().FailFrom("handle.lockProc", 1);
  EXPECT_EQ(procs->lockProc(a, true), nullptr);
  EXPECT_EQ(procs->lockProc(c, true), nullptr);
  procs->disposeProc(a);
  procs->disposeProc(c);
  EXPECT_TRUE(IsBalanced(h));
}

TEST(HostAccounting, TheRecordDescribesTheDocument) {
  Host h(MakeDocument(640, 480, 3, 16));
  FilterRecord& r = h.record();
  EXPECT_EQ(r.imageMode, plugInModeRGB48);
  EXPECT_EQ(r.planes, 3);
  EXPECT_EQ(r.depth, 16);
  EXPECT_EQ(r.filterRect.bottom, 480);
  EXPECT_EQ(r.filterRect.right, 640);
  // Pointers in the packed record may sit on 4-byte boundaries: copy them
  // out rather than bind references to them.
  BigDocumentStruct* big = r.bigDocumentData;
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->filterRect32.right, 640);
  EXPECT_EQ(big->PluginUsing32BitCoordinates, 0);
  EXPECT_EQ(r.inputRate, kFixedOne);
  void* platform = r.platformData;
  ASSERT_NE(platform, nullptr);
  EXPECT_EQ(h.Call([](int16, void* rec, intptr_t*, int16* result) {
              *result = static_cast<AboutRecord*>(rec)->platformData ? 7 : 8;
            }, filterSelectorAbout),
            7);
}

TEST(HostAccounting, ASelectionAndLargeDocumentsKeepTheir32BitForm) {
  host::HostOptions options;
  options.selection = VRect{10, 20, 30, 40};
  Host small(MakeDocument(64, 64, 1, 8), options);
  EXPECT_EQ(small.record().filterRect.top, 10);
  EXPECT_EQ(small.record().filterRect.left, 20);
  EXPECT_EQ(small.record().imageMode, plugInModeGrayScale);

  // Past 32767 pixels only the 32-bit rectangle can say where it ends.
  host::Document wide;
  wide.width = 40000;
  wide.height = 2;
  wide.planes = 1;
  wide.depth = 8;
  wide.imageMode = plugInModeGrayScale;
  Host big(wide);
  EXPECT_EQ(big.record().filterRect.right, 32767);
  EXPECT_EQ(big.record().bigDocumentData->filterRect32.right, 40000);
  EXPECT_EQ(Host::Active(), &big);
}

TEST(HostAccounting, ModesFollowPlanesAndDepth) {
  EXPECT_EQ(host::ModeFor(1, 8), plugInModeGrayScale);
  EXPECT_EQ(host::ModeFor(1, 16), plugInModeGray16);
  EXPECT_EQ(host::ModeFor(1, 32), plugInModeGray32);
  EXPECT_EQ(host::ModeFor(3, 32), plugInModeRGB96);
  EXPECT_EQ(host::ModeFor(4, 16), plugInModeCMYK64);
}
