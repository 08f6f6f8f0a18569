// The preview's proxy: layout, fetching, panning and zooming through the
// host, without a window.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dialog/preview_proxy.h"
#include "dialog/preview_paint.h"
#include "dialog/preview_geometry.h"
#include "plugin/call_state.h"
#include "plugin/host_rects.h"
#include "plugin/parameters.h"
#include "render/render_preview.h"
#include "tests/render_support.h"
#include "tests/test_support.h"

using host::Document;
using host::Host;

namespace {

// The state a dialog works in: a bound call, tables, a fresh preview.
class PreviewCall {
 public:
  PreviewCall(Document d, int32 frameWidth, int32 frameHeight, host::HostOptions options = {})
      : host(std::move(d), options), scope(host) {
    ResetParameters(parameters);
    parameters.redGain = 0.8;
    parameters.blueGain = 1.25;
    gCallState = CallState{};
    gCallState.filterRecord = &host.record();
    gCallState.parameters = &parameters;
    gCallState.result = &result;
    gPreviewState = PreviewState{};
    gPreviewState.frameWidth = frameWidth;
    gPreviewState.frameHeight = frameHeight;
    gProxyViewState = ProxyViewState{};
  }
  ~PreviewCall() {
    ReleaseProxyBuffers();
    gCallState = CallState{};
    gProxyViewState = ProxyViewState{};
  }
  // The filtered proxy as the preview would show it.
  std::vector<uint8> Shown() {
    RenderPreview(parameters, host.record().imageMode, gPreviewState.proxySource.pixels,
                  gPreviewState.proxyWork.pixels, gPreviewState.proxyWidth, gPreviewState.proxyHeight);
    return Work();
  }
  std::vector<uint8> Work() const {
    const uint8* p = gPreviewState.proxyWork.pixels;
    return std::vector<uint8>(p, p + 3 * size_t(gPreviewState.proxyPlaneSize));
  }
  Host host;
  CallScope scope;
  FilterParameters parameters{};
  int16 result = 0;
};

Document Gradient(int32 w, int32 h, int16 planes = 3, int32 depth = 8) {
  Document d = host::MakeDocument(w, h, planes, depth);
  for (int32 y = 0; y < h; ++y)
    for (int32 x = 0; x < w; ++x)
      for (int p = 0; p < planes; ++p) {
        const uint32 v = uint32(x * 7 + y * 13 + p * 50);
        if (depth == 8) d.Set<uint8>(x, y, p, uint8(v));
        if (depth == 16) d.Set<uint16>(x, y, p, uint16((v * 97) % 32769));
        if (depth == 32) d.Set<float>(x, y, p, float(v % 256) / 255.0f);
      }
  return d;
}

}  // namespace

TEST(PreviewGeometry, FitsALargeDocumentAndStepsTheZoom) {
  PreviewCall call(host::MakeDocument(4000, 3000, 1, 8), 400, 400);
  gProxyViewState.zoomLevel = 0;
  RebuildProxy();
  EXPECT_EQ(gPreviewState.proxyWidth, 400);
  EXPECT_EQ(gPreviewState.proxyHeight, 300);
  EXPECT_EQ(FitZoomFactor(call.host.record(), gPreviewState), 11);
  const VRect s = ScaledFilterRect(call.host.record(), 11);
  EXPECT_EQ(s.right - s.left, 363);
  EXPECT_EQ(s.bottom - s.top, 272);

  const RECT frame{0, 0, 400, 400};
  EXPECT_FALSE(StepZoom(frame, +1));  // zooming out in fit mode changes nothing
  EXPECT_TRUE(StepZoom(frame, -1));   // one step in from fit: level 10
  EXPECT_EQ(gProxyViewState.zoomLevel, 10);
  EXPECT_EQ(call.host.record().inputRate, 10 << 16);
  EXPECT_TRUE(StepZoom(frame, +1));   // level 11 fits the frame strictly: fit
  EXPECT_EQ(gProxyViewState.zoomLevel, 0);
  gProxyViewState.zoomLevel = 1;
  EXPECT_FALSE(StepZoom(frame, -1));  // no magnification beyond 100 %
  EXPECT_EQ(call.result, noErr);
}

