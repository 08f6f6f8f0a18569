// UI scripts as written (parsing and its messages), and the host's
// displayPixels: what it draws and how it places a document point in the
// dialog. The scripts played end to end are in cli_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dialog/dialog_template.h"
#include "host/display.h"
#include "host/ui/ui_script.h"
#include "tests/render_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/headless/headless_driver.h"
#endif

using host::UiAction;
using host::UiScript;
using host::UiStep;

namespace {

UiScript Parse(const std::string& text) {
  UiScript script;
  std::string error;
  EXPECT_TRUE(host::ParseUiScript(text, script, &error)) << error;
  return script;
}

std::string ParseError(const std::string& text) {
  UiScript script;
  std::string error;
  EXPECT_FALSE(host::ParseUiScript(text, script, &error)) << text;
  EXPECT_TRUE(script.steps.empty()) << text;
  return error;
}

}  // namespace

TEST(UiScript, ReadsStepsAcrossLinesSemicolonsQuotesAndComments) {
  const UiScript s = Parse(
      "# corrects the cast\n"
      "drag \"R Gain\" 137; type \"g gain (FINE)\" 5   # trailing comment\r\n"
      "\n"
      "set 42 1.5; double-click B Gain; clear 92\n"
      "click \"Show Original\"; click &Eyedropper; click 903\n"
      "press left 10, 20; move 30,40; release LEFT 30 40; press-client right -5,6\n"
      "pick 1,2,3,4; wheel -2; resize 800 600; leave; pump\n"
      "save-settings \"C:\\dir with space\\a;b#c.ksl\"; cancel-file-dialog\n"
      "screenshot shot.PNG\n"
      "ok\n");
  ASSERT_EQ(s.steps.size(), 21u);
  const UiStep& drag = s.steps[0];
  EXPECT_EQ(drag.action, UiAction::Drag);
  EXPECT_EQ(drag.row, 0);
  EXPECT_EQ(drag.x, 137);
  EXPECT_EQ(drag.line, 2);
  EXPECT_EQ(drag.source, "drag \"R Gain\" 137");
  EXPECT_EQ(s.steps[1].action, UiAction::Type);
  EXPECT_EQ(s.steps[1].row, 3);  // names ignore case
  EXPECT_EQ(s.steps[1].text, "5");
  EXPECT_EQ(s.steps[2].action, UiAction::Set);
  EXPECT_EQ(s.steps[2].row, 2);  // by the edit box's ID
  EXPECT_EQ(s.steps[2].line, 4);
  EXPECT_EQ(s.steps[3].row, 4);  // an unquoted name
  EXPECT_EQ(s.steps[4].row, 7);
  EXPECT_EQ(s.steps[5].control, kIdShowOriginal);
  EXPECT_EQ(s.steps[6].control, kIdEyedropper);  // the mnemonic '&' is no part of a name
  EXPECT_EQ(s.steps[7].control, kIdSaveSettings);
  const UiStep& press = s.steps[8];
  EXPECT_EQ(press.action, UiAction::Press);
  EXPECT_FALSE(press.right);
  EXPECT_FALSE(press.client);
  EXPECT_EQ(press.x, 10);
  EXPECT_EQ(press.y, 20);
  EXPECT_EQ(s.steps[10].action, UiAction::Release);
  EXPECT_EQ(s.steps[10].y, 40);
  EXPECT_TRUE(s.steps[11].client);
  EXPECT_TRUE(s.steps[11].right);
  EXPECT_EQ(s.steps[11].x, -5);
  EXPECT_EQ(s.steps[12].area.top, 1);
  EXPECT_EQ(s.steps[12].area.right, 4);
  EXPECT_EQ(s.steps[13].x, -2);
  EXPECT_EQ(s.steps[14].x, 800);
  EXPECT_EQ(s.steps[14].y, 600);
  // Quotes keep ';', '#' and backslashes of a Windows path.
  EXPECT_EQ(s.steps[17].text, "C:\\dir with space\\a;b#c.ksl");
  EXPECT_EQ(s.steps[18].action, UiAction::CancelFileDialog);
  EXPECT_EQ(s.steps[19].action, UiAction::Screenshot);
  EXPECT_EQ(s.steps[20].control, kIdOk);
  EXPECT_TRUE(s.EndsDialog());
  EXPECT_FALSE(Parse("drag \"R Gain\" 137").EndsDialog());
}

