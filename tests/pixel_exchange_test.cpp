// The bundled host's advanceState: every later render test trusts it.
#include <gtest/gtest.h>

#include "tests/render_support.h"
#include "tests/test_support.h"

using host::Document;
using host::Host;
using host::HostOptions;

TEST(PixelExchange, DeliversEveryNthPixelAtAnIntegralRate) {
  Document d = host::MakeDocument(20, 10, 3, 16);
  FillNoise(d, 2);
  HostOptions options;
  options.rowPadding = 4;
  Host h(d, options);
  FilterRecord& r = h.record();
  r.inRect = Rect{1, 2, 4, 6};  // scaled coordinates at rate 2
  r.inLoPlane = 1;
  r.inHiPlane = 2;
  r.inputRate = 2 << 16;
  ASSERT_EQ(r.advanceState(), noErr);
  // Pointers in the packed record may be misaligned: copy, never bind.
  const uint8* base = static_cast<const uint8*>(r.inData);
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(r.inRowBytes, 4 * 2 * 2 + 4);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x)
      for (int p = 0; p < 2; ++p) {
        uint16 v;
        std::memcpy(&v, base + y * r.inRowBytes + (x * 2 + p) * 2, 2);
        ASSERT_EQ(v, d.Get<uint16>((2 + x) * 2, (1 + y) * 2, 1 + p));
      }
}

TEST(PixelExchange, WritesTheOutputBackAtTheNextRequest) {
  Document d = host::MakeDocument(8, 8, 3, 8);
  Host h(d);
  FilterRecord& r = h.record();
  r.outRect = Rect{2, 2, 4, 4};
  r.outLoPlane = 0;
  r.outHiPlane = 2;
  r.inHiPlane = -1;  // no input planes
  ASSERT_EQ(r.advanceState(), noErr);
  const void* in = r.inData;
  EXPECT_EQ(in, nullptr);
  std::memset(r.outData, 200, size_t(r.outRowBytes) * 2);
  EXPECT_EQ(h.document().Get<uint8>(2, 2, 0), 0);
  r.outRect = Rect{0, 0, 0, 0};
  ASSERT_EQ(r.advanceState(), noErr);
  EXPECT_EQ(h.document().Get<uint8>(2, 2, 0), 200);
  EXPECT_EQ(h.document().Get<uint8>(3, 3, 2), 200);
  EXPECT_EQ(h.document().Get<uint8>(4, 4, 0), 0);
}

TEST(PixelExchange, RefusesInvertedAndAbsurdRectangles) {
  Host h(host::MakeDocument(8, 8, 3, 8));
  FilterRecord& r = h.record();
  r.inRect = Rect{5, 5, 2, 8};
  r.inHiPlane = 2;
  EXPECT_EQ(r.advanceState(), paramErr);
  r.inRect = Rect{0, 0, 32767, 32767};
  r.bigDocumentData->PluginUsing32BitCoordinates = 1;
  r.bigDocumentData->inRect32 = VRect{0, 0, 2000000, 2000000};
  EXPECT_EQ(r.advanceState(), memFullErr);
}
