// The headless window system's windows as the dialog relies on them:
// geometry, sizing, painting and erasing, posted messages, stale handles, and
// the driver table the native module exports. Windows builds run the real
// window system instead.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "dialog/dialog_template.h"
#include "host/plugin_module.h"
#include "platform/headless/driver_api.h"
#include "platform/mouse_tracking.h"
#include "platform/win32.h"
#include "tests/test_support.h"
#include "tests/headless_dialog_support.h"

TEST(HeadlessDialog, GeometryFollowsDialogUnitsAndTheFrame) {
  TestDialog t;
  t.play = [&](HWND dialog) {
    RECT window{}, client{}, control{};
    GetWindowRect(dialog, &window);
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, 663);   // 442 dialog units of 6/4 px
    EXPECT_EQ(client.bottom, 444);  // 273 of 13/8 px, rounded
    EXPECT_EQ(window.right - window.left, 663 + 8);
    EXPECT_EQ(window.bottom - window.top, 444 + 8 + 19);
    EXPECT_EQ(window.left, 51);  // 34, 40 dialog units from the desktop's corner
    EXPECT_EQ(window.top, 65);

    // Trackbar 21 at 63, 56, 102 x 18 dialog units.
    GetWindowRect(Item(dialog, 21), &control);
    POINT corner{control.left, control.top};
    ScreenToClient(dialog, &corner);
    EXPECT_EQ(corner.x, 95);
    EXPECT_EQ(corner.y, 91);
    EXPECT_EQ(control.right - control.left, 153);
    EXPECT_EQ(control.bottom - control.top, 29);

    POINT origin{0, 0};
    ClientToScreen(dialog, &origin);
    EXPECT_EQ(origin.x, window.left + 4);
    EXPECT_EQ(origin.y, window.top + 4 + 19);
    POINT p{-7, 300};
    ClientToScreen(Item(dialog, 21), &p);
    ScreenToClient(Item(dialog, 21), &p);
    EXPECT_EQ(p.x, -7);
    EXPECT_EQ(p.y, 300);

    RECT work{};
    EXPECT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    EXPECT_EQ(work.right, 1280);
    EXPECT_EQ(work.bottom, 984);
  };
  RunDialog(t);

  // A small work area keeps the dialog inside it.
  const RECT small{0, 100, 700, 600};
  Api().SetWorkArea(&small);
  t.play = [&](HWND dialog) {
    RECT window{}, work{};
    GetWindowRect(dialog, &window);
    EXPECT_EQ(window.left, 700 - 671);
    EXPECT_EQ(window.top, 100);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(work.top, 100);
  };
  RunDialog(t);
  Api().SetWorkArea(nullptr);
}

