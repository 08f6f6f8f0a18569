// The headless window system as the dialog and the host use it: a recording
// dialog procedure on the FILTERDIALOG template, played through the driver
// table. Windows builds run the real window system instead.
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

namespace {

struct Seen {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  NMHDR notify;  // copied for WM_NOTIFY
};

struct TestDialog {
  std::vector<Seen> seen;
  // Extra behaviour per message; its result is the procedure's.
  std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> react;
  std::function<void(HWND)> play;
  HWND handle = nullptr;

  int Count(UINT message) const {
    int n = 0;
    for (const Seen& s : seen) n += s.message == message;
    return n;
  }
  int Commands(int id, int code) const {
    int n = 0;
    for (const Seen& s : seen)
      n += s.message == WM_COMMAND && LOWORD(s.wParam) == WORD(id) && HIWORD(s.wParam) == code;
    return n;
  }
  int CustomDraws(int id) const {
    int n = 0;
    for (const Seen& s : seen)
      n += s.message == WM_NOTIFY && s.notify.code == NM_CUSTOMDRAW && int(s.notify.idFrom) == id;
    return n;
  }
  const Seen* Last(UINT message) const {
    for (auto s = seen.rbegin(); s != seen.rend(); ++s)
      if (s->message == message) return &*s;
    return nullptr;
  }
};

TestDialog* gDialog = nullptr;

// The module hands the window system its template before it opens the
// dialog; these tests open the dialog themselves.
const bool kTemplateProvided = (platform::ProvideDialogTemplate(kFilterDialogTemplate), true);
const KestrelleHeadlessApi& Api() { return *headless::DriverApi(); }

INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  Seen s{message, wParam, lParam, {}};
  if (message == WM_NOTIFY) s.notify = *reinterpret_cast<const NMHDR*>(lParam);
  gDialog->seen.push_back(s);
  return gDialog->react ? gDialog->react(dialog, message, wParam, lParam) : FALSE;
}

void Play(HWND dialog, void* context) {
  TestDialog& t = *static_cast<TestDialog*>(context);
  t.handle = dialog;
  if (t.play) t.play(dialog);
}

INT_PTR RunDialog(TestDialog& t, LPCSTR name = "FILTERDIALOG") {
  gDialog = &t;
  Api().SetDialogDriver(&Play, &t);
  const INT_PTR result = DialogBoxParamA(nullptr, name, nullptr, &Procedure, 1234);
  Api().SetDialogDriver(nullptr, nullptr);
  return result;
}

HWND Item(HWND dialog, int id) { return GetDlgItem(dialog, id); }

POINT CentreInClient(HWND dialog, int id) {
  RECT r{};
  GetWindowRect(Item(dialog, id), &r);
  POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  ScreenToClient(dialog, &p);
  return p;
}

}  // namespace

TEST(HeadlessDialog, OpensOnlyTheFilterTemplateAndEndsWithCancelWithoutADriver) {
  TestDialog t;
  EXPECT_EQ(RunDialog(t, "NOSUCHDIALOG"), -1);
  EXPECT_EQ(RunDialog(t, MAKEINTRESOURCEA(101)), -1);
  EXPECT_TRUE(t.seen.empty());

  gDialog = &t;
  EXPECT_EQ(DialogBoxParamA(nullptr, "FILTERDIALOG", nullptr, &Procedure, 77), IDCANCEL);
  ASSERT_FALSE(t.seen.empty());
  const Seen& init = t.seen.front();
  EXPECT_EQ(init.message, UINT(WM_INITDIALOG));
  EXPECT_EQ(init.lParam, 77);
  EXPECT_NE(init.wParam, 0u);
  EXPECT_EQ(t.Last(WM_DESTROY), &t.seen.back());
}

