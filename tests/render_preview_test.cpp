#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "render/process_band.h"
#include "render/interleaved_buffer.h"
#include "render/render_preview.h"
#include "tests/render_support.h"
#include "tests/test_support.h"

using host::Document;
using host::Host;
using host::MakeDocument;

namespace {

// The document's planes one after another, as the preview keeps its proxy.
std::vector<uint8> Planar(const Document& d) {
  std::vector<uint8> out(size_t(d.width) * d.height * d.planes);
  const size_t planeSize = size_t(d.width) * d.height;
  for (int p = 0; p < d.planes; ++p)
    for (int32 y = 0; y < d.height; ++y)
      for (int32 x = 0; x < d.width; ++x)
        out[p * planeSize + size_t(y) * d.width + x] = d.Get<uint8>(x, y, p);
  return out;
}

}  // namespace

TEST(RenderPreview, ShowsExactlyTheFinalRendersPixels) {
  Document original = MakeDocument(123, 77, 3, 8);
  FillNoise(original, 11);
  Host h(original);
  ASSERT_EQ(RunFinal(h, WarmCast()), noErr);

  const std::vector<uint8> source = Planar(original);
  std::vector<uint8> work(source.size(), 0);
  FilterParameters p = WarmCast();
  EXPECT_EQ(RenderPreview(p, plugInModeRGBColor, source.data(), work.data(), 123, 77), 0);
  EXPECT_EQ(work, Planar(h.document()));
}

TEST(RenderPreview, GreyProxiesUseTheSinglePlaneRuleAndLabStaysAsItIs) {
  Document grey = MakeDocument(50, 40, 1, 8);
  FillNoise(grey, 4);
  std::vector<uint8> source = Planar(grey), work(source.size());
  FilterParameters p = WarmCast();
  RenderPreview(p, plugInModeGray16, source.data(), work.data(), 50, 40);
  EXPECT_EQ(work, Planar(Expected(grey, WarmCast(), {0, 0, 40, 50})));

  Document lab = MakeDocument(50, 40, 3, 8);
  FillNoise(lab, 5);
  source = Planar(lab);
  work.assign(source.size(), 0);
  RenderPreview(p, plugInModeLab48, source.data(), work.data(), 50, 40);
  EXPECT_EQ(work, source);
}

TEST(RenderPreview, WithoutAWorkingBufferNothingHappens) {
  FilterParameters p = WarmCast();
  std::vector<uint8> source(300, 7);
  EXPECT_EQ(RenderPreview(p, plugInModeRGBColor, source.data(), nullptr, 10, 10), 0);
}

TEST(RenderPreview, APanFiltersOnlyTheUncoveredStrip) {
  const int32 w = 60, h = 40;
  for (int16 mode : {plugInModeRGBColor, plugInModeGrayScale}) {
    Document d = MakeDocument(w, h, mode == plugInModeGrayScale ? 1 : 3, 8);
    FillNoise(d, 9);
    const std::vector<uint8> source = Planar(d);
    std::vector<uint8> full(source.size());
    FilterParameters p = WarmCast();
    RenderPreview(p, mode, source.data(), full.data(), w, h);

    // Shifts one way and the other, and larger than the whole proxy.
    const int32 shifts[][2] = {{7, -5}, {-3, 4}, {0, 9}, {70, 0}, {-100, -100}, {0, 0}};
    for (const auto& shift : shifts) {
      const int32 dx = shift[0], dy = shift[1];
      std::vector<uint8> target(source.size(), 0xEE);
      RenderExposedPreview(mode, source.data(), target.data(), dx, dy, w, h);
      const size_t planeSize = size_t(w) * h;
      for (int p2 = 0; p2 < d.planes; ++p2)
        for (int32 y = 0; y < h; ++y)
          for (int32 x = 0; x < w; ++x) {
            const size_t at = p2 * planeSize + size_t(y) * w + x;
            const bool exposed = x >= w - dx || x < -dx || y >= h - dy || y < -dy;
            ASSERT_EQ(target[at], exposed ? full[at] : 0xEE)
                << "mode " << mode << " shift " << dx << "," << dy << " at " << x << "," << y;
          }
    }
  }
}

TEST(RenderPreview, APlanarJobWithoutPlaneStrideTouchesNothing) {
  MessageCapture capture;
  std::vector<uint8> data(30, 42);
  TransformCoefficients k;
  BandJob job;
  job.data = data.data();
  job.rowBytes = 10;
  job.endRow = 1;
  job.endColumn = 10;
  job.interleaved = false;
  job.planeStride = -10;
  job.coefficients = &k;
  ProcessBand(job);
  ASSERT_EQ(capture.messages().size(), 1u);
  EXPECT_EQ(capture.messages()[0].text, "Verdaline error (planebytes <= 0).");
  EXPECT_EQ(data, std::vector<uint8>(30, 42));
}

TEST(InterleavedBuffer, InterleavesThreePlanesIntoRowsOfThreeBytes) {
  Host h(MakeDocument(4, 4, 3, 8));
  std::vector<uint8> planar(15000);
  for (size_t i = 0; i < planar.size(); ++i) planar[i] = uint8(i % 251);
  InterleavedBuffer b = MakeInterleavedBuffer(&h.record(), 100, 100, 15000, planar.data());
  ASSERT_EQ(b.error, 0);
  EXPECT_EQ(b.rows, 50);
  EXPECT_EQ(b.rowBytes, 300);
  ASSERT_NE(b.pixels, nullptr);
  // Pixel (x=7, y=3): red from plane 0, green from plane 1, blue from plane 2.
  const uint8* px = b.pixels + 3 * 300 + 7 * 3;
  EXPECT_EQ(px[0], planar[3 * 100 + 7]);
  EXPECT_EQ(px[1], planar[5000 + 3 * 100 + 7]);
  EXPECT_EQ(px[2], planar[10000 + 3 * 100 + 7]);
  EXPECT_EQ(h.buffers().LiveCount(), 1);
  FreeInterleavedBuffer(&h.record(), b);
  EXPECT_TRUE(IsBalanced(h));
}

TEST(InterleavedBuffer, AFailedAllocationIsReportedAndDrawsNothing) {
  Host h(MakeDocument(4, 4, 3, 8));
  h.ledger().FailAt("allocateProc", 1);
  MessageCapture capture;
  std::vector<uint8> planar(300);
  InterleavedBuffer b = MakeInterleavedBuffer(&h.record(), 10, 10, 300, planar.data());
  EXPECT_EQ(b.error, memFullErr);
  EXPECT_EQ(b.pixels, nullptr);
  ASSERT_EQ(capture.messages().size(), 1u);
  EXPECT_EQ(capture.messages()[0].text, "Verdaline: Error making interleaved buffer. Code: -108");
  FreeInterleavedBuffer(&h.record(), b);
  EXPECT_TRUE(IsBalanced(h));
}
