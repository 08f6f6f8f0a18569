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
#include "tests/headless_dialog_support.h"

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

#endif  // _WIN32