TEST(PreviewGeometry, SmallDocumentsShowAtFullSize) {
  {
    PreviewCall call(host::MakeDocument(300, 200, 3, 8), 400, 400);
    LayoutFitView(call.host.record(), gPreviewState);
    EXPECT_EQ(gPreviewState.proxyWidth, 300);
    EXPECT_EQ(gPreviewState.proxyHeight, 200);
  }
  {
    // Equal to the frame in one direction: the scaling branch, same size.
    PreviewCall call(host::MakeDocument(400, 200, 3, 8), 400, 400);
    LayoutFitView(call.host.record(), gPreviewState);
    EXPECT_EQ(gPreviewState.proxyWidth, 400);
    EXPECT_EQ(gPreviewState.proxyHeight, 200);
  }
  const PixelRect frame{100, 50, 500, 450};
  const PixelRect image = PreviewImageRectFrom(frame, 10, 20, 300, 200);
  EXPECT_EQ(image.left, 140);  // centred in the frame, in client coordinates
  EXPECT_EQ(image.top, 130);
  EXPECT_EQ(image.Width(), 300);
}

TEST(PreviewGeometry, ClampsTheZoomedWindowToTheDocument) {
  PreviewCall call(host::MakeDocument(1000, 800, 3, 8), 300, 200);
  ProxyViewState& v = gProxyViewState;
  v.zoomLevel = 2;  // 500 x 400 scaled
  LayoutZoomedView(call.host.record(), gPreviewState, v);
  EXPECT_EQ(InRect(call.host.record()).left, 100);  // centred: (500 - 300) / 2
  EXPECT_EQ(InRect(call.host.record()).top, 100);
  v.offsetH = -500;
  v.offsetV = 999;
  ClampZoomedView(call.host.record(), gPreviewState, v);
  EXPECT_EQ(v.offsetH, -100);
  EXPECT_EQ(v.offsetV, 100);
  EXPECT_EQ(InRect(call.host.record()).left, 0);
  EXPECT_EQ(InRect(call.host.record()).bottom, 400);
}

TEST(PreviewGeometry, FocalPointAndOffsetsConvertBothWays) {
  PreviewCall call(host::MakeDocument(1001, 777, 3, 8), 300, 200);
  for (int32 level : {1, 2, 3, 7}) {
    for (int32 offset : {-40, -1, 0, 5, 33}) {
      gProxyViewState.zoomLevel = level;
      gProxyViewState.offsetH = offset;
      gProxyViewState.offsetV = -offset;
      OffsetsToFocalPoint(call.host.record(), gProxyViewState);
      FocalPointToOffsets(call.host.record(), gProxyViewState);
      EXPECT_EQ(gProxyViewState.offsetH, offset) << level;
      EXPECT_EQ(gProxyViewState.offsetV, -offset) << level;
    }
  }
}

TEST(PreviewProxy, ConvertsDeepSamplesToBytes) {
  Document d16 = host::MakeDocument(4, 1, 1, 16);
  d16.Set<uint16>(0, 0, 0, 32768);
  d16.Set<uint16>(1, 0, 0, 16384);
  d16.Set<uint16>(2, 0, 0, 40000);  // beyond the host's range: stops at 255
  PreviewCall c16(d16, 100, 100);
  RebuildProxy();
  EXPECT_EQ(gPreviewState.proxySource.pixels[0], 255);
  EXPECT_EQ(gPreviewState.proxySource.pixels[1], 127);
  EXPECT_EQ(gPreviewState.proxySource.pixels[2], 255);
  EXPECT_EQ(gPreviewState.proxySource.pixels[3], 0);
  ReleaseProxyBuffers();
  EXPECT_TRUE(IsBalanced(c16.host));

  Document d32 = host::MakeDocument(4, 1, 1, 32);
  d32.Set<float>(0, 0, 0, 1.5f);
  d32.Set<float>(1, 0, 0, std::numeric_limits<float>::quiet_NaN());
  d32.Set<float>(2, 0, 0, 1.0f);
  d32.Set<float>(3, 0, 0, -2.0f);
  PreviewCall c32(d32, 100, 100);
  RebuildProxy();
  EXPECT_EQ(gPreviewState.proxySource.pixels[0], 255);
  EXPECT_EQ(gPreviewState.proxySource.pixels[1], 0);
  EXPECT_EQ(gPreviewState.proxySource.pixels[2], 255);
  EXPECT_EQ(gPreviewState.proxySource.pixels[3], 0);
}