TEST(UiScript, SaysWhichLineIsWrongAndKeepsNothingOfIt) {
  struct Case {
    const char* script;
    const char* message;
  };
  const Case cases[] = {
      {"pump\nfrobnicate 3", "line 2: unknown step 'frobnicate'"},
      {"pump\n\ndrag \"Q Gain\" 5", "line 3: unknown control 'Q Gain'"},
      {"drag \"R Gain\" 1.5", "line 1: '1.5' is not a whole-number trackbar position"},
      {"drag 21", "line 1: 'drag' needs a control and a position"},
      {"click Help", "line 1: unknown button 'Help'"},
      {"click 21", "line 1: no button has the ID 21"},
      {"type 999 5", "no setting row has a control with the ID 999"},
      {"type \"R Gain\" \"\"", "nothing to type"},
      {"press middle 1,2", "the mouse button is 'left' or 'right'"},
      {"move 1", "expected 2 numbers, got '1'"},
      {"press left 1,x", "'x' is not a whole number"},
      {"pick 5,5,2,9", "TOP < BOTTOM and LEFT < RIGHT"},
      {"pick 1,2,3", "expected 4 numbers"},
      {"wheel 0", "takes -100 to 100 notches (not 0), not '0'"},
      {"wheel 1000000", "not '1000000'"},
      {"\xEF\xBB\xBFpump; frob", "line 1: unknown step 'frob'"},  // a byte-order mark is not a step
      {"resize 0 10", "'0' is not a whole number from 1"},
      {"screenshot shot.bmp", ".png, .tif or .tiff"},
      {"save-settings \"a.ksl", "line 1: a quote is not closed"},
      {"ok 5", "'ok' takes nothing after it"},
      {"pump; cancel; pump", "line 1: the dialog has closed; nothing can follow OK or Cancel"},
      {"move-client 1,2\nwheel-client 3", "line 2: unknown step 'wheel-client'"},
  };
  for (const Case& c : cases) {
    const std::string error = ParseError(c.script);
    EXPECT_NE(error.find(c.message), std::string::npos) << c.script << "\n  said: " << error;
  }
  // The offending step is quoted, so a message about a long --ui-steps line
  // still points at one step.
  EXPECT_NE(ParseError("pump; drag \"R Gain\" lots; ok").find("(in: drag \"R Gain\" lots)"),
            std::string::npos);
  // Appending to a finished script is refused too.
  UiScript finished = Parse("ok");
  std::string error;
  EXPECT_FALSE(host::ParseUiScript("pump", finished, &error));
  EXPECT_EQ(finished.steps.size(), 1u);
}

TEST(UiScript, NamesTheControlsOfTheDialogTemplate) {
  auto item = [](int id) -> const DialogItemTemplate* {
    for (int i = 0; i < kFilterDialogTemplate.itemCount; ++i)
      if (kFilterDialogTemplate.items[i].id == id) return &kFilterDialogTemplate.items[i];
    return nullptr;
  };
  auto plain = [](const char* text) {
    std::string s;
    for (const char* p = text; *p; ++p)
      if (*p != '&') s += *p;
    return s;
  };
  for (const host::UiButton& b : host::kUiButtons) {
    const DialogItemTemplate* t = item(b.id);
    ASSERT_NE(t, nullptr) << b.name;
    EXPECT_STREQ(t->windowClass, "Button");
    EXPECT_EQ(plain(t->text), b.name);
  }
  for (const host::UiRow& r : host::kUiRows) {
    ASSERT_NE(item(r.label), nullptr) << r.name;
    EXPECT_STREQ(item(r.label)->text, r.name);
    ASSERT_NE(item(r.trackbar), nullptr) << r.name;
    EXPECT_STREQ(item(r.trackbar)->windowClass, "msctls_trackbar32");
    ASSERT_NE(item(r.edit), nullptr) << r.name;
    EXPECT_STREQ(item(r.edit)->windowClass, "Edit");
  }
}

// --- displayPixels ------------------------------------------------------------

