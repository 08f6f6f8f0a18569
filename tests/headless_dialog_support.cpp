#ifndef _WIN32

#include "tests/headless_dialog_support.h"

#include "dialog/dialog_template.h"

TestDialog* gDialog = nullptr;

const KestrelleHeadlessApi& Api() { return *headless::DriverApi(); }

INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  Seen s{message, wParam, lParam, {}};
  if (message == WM_NOTIFY) s.notify = *reinterpret_cast<const NMHDR*>(lParam);
  gDialog->seen.push_back(s);
  return gDialog->react ? gDialog->react(dialog, message, wParam, lParam) : FALSE;
}

namespace {

// The module hands the window system its template before it opens the
// dialog; these tests open the dialog themselves.
const bool kTemplateProvided = (platform::ProvideDialogTemplate(kFilterDialogTemplate), true);

void Play(HWND dialog, void* context) {
  TestDialog& t = *static_cast<TestDialog*>(context);
  t.handle = dialog;
  if (t.play) t.play(dialog);
}

}  // namespace

INT_PTR RunDialog(TestDialog& t, LPCSTR name) {
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

#endif  // _WIN32