TEST(PreviewProxy, FitModeResamplesWithAlignedEnds) {
  Document d = Gradient(800, 400);
  PreviewCall call(d, 200, 200);
  gProxyViewState.zoomLevel = 0;
  RebuildProxy();
  ASSERT_EQ(gPreviewState.proxyWidth, 200);
  ASSERT_EQ(gPreviewState.proxyHeight, 100);
  // The corners of the proxy are the corners of the document.
  const uint8* red = gPreviewState.proxySource.pixels;
  EXPECT_EQ(red[0], d.Get<uint8>(0, 0, 0));
  EXPECT_EQ(red[199], d.Get<uint8>(799, 0, 0));
  EXPECT_EQ(red[99 * 200 + 199], d.Get<uint8>(799, 399, 0));
  EXPECT_EQ(call.host.requests().size(), 3u);  // one request per colour plane
}

TEST(PreviewProxy, APanShowsExactlyWhatAFreshViewWould) {
  Document d = Gradient(700, 500);
  const int32 shifts[][2] = {{13, -7}, {-40, 25}, {0, 3}, {500, 0}, {-900, -900}};
  for (const auto& shift : shifts) {
    PreviewCall panned(d, 160, 120);
    gProxyViewState.zoomLevel = 1;
    RebuildProxy();
    panned.Shown();
    PanPreview(shift[0], shift[1]);
    ASSERT_EQ(panned.result, noErr);
    const std::vector<uint8> afterPan = panned.Work();
    const ProxyViewState view = gProxyViewState;
    ReleaseProxyBuffers();
    EXPECT_TRUE(IsBalanced(panned.host));

    PreviewCall fresh(d, 160, 120);
    gProxyViewState = view;
    RebuildProxy();
    EXPECT_EQ(afterPan, fresh.Shown()) << "shift " << shift[0] << "," << shift[1];
  }
}

TEST(PreviewProxy, APanAgainstTheEdgeFetchesNothing) {
  PreviewCall call(Gradient(300, 300), 100, 100);
  gProxyViewState.zoomLevel = 1;
  gProxyViewState.offsetH = -1000;
  RebuildProxy();  // clamped to the left edge
  call.Shown();
  const size_t requests = call.host.requests().size();
  PanPreview(-10, 0);
  EXPECT_EQ(call.host.requests().size(), requests);
  EXPECT_EQ(gProxyViewState.offsetH, -100);
}

TEST(PreviewProxy, AZoomedSelectionPreviewsItsOwnPixels) {
  Document d = Gradient(600, 400);
  host::HostOptions options;
  options.selection = VRect{100, 200, 300, 500};
  PreviewCall call(d, 400, 400, options);
  gProxyViewState.zoomLevel = 1;
  RebuildProxy();
  ASSERT_EQ(gPreviewState.proxyWidth, 300);
  ASSERT_EQ(gPreviewState.proxyHeight, 200);
  EXPECT_EQ(gPreviewState.proxySource.pixels[0], d.Get<uint8>(200, 100, 0));
}

TEST(PreviewProxy, AFailedFetchIsKeptInTheResultWord) {
  PreviewCall call(Gradient(300, 300), 100, 100);
  call.host.ledger().FailAt("advanceState", 2);
  gProxyViewState.zoomLevel = 1;
  RebuildProxy();
  EXPECT_EQ(call.result, memFullErr);
  EXPECT_EQ(call.host.requests().size(), 1u);
}