TEST(HeadlessDialog, InitDialogOffersTheFirstTabStopAndTrueGivesItTheFocus) {
  TestDialog t;
  HWND offered = nullptr, focused = nullptr;
  t.react = [&](HWND, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
    if (message == WM_INITDIALOG) offered = reinterpret_cast<HWND>(wParam);
    return message == WM_INITDIALOG;
  };
  t.play = [&](HWND dialog) {
    focused = GetFocus();
    EXPECT_EQ(offered, Item(dialog, kIdOk));
    EXPECT_TRUE(Api().IsVisible(dialog));
    EXPECT_FALSE(Api().IsVisible(Item(dialog, kIdPreviewFrame)));
  };
  RunDialog(t);
  EXPECT_EQ(focused, offered);
  // OK notifies: its focus arrives as BN_SETFOCUS.
  EXPECT_EQ(t.Commands(kIdOk, BN_SETFOCUS), 1);
}

TEST(HeadlessDialog, EditBoxesReportEveryChangeBeforeTheCallReturns) {
  TestDialog t;
  int changesWhenSetReturned = -1;
  t.react = [&](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR {
    if (message == WM_INITDIALOG) {
      SetDlgItemTextA(dialog, 22, "1.5");
      changesWhenSetReturned = gDialog->Commands(22, EN_CHANGE);
    }
    return FALSE;
  };
  t.play = [&](HWND dialog) {
    SetDlgItemTextA(dialog, 22, "1.5");  // unchanged text still notifies
    EXPECT_EQ(t.Commands(22, EN_CHANGE), 2);
    Api().Type(Item(dialog, 22), "27");
    EXPECT_EQ(t.Commands(22, EN_CHANGE), 4);
    char text[16] = "xxxxxxxxxxxxxxx";
    EXPECT_EQ(GetDlgItemTextA(dialog, 22, text, sizeof text), 5u);
    EXPECT_STREQ(text, "1.527");
    EXPECT_EQ(GetDlgItemTextA(dialog, 22, text, 3), 2u);
    EXPECT_STREQ(text, "1.");
    EXPECT_EQ(GetWindowTextA(Item(dialog, 22), text, 1), 0);
    EXPECT_STREQ(text, "");
    Api().ClearText(Item(dialog, 22));
    EXPECT_EQ(t.Commands(22, EN_CHANGE), 5);
    Api().ClearText(Item(dialog, 22));  // nothing left to delete
    EXPECT_EQ(t.Commands(22, EN_CHANGE), 5);
  };
  RunDialog(t);
  EXPECT_EQ(changesWhenSetReturned, 1);
  // Typing moved the focus into the box first.
  EXPECT_EQ(t.Commands(22, EN_SETFOCUS), 1);
}

TEST(HeadlessDialog, ANotificationHandlerCanSetOtherControlsRecursively) {
  TestDialog t;
  t.react = [&](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
    if (message == WM_COMMAND && LOWORD(wParam) == 22 && HIWORD(wParam) == EN_CHANGE) {
      char text[8];
      GetDlgItemTextA(dialog, 22, text, sizeof text);
      SetDlgItemTextA(dialog, 32, text);
      SendDlgItemMessageA(dialog, 21, TBM_SETPOS, TRUE, 40);
    }
    return FALSE;
  };
  t.play = [&](HWND dialog) {
    Api().Type(Item(dialog, 22), "9");
    char text[8];
    GetDlgItemTextA(dialog, 32, text, sizeof text);
    EXPECT_STREQ(text, "9");
    EXPECT_EQ(t.Commands(32, EN_CHANGE), 1);
    EXPECT_EQ(SendDlgItemMessageA(dialog, 21, TBM_GETPOS, 0, 0), 40);
  };
  RunDialog(t);
}

TEST(HeadlessDialog, TrackbarPositionsClampSilentlyAndRedrawNotifiesOncePerPaint) {
  TestDialog t;
  t.play = [&](HWND dialog) {
    EXPECT_EQ(SendDlgItemMessageA(dialog, 31, TBM_GETRANGEMAX, 0, 0), 100);
    EXPECT_GE(t.CustomDraws(31), 1);  // painted when shown
    SendDlgItemMessageA(dialog, 31, TBM_SETRANGE, TRUE, MAKELONG(-100, 100));
    EXPECT_EQ(SendDlgItemMessageA(dialog, 31, TBM_GETRANGEMIN, 0, 0), -100);
    EXPECT_EQ(SendDlgItemMessageA(dialog, 31, TBM_GETRANGEMAX, 0, 0), 100);
    Api().Pump();

    const int before = t.CustomDraws(31);
    SendDlgItemMessageA(dialog, 31, TBM_SETPOS, TRUE, -500);
    EXPECT_EQ(SendDlgItemMessageA(dialog, 31, TBM_GETPOS, 0, 0), -100);
    SendDlgItemMessageA(dialog, 31, TBM_SETPOS, TRUE, 70);
    EXPECT_EQ(t.CustomDraws(31), before);  // only at the next paint
    Api().Pump();
    EXPECT_EQ(t.CustomDraws(31), before + 1);
    Api().Pump();
    EXPECT_EQ(t.CustomDraws(31), before + 1);

    SendDlgItemMessageA(dialog, 31, TBM_SETPOS, FALSE, 500);
    EXPECT_EQ(SendDlgItemMessageA(dialog, 31, TBM_GETPOS, 0, 0), 100);
    Api().Pump();
    EXPECT_EQ(t.CustomDraws(31), before + 1);

    // A narrower range pulls the position in.
    SendDlgItemMessageA(dialog, 31, TBM_SETRANGE, FALSE, MAKELONG(0, 50));
    EXPECT_EQ(SendDlgItemMessageA(dialog, 31, TBM_GETPOS, 0, 0), 50);
  };
  RunDialog(t);
  EXPECT_EQ(t.Count(WM_HSCROLL), 0);
}

TEST(HeadlessDialog, DraggingTheThumbScrollsThenRepaints) {
  TestDialog t;
  int positionDuringTrack = -1;
  t.react = [&](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
    if (message == WM_HSCROLL && LOWORD(wParam) == TB_THUMBTRACK)
      positionDuringTrack = int(SendDlgItemMessageA(dialog, 81, TBM_GETPOS, 0, 0));
    return FALSE;
  };
  HWND trackbar = nullptr;
  t.play = [&](HWND dialog) {
    trackbar = Item(dialog, 81);
    const int drawsBefore = t.CustomDraws(81);
    Api().DragThumb(trackbar, 250);
    EXPECT_EQ(t.CustomDraws(81), drawsBefore + 1);
    EXPECT_EQ(GetFocus(), Item(dialog, 81));
  };
  RunDialog(t);
  std::vector<int> codes;
  for (const Seen& s : t.seen) {
    if (s.message != WM_HSCROLL) continue;
    codes.push_back(LOWORD(s.wParam));
    EXPECT_EQ(s.lParam, reinterpret_cast<LPARAM>(trackbar));
  }
  EXPECT_EQ(codes, (std::vector<int>{TB_THUMBTRACK, TB_THUMBPOSITION, TB_ENDTRACK}));
  EXPECT_EQ(positionDuringTrack, 100);  // clamped to the default range
  EXPECT_EQ(HIWORD(t.Last(WM_HSCROLL)->wParam), 0);
}

TEST(HeadlessDialog, ClicksToggleCheckBoxesBeforeNotifyingAndOkEndsTheDialog) {
  TestDialog t;
  std::vector<UINT> checkWhenNotified;
  t.react = [&](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
    if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return FALSE;
    if (LOWORD(wParam) == kIdShowOriginal)
      checkWhenNotified.push_back(IsDlgButtonChecked(dialog, kIdShowOriginal));
    if (LOWORD(wParam) == IDOK) {
      EndDialog(dialog, 42);
      SetDlgItemTextA(dialog, 22, "after");  // the message still completes
    }
    return TRUE;
  };
  t.play = [&](HWND dialog) {
    Api().Click(Item(dialog, kIdShowOriginal));
    Api().Click(Item(dialog, kIdShowOriginal));
    // Pressed, then released elsewhere: the button kept the mouse and does
    // nothing; the dialog never saw the release.
    const POINT box = CentreInClient(dialog, kIdShowOriginal);
    const POINT away = CentreInClient(dialog, kIdPreviewFrame);
    Api().MouseButton(dialog, WM_LBUTTONDOWN, box.x, box.y);
    Api().MouseMove(dialog, away.x, away.y, MK_LBUTTON);
    Api().MouseButton(dialog, WM_LBUTTONUP, away.x, away.y);
    EXPECT_EQ(t.Count(WM_LBUTTONUP), 0);
    EXPECT_EQ(t.Count(WM_MOUSEMOVE), 0);
    EXPECT_EQ(IsDlgButtonChecked(dialog, kIdShowOriginal), UINT(BST_UNCHECKED));
    CheckDlgButton(dialog, kIdShowOriginal, BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(dialog, kIdShowOriginal), UINT(BST_CHECKED));
    EXPECT_EQ(IsDlgButtonChecked(dialog, kIdOk), UINT(BST_UNCHECKED));
    Api().Click(Item(dialog, kIdOk));
    INT_PTR result = 0;
    EXPECT_TRUE(Api().HasEnded(dialog, &result));
    EXPECT_EQ(result, 42);
    Api().Click(Item(dialog, kIdCancel));  // the dialog is gone for the user
  };
  EXPECT_EQ(RunDialog(t), 42);
  EXPECT_EQ(checkWhenNotified, (std::vector<UINT>{BST_CHECKED, BST_UNCHECKED}));
  EXPECT_EQ(t.Commands(kIdCancel, BN_CLICKED), 0);
  // EndDialog took the focus back from OK, which notifies.
  EXPECT_EQ(t.Commands(kIdOk, BN_KILLFOCUS), 1);
  EXPECT_EQ(t.Commands(22, EN_CHANGE), 1);
}

TEST(HeadlessDialog, OnlyNotifyingLabelsReportDoubleClicks) {
  TestDialog t;
  t.play = [&](HWND dialog) {
    Api().DoubleClick(Item(dialog, 20));
    EXPECT_EQ(t.Commands(20, STN_DBLCLK), 1);
    EXPECT_EQ(t.Count(WM_LBUTTONDBLCLK), 0);
    // The footnote has no SS_NOTIFY: the dialog beneath gets the mouse.
    Api().DoubleClick(Item(dialog, -1));
    EXPECT_EQ(t.Commands(-1, STN_DBLCLK), 0);
    EXPECT_EQ(t.Count(WM_LBUTTONDBLCLK), 1);
  };
  RunDialog(t);
}

TEST(HeadlessDialog, MouseOverTheHiddenFrameReachesTheDialogWithHitTestAndCursor) {
  TestDialog t;
  bool crossOnSetCursor = false;
  t.react = [&](HWND, UINT message, WPARAM, LPARAM) -> INT_PTR {
    if (message == WM_SETCURSOR && crossOnSetCursor) {
      SetCursor(LoadCursorA(nullptr, IDC_CROSS));
      return TRUE;
    }
    return FALSE;
  };
  t.play = [&](HWND dialog) {
    const POINT p = CentreInClient(dialog, kIdPreviewFrame);
    POINT screen = p;
    ClientToScreen(dialog, &screen);
    t.seen.clear();
    Api().MouseButton(dialog, WM_LBUTTONDOWN, p.x, p.y);
    ASSERT_EQ(t.seen.size(), 3u);
    EXPECT_EQ(t.seen[0].message, UINT(WM_NCHITTEST));
    EXPECT_EQ(t.seen[0].lParam, MAKELPARAM(screen.x, screen.y));
    EXPECT_EQ(t.seen[1].message, UINT(WM_SETCURSOR));
    EXPECT_EQ(t.seen[1].wParam, reinterpret_cast<WPARAM>(dialog));
    EXPECT_EQ(t.seen[1].lParam, MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN));
    EXPECT_EQ(t.seen[2].message, UINT(WM_LBUTTONDOWN));
    EXPECT_EQ(t.seen[2].wParam, WPARAM(MK_LBUTTON));
    EXPECT_EQ(t.seen[2].lParam, MAKELPARAM(p.x, p.y));
    EXPECT_EQ(Api().CurrentCursor(), kHeadlessArrow);  // unhandled: the class cursor

    crossOnSetCursor = true;
    Api().MouseMove(dialog, p.x + 1, p.y, MK_LBUTTON);
    EXPECT_EQ(t.Last(WM_MOUSEMOVE)->wParam, WPARAM(MK_LBUTTON));
    EXPECT_EQ(Api().CurrentCursor(), kHeadlessCross);
    Api().MouseButton(dialog, WM_LBUTTONUP, p.x + 1, p.y);
    EXPECT_EQ(t.Last(WM_LBUTTONUP)->wParam, 0u);

    // Over a control the control's own cursor wins even when the dialog
    // handled WM_SETCURSOR, whose result it cannot set.
    const POINT ok = CentreInClient(dialog, kIdOk);
    Api().MouseMove(dialog, ok.x, ok.y, 0);
    EXPECT_EQ(t.Last(WM_SETCURSOR)->wParam, reinterpret_cast<WPARAM>(Item(dialog, kIdOk)));
    EXPECT_EQ(Api().CurrentCursor(), kHeadlessArrow);

    // Released over the caption: the non-client message, with screen
    // coordinates; outside the window nothing arrives.
    Api().MouseButton(dialog, WM_LBUTTONUP, 40, -5);
    EXPECT_EQ(t.Last(WM_NCLBUTTONUP)->wParam, WPARAM(2 /* HTCAPTION */));
    EXPECT_EQ(t.Last(WM_NCLBUTTONUP)->lParam, MAKELPARAM(screen.x - p.x + 40, screen.y - p.y - 5));
    const size_t before = t.seen.size();
    Api().MouseButton(dialog, WM_LBUTTONUP, -100, -100);
    EXPECT_EQ(t.seen.size(), before);

    Api().Wheel(dialog, p.x, p.y, -120);
    const Seen* wheel = t.Last(WM_MOUSEWHEEL);
    ASSERT_NE(wheel, nullptr);
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(wheel->wParam), -120);
    EXPECT_EQ(wheel->lParam, MAKELPARAM(screen.x, screen.y));
  };
  RunDialog(t);
}