namespace {

// A pixel map over `pixels`: RGB interleaved, RGB planar, or one plane.
PSPixelMap Map(std::vector<uint8>& pixels, int32 width, int32 height, int32 mode, bool planar) {
  PSPixelMap m{};
  m.version = 1;
  m.bounds = VRect{0, 0, height, width};
  m.imageMode = mode;
  const bool rgb = mode == plugInModeRGBColor;
  m.colBytes = rgb && !planar ? 3 : 1;
  m.rowBytes = width * m.colBytes;
  m.planeBytes = rgb && !planar ? 1 : width * height;
  m.baseAddr = pixels.data();
  return m;
}

// Pixel (x, y) gets (x + 1, y + 1, x + y + 1), never black, in three planes
// or interleaved.
std::vector<uint8> Ramp(int32 width, int32 height, bool planar) {
  std::vector<uint8> p(size_t(width) * height * 3);
  for (int32 y = 0; y < height; ++y)
    for (int32 x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) {
        const uint8 v = uint8((c == 0 ? x : c == 1 ? y : x + y) + 1);
        p[planar ? size_t(c) * width * height + size_t(y) * width + x : (size_t(y) * width + x) * 3 + c] = v;
      }
  return p;
}

// Where displayPixels draws: a headless canvas, or a memory DC on Windows.
class Target {
 public:
  Target(int width, int height) : width_(width), height_(height) {
#ifdef _WIN32
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
    std::memset(bits_, 0, size_t(width) * height * 4);
#else
    // Guard rows above and below catch writes outside the canvas.
    memory_.assign(size_t(width) * (height + 2) * 3, 0xEE);
    canvas_ = HeadlessCanvas{kHeadlessCanvasMagic, width, height, width * 3,
                             memory_.data() + width * 3, 0, 0, RECT{0, 0, width, height}};
    for (int y = 0; y < height; ++y) std::memset(canvas_.rgb + y * width * 3, 0, size_t(width) * 3);
#endif
  }
  ~Target() {
#ifdef _WIN32
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
#endif
  }
  void* context() {
#ifdef _WIN32
    return dc_;
#else
    return &canvas_;
#endif
  }
  uint32 At(int x, int y) const {
#ifdef _WIN32
    GdiFlush();
    const uint8* p = static_cast<const uint8*>(bits_) + (size_t(y) * width_ + x) * 4;
    return (uint32(p[2]) << 16) | (uint32(p[1]) << 8) | p[0];
#else
    const uint8* p = canvas_.rgb + y * canvas_.stride + x * 3;
    return (uint32(p[0]) << 16) | (uint32(p[1]) << 8) | p[2];
#endif
  }
#ifndef _WIN32
  HeadlessCanvas& canvas() { return canvas_; }
  bool GuardsIntact() const {
    const size_t row = size_t(width_) * 3;
    for (size_t i = 0; i < row; ++i)
      if (memory_[i] != 0xEE || memory_[memory_.size() - 1 - i] != 0xEE) return false;
    return true;
  }
#endif

 private:
  int width_, height_;
#ifdef _WIN32
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  void* bits_ = nullptr;
#else
  std::vector<uint8> memory_;
  HeadlessCanvas canvas_{};
#endif
};

}  // namespace

TEST(DisplayPixels, DrawsInterleavedPlanarAndGreyMapsWhereAsked) {
  for (bool planar : {false, true}) {
    std::vector<uint8> pixels = Ramp(8, 6, planar);
    const PSPixelMap map = Map(pixels, 8, 6, plugInModeRGBColor, planar);
    Target t(40, 30);
    ASSERT_EQ(host::DrawPixelMap(&map, &map.bounds, 10, 20, t.context()), noErr);
    EXPECT_EQ(t.At(20, 10), 0x010101u) << planar;
    EXPECT_EQ(t.At(27, 15), 0x08060Du) << planar;
    EXPECT_EQ(t.At(28, 15), 0u);  // nothing beyond the map
    EXPECT_EQ(t.At(27, 16), 0u);

    // Part of the map: its top-left corner goes to (row, col).
    Target part(40, 30);
    const VRect inner{2, 3, 4, 5};
    ASSERT_EQ(host::DrawPixelMap(&map, &inner, 0, 0, part.context()), noErr);
    EXPECT_EQ(part.At(0, 0), 0x040306u);
    EXPECT_EQ(part.At(1, 1), 0x050408u);
    EXPECT_EQ(part.At(2, 0), 0u);
  }
  // Grey, and any other mode's first plane, in grey.
  for (int32 mode : {plugInModeGrayScale, plugInModeLabColor}) {
    std::vector<uint8> pixels = Ramp(8, 6, true);
    const PSPixelMap map = Map(pixels, 8, 6, mode, true);
    Target t(10, 10);
    ASSERT_EQ(host::DrawPixelMap(&map, nullptr, 1, 1, t.context()), noErr);
    EXPECT_EQ(t.At(7, 1), 0x070707u) << mode;
  }
  std::vector<uint8> pixels = Ramp(8, 6, false);
  PSPixelMap map = Map(pixels, 8, 6, plugInModeRGBColor, false);
  Target t(10, 10);
  EXPECT_EQ(host::DrawPixelMap(&map, nullptr, 0, 0, nullptr), paramErr);
  map.version = 0;
  EXPECT_EQ(host::DrawPixelMap(&map, nullptr, 0, 0, t.context()), paramErr);
  map.version = 3;
  map.depth = 16;
  EXPECT_EQ(host::DrawPixelMap(&map, nullptr, 0, 0, t.context()), paramErr);
  EXPECT_EQ(t.At(1, 1), 0u);
}

