#include <gtest/gtest.h>

#include <cstring>

#include "host/host.h"
#include "render/transfer_tables.h"
#include "tests/test_support.h"

namespace {

void Build(TransferTables& t, const FilterRecord* record) {
  AllocateTransferTables(t, record);
  BuildSrgbToLinearTable(t);
  BuildLinearToSrgbTable(t);
}

uint64_t Fnv1a(const void* data, size_t bytes, uint64_t h = 1469598103934665603ull) {
  const uint8* p = static_cast<const uint8*>(data);
  for (size_t i = 0; i < bytes; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

}  // namespace

TEST(TransferTables, LiveInTwoHostBuffersForTheCallAndAreGivenBack) {
  host::Host h(host::MakeDocument(8, 8, 3, 32));
  TransferTables t;
  Build(t, &h.record());
  EXPECT_NE(t.cspaceBufferID_LUT2, nullptr);
  EXPECT_NE(t.cspaceBufferID_LUT1, nullptr);
  EXPECT_EQ(h.buffers().LiveCount(), 2);
  EXPECT_EQ(h.buffers().LockedCount(), 2);
  // LUT2 (sRGB to linear) is allocated first, at 16388 bytes.
  EXPECT_EQ(h.ledger().Count("allocateProc"), 2);
  ReleaseTransferTables(t);
  EXPECT_EQ(t.cspaceBufferID_LUT2, nullptr);
  EXPECT_EQ(t.srgbToLinear, nullptr);
  EXPECT_EQ(t.linearToSrgb, nullptr);
  EXPECT_TRUE(IsBalanced(h));
  EXPECT_EQ(h.buffers().Freed(), 2);
}

TEST(TransferTables, EndPointsLandOnTheScale) {
  TransferTables t;
  Build(t, nullptr);
  EXPECT_EQ(t.srgbToLinear[0], 0.0f);
  EXPECT_NEAR(t.srgbToLinear[4080], 1.0f, 2e-7f);  // x = 255
  EXPECT_GT(t.srgbToLinear[4096], 1.0f);           // slightly above 1 past 255
  EXPECT_EQ(t.linearToSrgb[0], 0.0f);
  EXPECT_NEAR(t.linearToSrgb[4096], 255.0f, 3e-5f);  // a = 1
  EXPECT_GT(t.linearToSrgb[4097], 255.0f);
  for (int i = 1; i < kSrgbToLinearEntries; ++i) ASSERT_GT(t.srgbToLinear[i], t.srgbToLinear[i - 1]);
  for (int i = 1; i < kLinearToSrgbEntries; ++i) ASSERT_GT(t.linearToSrgb[i], t.linearToSrgb[i - 1]);
  // The two curves are inverse to each other at mid-scale.
  EXPECT_NEAR(LookUpLinearToSrgb(t, LookUpSrgbToLinear(t, 128.0f)), 128.0f, 0.01f);
  ReleaseTransferTables(t);
}

TEST(TransferTables, EveryPlatformBuildsTheSameBits) {
  // The Windows modules and the native build must agree to the bit, or a
  // 32-bit document renders differently depending on the host's platform.
  TransferTables t;
  Build(t, nullptr);
  uint64_t h = Fnv1a(t.srgbToLinear, kSrgbToLinearBytes);
  h = Fnv1a(t.linearToSrgb, kLinearToSrgbBytes, h);
  EXPECT_EQ(h, 0x628512cda7c7866eull) << std::hex << h;
  ReleaseTransferTables(t);
}

TEST(TransferTables, AHostWithoutBufferProcsStillGetsTables) {
  host::HostOptions options;
  options.offerBufferProcs = false;
  host::Host h(host::MakeDocument(8, 8, 3, 32), options);
  TransferTables t;
  Build(t, &h.record());
  EXPECT_EQ(t.cspaceBufferID_LUT2, nullptr);
  EXPECT_EQ(t.cspaceBufferID_LUT1, nullptr);
  ASSERT_NE(t.srgbToLinear, nullptr);
  ASSERT_NE(t.linearToSrgb, nullptr);
  EXPECT_NEAR(t.srgbToLinear[4080], 1.0f, 2e-7f);
  ReleaseTransferTables(t);
  EXPECT_TRUE(IsBalanced(h));
}

TEST(TransferTables, AFailedAllocationFallsBackAndLeaksNothing) {
  for (const char* callback : {"allocateProc", "buffer.lockProc"}) {
    for (int k = 1; k <= 2; ++k) {
      host::Host h(host::MakeDocument(8, 8, 3, 32));
      h.ledger().FailAt(callback, k);
      TransferTables t;
      Build(t, &h.record());
      ASSERT_NE(t.srgbToLinear, nullptr) << callback << " " << k;
      ASSERT_NE(t.linearToSrgb, nullptr) << callback << " " << k;
      EXPECT_NEAR(t.linearToSrgb[4096], 255.0f, 3e-5f);
      ReleaseTransferTables(t);
      EXPECT_TRUE(IsBalanced(h)) << callback << " " << k;
    }
  }
}

TEST(TransferTables, ZeroCountsWithMembersSetAreUsedAsTheyAre) {
  host::Host h(host::MakeDocument(8, 8, 3, 32));
  h.record().bufferProcs->numBufferProcs = 0;
  h.record().bufferProcs->bufferProcsVersion = 0;
  TransferTables t;
  Build(t, &h.record());
  EXPECT_NE(t.cspaceBufferID_LUT1, nullptr);
  ReleaseTransferTables(t);
  EXPECT_TRUE(IsBalanced(h));
}

TEST(TransferTables, AMissingMemberMeansNoBufferProcs) {
  host::Host h(host::MakeDocument(8, 8, 3, 32));
  h.record().bufferProcs->freeProc = nullptr;  // could never give them back
  TransferTables t;
  Build(t, &h.record());
  EXPECT_EQ(t.cspaceBufferID_LUT2, nullptr);
  EXPECT_NE(t.srgbToLinear, nullptr);
  ReleaseTransferTables(t);
  EXPECT_EQ(h.buffers().Allocated(), 0);
}

TEST(TransferTables, ATableLeftOverFromAnEarlierCallIsReported) {
  MessageCapture capture;
  TransferTables t;
  t.cspaceBufferID_LUT2 = reinterpret_cast<BufferID>(&t);  // never released
  host::Host h(host::MakeDocument(8, 8, 3, 32));
  Build(t, &h.record());
  ASSERT_EQ(capture.messages().size(), 1u);
  EXPECT_EQ(capture.messages()[0].text, "(Verdaline)Internal error: cspaceBufferID_LUT2 already created.");
  EXPECT_EQ(capture.messages()[0].caption, "Verdaline");
  EXPECT_NE(t.srgbToLinear, nullptr);  // allocated again all the same
  ReleaseTransferTables(t);
  EXPECT_TRUE(IsBalanced(h));
}