TEST(HeadlessDialog, MouseLeaveComesOnlyAfterARequest) {
  TestDialog t;
  t.react = [&](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR {
    if (message == WM_MOUSEMOVE) platform::TrackMouseLeave(dialog);
    return FALSE;
  };
  t.play = [&](HWND dialog) {
    Api().MouseLeave(dialog);
    EXPECT_EQ(t.Count(WM_MOUSELEAVE), 0);
    const POINT p = CentreInClient(dialog, kIdPreviewFrame);
    Api().MouseMove(dialog, p.x, p.y, 0);
    Api().MouseMove(dialog, p.x + 5, p.y, 0);
    EXPECT_EQ(t.Count(WM_MOUSELEAVE), 0);
    Api().MouseLeave(dialog);
    Api().MouseLeave(dialog);
    EXPECT_EQ(t.Count(WM_MOUSELEAVE), 1);
    // Moving onto a control leaves the dialog's client area as well.
    Api().MouseMove(dialog, p.x, p.y, 0);
    const POINT ok = CentreInClient(dialog, kIdOk);
    Api().MouseMove(dialog, ok.x, ok.y, 0);
    EXPECT_EQ(t.Count(WM_MOUSELEAVE), 2);
    // Asked while the mouse is elsewhere, the leave comes at once.
    platform::TrackMouseLeave(dialog);
    Api().Pump();
    EXPECT_EQ(t.Count(WM_MOUSELEAVE), 3);
  };
  RunDialog(t);
}

TEST(HeadlessDialog, FocusChangesTellBothWindows) {
  TestDialog t;
  t.play = [&](HWND dialog) {
    SetFocus(Item(dialog, 22));
    EXPECT_EQ(SetFocus(dialog), Item(dialog, 22));
    EXPECT_EQ(t.Commands(22, EN_KILLFOCUS), 1);
    EXPECT_EQ(t.Last(WM_SETFOCUS)->wParam, reinterpret_cast<WPARAM>(Item(dialog, 22)));
    SetFocus(Item(dialog, kIdPreviewFrame));  // hidden windows take the focus too
    EXPECT_EQ(t.Last(WM_KILLFOCUS)->wParam, reinterpret_cast<WPARAM>(Item(dialog, kIdPreviewFrame)));
    EXPECT_EQ(GetFocus(), Item(dialog, kIdPreviewFrame));
  };
  RunDialog(t);
}

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
