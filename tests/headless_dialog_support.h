// A recording dialog procedure on the FILTERDIALOG template of the headless
// window system, played through the driver table: what the headless window
// system tests share.
#pragma once

#ifndef _WIN32

#include <functional>
#include <vector>

#include "platform/headless/driver_api.h"
#include "platform/win32.h"

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



// The dialog being run; the procedure records into it.
extern TestDialog* gDialog;

const KestrelleHeadlessApi& Api();
// Records every message into gDialog, then lets its `react` answer.
INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Opens the template `name` modally with `t` as its driver.
INT_PTR RunDialog(TestDialog& t, LPCSTR name = "FILTERDIALOG");
HWND Item(HWND dialog, int id);
// A control's centre in the dialog's client coordinates.
POINT CentreInClient(HWND dialog, int id);

#endif  // _WIN32