#ifndef _WIN32
TEST(DisplayPixels, HonoursTheCanvasOriginAndClipAndNeverWritesOutside) {
  std::vector<uint8> pixels = Ramp(8, 6, false);
  const PSPixelMap map = Map(pixels, 8, 6, plugInModeRGBColor, false);
  Target t(12, 10);
  HeadlessCanvas& c = t.canvas();
  c.originX = 2;  // client (0, 0) is canvas (2, 1)
  c.originY = 1;
  c.clip = RECT{0, 0, 6, 100};  // the clip reaches below the canvas
  ASSERT_EQ(host::DrawPixelMap(&map, nullptr, 5, 1, t.context()), noErr);
  EXPECT_EQ(t.At(3, 6), 0x010101u);  // map (0, 0)
  EXPECT_EQ(t.At(5, 9), 0x030406u);  // map (2, 3): the canvas's last row
  EXPECT_EQ(t.At(6, 6), 0u);         // clipped on the right
  EXPECT_TRUE(t.GuardsIntact());
  // Far outside, and negative positions: nothing, and no harm.
  ASSERT_EQ(host::DrawPixelMap(&map, nullptr, -4, -6, t.context()), noErr);
  EXPECT_EQ(t.At(0, 0), 0x050408u);  // map (4, 3)
  ASSERT_EQ(host::DrawPixelMap(&map, nullptr, 1000000, 2000000000, t.context()), noErr);
  EXPECT_TRUE(t.GuardsIntact());
  c.magic = 0;
  EXPECT_EQ(host::DrawPixelMap(&map, nullptr, 0, 0, t.context()), paramErr);
}

TEST(DisplayPixels, IsCountedAndAFailedCallDrawsNothing) {
  host::Host h(host::MakeDocument(8, 6, 3, 8));
  std::vector<uint8> pixels = Ramp(8, 6, false);
  const PSPixelMap map = Map(pixels, 8, 6, plugInModeRGBColor, false);
  Target t(10, 10);
  h.ledger().FailAt("displayPixels", 1);
  EXPECT_EQ(h.record().displayPixels(&map, &map.bounds, 0, 0, t.context()), memFullErr);
  EXPECT_EQ(t.At(7, 5), 0u);
  EXPECT_EQ(h.Displayed().paints, 0);
  EXPECT_EQ(h.record().displayPixels(&map, &map.bounds, 0, 0, t.context()), noErr);
  EXPECT_NE(t.At(7, 5), 0u);
  EXPECT_EQ(h.ledger().Count("displayPixels"), 2);
  EXPECT_EQ(h.Displayed().paints, 1);
}
#endif