TEST(HeadlessDialog, ResizingSendsSizingThenSizeWithTheAdjustedRectangle) {
  TestDialog t;
  t.react = [&](HWND, UINT message, WPARAM, LPARAM lParam) -> INT_PTR {
    if (message == WM_SIZING) {
      RECT* r = reinterpret_cast<RECT*>(lParam);
      r->left = std::min(r->left, r->right - 700);  // a minimum width
      return TRUE;
    }
    return FALSE;
  };
  t.play = [&](HWND dialog) {
    RECT before{}, after{};
    GetWindowRect(dialog, &before);
    t.seen.clear();
    Api().Resize(dialog, WMSZ_TOPLEFT, 600, 520);
    ASSERT_GE(t.seen.size(), 2u);
    EXPECT_EQ(t.seen[0].message, UINT(WM_SIZING));
    EXPECT_EQ(t.seen[0].wParam, WPARAM(WMSZ_TOPLEFT));
    EXPECT_EQ(t.seen[1].message, UINT(WM_SIZE));
    EXPECT_EQ(t.seen[1].lParam, MAKELPARAM(700 - 8, 520 - 27));
    GetWindowRect(dialog, &after);
    EXPECT_EQ(after.right, before.right);
    EXPECT_EQ(after.bottom, before.bottom);
    EXPECT_EQ(after.left, before.right - 700);
    EXPECT_EQ(after.top, before.bottom - 520);

    // Moving without a new size sends nothing; the new size does, at once.
    const size_t sizes = t.Count(WM_SIZE);
    MoveWindow(dialog, 10, 10, 700, 520, TRUE);
    EXPECT_EQ(size_t(t.Count(WM_SIZE)), sizes);
    SetWindowPos(dialog, nullptr, 0, 0, 800, 600, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(t.Last(WM_SIZE)->lParam, MAKELPARAM(792, 573));
    int width = 0, height = 0;
    uint8_t* shot = Api().Screenshot(dialog, &width, &height);
    EXPECT_EQ(width, 792);
    EXPECT_EQ(height, 573);
    Api().FreeScreenshot(shot);
  };
  RunDialog(t);
}

TEST(HeadlessDialog, PaintsOnlyInvalidAreasAndKeepsThePreviewPixelsExact) {
  TestDialog t;
  RECT painted{};
  BOOL mustErase = TRUE;
  t.react = [&](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR {
    if (message != WM_PAINT) return FALSE;
    PAINTSTRUCT ps{};
    HDC dc = BeginPaint(dialog, &ps);
    painted = ps.rcPaint;
    mustErase = ps.fErase;
    RECT all{};
    GetClientRect(dialog, &all);
    FillRect(dc, &all, reinterpret_cast<HBRUSH>(5 + 1));  // COLOR_WINDOW: white
    // What the host's displayPixels does: write RGB straight into the canvas.
    HeadlessCanvas* canvas = reinterpret_cast<HeadlessCanvas*>(dc);
    EXPECT_EQ(canvas->magic, kHeadlessCanvasMagic);
    const int x = ps.rcPaint.left + canvas->originX, y = ps.rcPaint.top + canvas->originY;
    if (ps.rcPaint.right > ps.rcPaint.left) {
      uint8_t* p = canvas->rgb + y * canvas->stride + x * 3;
      p[0] = 200, p[1] = 10, p[2] = 30;
    }
    EndPaint(dialog, &ps);
    return TRUE;
  };
  t.play = [&](HWND dialog) {
    const RECT area{400, 100, 410, 110};
    InvalidateRect(dialog, &area, FALSE);
    Api().Pump();
    EXPECT_EQ(painted.left, 400);
    EXPECT_EQ(painted.bottom, 110);
    EXPECT_FALSE(mustErase);

    int width = 0, height = 0;
    uint8_t* shot = Api().Screenshot(dialog, &width, &height);
    ASSERT_NE(shot, nullptr);
    auto pixel = [&](int x, int y) {
      const uint8_t* p = shot + (y * width + x) * 3;
      return (p[0] << 16) | (p[1] << 8) | p[2];
    };
    EXPECT_EQ(pixel(400, 100), 0xC80A1E);  // the directly written pixel
    EXPECT_EQ(pixel(409, 109), 0xFFFFFF);  // inside the update area
    EXPECT_EQ(pixel(410, 110), 0xFFFFFF);  // white from the first, full paint
    // Visible controls are drawn over the canvas; the hidden frame is not.
    const POINT ok = CentreInClient(dialog, kIdOk), frame = CentreInClient(dialog, kIdPreviewFrame);
    EXPECT_NE(pixel(ok.x, ok.y), 0xFFFFFF);
    EXPECT_EQ(pixel(frame.x, frame.y), 0xFFFFFF);
    Api().FreeScreenshot(shot);

    // GetDC reaches the whole client area; FillRect with the face colour.
    HDC dc = GetDC(dialog);
    const RECT corner{0, 0, 3, 3};
    EXPECT_EQ(FillRect(dc, &corner, GetSysColorBrush(COLOR_BTNFACE)), 1);
    EXPECT_EQ(ReleaseDC(dialog, dc), 1);
    EXPECT_EQ(FillRect(dc, &corner, GetSysColorBrush(COLOR_BTNFACE)), 0);  // released
    shot = Api().Screenshot(dialog, &width, &height);
    EXPECT_EQ(pixel(1, 1), 0xF0F0F0);
    Api().FreeScreenshot(shot);
  };
  RunDialog(t);
}

TEST(HeadlessDialog, ErasingFollowsTheDialogsAnswerToEraseBackground) {
  TestDialog t;
  BOOL mustErase = FALSE;
  bool ownErase = false;
  t.react = [&](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR {
    if (message == WM_ERASEBKGND) return ownErase;
    if (message == WM_PAINT) {
      PAINTSTRUCT ps{};
      BeginPaint(dialog, &ps);
      mustErase = ps.fErase;
      EndPaint(dialog, &ps);
      return TRUE;
    }
    return FALSE;
  };
  t.play = [&](HWND dialog) {
    const RECT area{400, 100, 410, 110};
    InvalidateRect(dialog, &area, TRUE);
    const int erases = t.Count(WM_ERASEBKGND);
    Api().Pump();
    EXPECT_EQ(t.Count(WM_ERASEBKGND), erases + 1);
    EXPECT_FALSE(mustErase);  // erased by default processing
    // Handled without a message result (no DWLP_MSGRESULT here), the erase
    // counts as not done, as on Windows.
    ownErase = true;
    InvalidateRect(dialog, &area, TRUE);
    Api().Pump();
    EXPECT_TRUE(mustErase);

    // A WM_PAINT handler that never calls BeginPaint is not asked forever.
    t.react = [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return TRUE; };
    InvalidateRect(dialog, &area, FALSE);
    const int paints = t.Count(WM_PAINT);
    Api().Pump();
    EXPECT_EQ(t.Count(WM_PAINT), paints + 1);
  };
  RunDialog(t);
}

TEST(HeadlessDialog, PostedMessagesArriveAfterTheActionThatPostedThem) {
  TestDialog t;
  bool postedSeenBeforeReturn = true;
  t.react = [&](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
    if (message == WM_COMMAND && LOWORD(wParam) == 902 && HIWORD(wParam) == BN_CLICKED) {
      PostMessageA(dialog, WM_USER + 7, 0, 0);
      postedSeenBeforeReturn = gDialog->Count(WM_USER + 7) > 0;
    }
    return FALSE;
  };
  t.play = [&](HWND dialog) {
    Api().Click(Item(dialog, kIdEyedropper));
    EXPECT_EQ(t.Count(WM_USER + 7), 1);
    // A second dialog cannot open while this one runs.
    EXPECT_EQ(DialogBoxParamA(nullptr, "FILTERDIALOG", dialog, &Procedure, 0), -1);
  };
  RunDialog(t);
  EXPECT_FALSE(postedSeenBeforeReturn);
}

TEST(HeadlessDialog, StaleAndNullHandlesAreRefused) {
  TestDialog t;
  HWND ok = nullptr;
  t.play = [&](HWND dialog) { ok = Item(dialog, kIdOk); };
  RunDialog(t);
  for (HWND stale : {t.handle, ok, HWND(nullptr)}) {
    RECT r{};
    POINT p{};
    char text[4] = "abc";
    PAINTSTRUCT ps{};
    EXPECT_FALSE(IsWindow(stale));
    EXPECT_FALSE(GetWindowRect(stale, &r));
    EXPECT_FALSE(GetClientRect(stale, &r));
    EXPECT_FALSE(ScreenToClient(stale, &p));
    EXPECT_EQ(SendMessageA(stale, WM_GETTEXTLENGTH, 0, 0), 0);
    EXPECT_FALSE(PostMessageA(stale, WM_USER, 0, 0));
    EXPECT_FALSE(SetWindowTextA(stale, "x"));
    EXPECT_EQ(GetWindowTextA(stale, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_FALSE(InvalidateRect(stale, nullptr, TRUE));
    EXPECT_FALSE(MoveWindow(stale, 0, 0, 10, 10, TRUE));
    EXPECT_EQ(BeginPaint(stale, &ps), nullptr);
    EXPECT_EQ(GetDC(stale), nullptr);
    EXPECT_FALSE(EndDialog(stale, 1));
    EXPECT_EQ(GetDlgItem(stale, kIdOk), nullptr);
    EXPECT_EQ(SetFocus(stale), nullptr);
    INT_PTR result = 0;
    EXPECT_FALSE(Api().HasEnded(stale, &result));
    int width = -1, height = -1;
    EXPECT_EQ(Api().Screenshot(stale, &width, &height), nullptr);
    EXPECT_EQ(width, 0);
    Api().Click(stale);
    Api().Type(stale, "1");
    Api().DragThumb(stale, 3);
    Api().Resize(stale, WMSZ_RIGHT, 100, 100);
    Api().MouseButton(stale, WM_LBUTTONDOWN, 1, 1);
  }
  TRACKMOUSEEVENT event{sizeof(TRACKMOUSEEVENT), TME_LEAVE, t.handle, HOVER_DEFAULT};
  EXPECT_FALSE(TrackMouseEventHeadless(&event));
  EXPECT_EQ(LoadCursorA(reinterpret_cast<HINSTANCE>(&event), IDC_ARROW), nullptr);
}

TEST(HeadlessDialog, TheNativeModuleExportsTheDriverTable) {
  host::PluginModule module;
  std::string error;
  ASSERT_TRUE(module.Load(BuiltModulePath(), &error)) << error;
  typedef const KestrelleHeadlessApi* (*Entry)();
  Entry entry = reinterpret_cast<Entry>(module.Symbol("KestrelleHeadless"));
  ASSERT_NE(entry, nullptr);
  const KestrelleHeadlessApi* api = entry();
  ASSERT_NE(api, nullptr);
  EXPECT_EQ(api->version, 1u);
  EXPECT_NE(api->HasEnded, nullptr);
}

#endif  // _WIN32