TEST(DisplayPixels, PlacesDocumentPointsWhereThePreviewShowsThem) {
  host::DisplayedPreview view;
  int64 x = 0, y = 0;
  EXPECT_FALSE(host::ImageToClient(view, 0, 0, x, y));  // nothing painted yet

  // 100 %: a 300 x 200 window from (left 700, top 50) painted at (40, 30).
  view.paints = 1;
  view.fetchKnown = true;
  view.painted = VRect{30, 40, 230, 340};
  view.fetched = VRect{50, 700, 250, 1000};
  view.rate = 1;
  EXPECT_TRUE(host::ShowsActualPixels(view));
  ASSERT_TRUE(host::ImageToClient(view, 700, 50, x, y));
  EXPECT_EQ(x, 40);
  EXPECT_EQ(y, 30);
  ASSERT_TRUE(host::ImageToClient(view, 999, 249, x, y));
  EXPECT_TRUE(host::PaintedContains(view, x, y));
  ASSERT_TRUE(host::ImageToClient(view, 1000, 10, x, y));  // beyond: extrapolated
  EXPECT_EQ(x, 340);
  EXPECT_EQ(y, -10);
  EXPECT_FALSE(host::PaintedContains(view, x, y));

  // Sampled 1:3: a client pixel per three document pixels.
  view.rate = 3;
  EXPECT_FALSE(host::ShowsActualPixels(view));
  ASSERT_TRUE(host::ImageToClient(view, 2102, 152, x, y));
  EXPECT_EQ(x, 40);
  EXPECT_EQ(y, 30 + 0);
  ASSERT_TRUE(host::ImageToClient(view, 2105, 155, x, y));
  EXPECT_EQ(x, 41);

  // Fit: the whole 1000 x 500 document in a 200 x 100 map, first and last
  // pixels aligned.
  view.rate = 1;
  view.fetched = VRect{0, 0, 500, 1000};
  view.painted = VRect{0, 0, 100, 200};
  ASSERT_TRUE(host::ImageToClient(view, 999, 499, x, y));
  EXPECT_EQ(x, 199);
  EXPECT_EQ(y, 99);
  ASSERT_TRUE(host::ImageToClient(view, 500, 0, x, y));
  EXPECT_EQ(x, 100);
}

TEST(DisplayPixels, FindsThePreviewFetchBehindAPaintButNotTheEyedroppersRead) {
  host::Host h(host::MakeDocument(400, 300, 3, 8));
  FilterRecord& r = h.record();
  std::vector<uint8> pixels(size_t(60) * 40 * 3);
  PSPixelMap map = Map(pixels, 60, 40, plugInModeRGBColor, false);
  Target t(200, 200);
  void* target = t.context();
  auto request = [&](Rect in, Rect out, int32 rate) {
    r.inRect = in;
    r.outRect = out;
    r.inLoPlane = r.inHiPlane = 0;
    r.inputRate = rate << 16;
    ASSERT_EQ(r.advanceState(), noErr);
  };
  // The preview at 100 %, a 60 x 40 window; then the eyedropper reads an
  // area of the same size, in and out alike.
  request(Rect{10, 20, 50, 80}, Rect{0, 0, 0, 0}, 1);
  request(Rect{5, 5, 45, 65}, Rect{5, 5, 45, 65}, 1);
  ASSERT_EQ(r.displayPixels(&map, &map.bounds, 7, 9, target), noErr);
  host::DisplayedPreview shown = h.Displayed();
  ASSERT_TRUE(shown.fetchKnown);
  EXPECT_EQ(shown.rate, 1);
  EXPECT_EQ(shown.fetched.top, 10);
  EXPECT_EQ(shown.fetched.left, 20);
  EXPECT_EQ(shown.painted.top, 7);
  EXPECT_EQ(shown.painted.right, 69);

  // At 1:2 the eyedropper still reads at full resolution: the rate tells.
  request(Rect{30, 40, 70, 100}, Rect{0, 0, 0, 0}, 2);
  request(Rect{1, 1, 41, 61}, Rect{0, 0, 0, 0}, 1);
  r.inputRate = 2 << 16;  // the view's rate, as the plug-in restores it
  ASSERT_EQ(r.displayPixels(&map, &map.bounds, 7, 9, target), noErr);
  shown = h.Displayed();
  EXPECT_EQ(shown.rate, 2);
  EXPECT_EQ(shown.fetched.top, 30);

  // Fit mode: the whole document at rate 1, painted smaller.
  request(Rect{0, 0, 300, 400}, Rect{5, 5, 45, 65}, 1);
  r.inputRate = 1 << 16;
  ASSERT_EQ(r.displayPixels(&map, &map.bounds, 0, 0, target), noErr);
  EXPECT_EQ(h.Displayed().fetched.right, 400);
  EXPECT_EQ(h.Displayed().paints, 3);
}
