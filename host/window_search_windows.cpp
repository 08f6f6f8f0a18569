#include "host/window_search.h"

namespace host {
namespace {

constexpr char kDialogCaption[] = "Kestrelle v1.0.7";

struct Search {
  bool (*test)(HWND, HWND);
  HWND owner;
  HWND found;
};

BOOL CALLBACK Visit(HWND w, LPARAM context) {
  Search* s = reinterpret_cast<Search*>(context);
  if (!s->test(w, s->owner)) return TRUE;
  s->found = w;
  return FALSE;
}

}  // namespace

bool IsDialogOfThisProcess(HWND w) {
  DWORD process = 0;
  GetWindowThreadProcessId(w, &process);
  char cls[16] = {};
  return process == GetCurrentProcessId() && GetClassNameA(w, cls, sizeof cls) && lstrcmpA(cls, "#32770") == 0 &&
         IsWindowVisible(w);
}

bool IsFileDialog(HWND w) {
  return w && IsDialogOfThisProcess(w) && (GetDlgItem(w, kFileNameEdit) || GetDlgItem(w, kFileNameCombo));
}

bool IsMessageBox(HWND w) {
  return IsDialogOfThisProcess(w) && !(GetWindowLongA(w, GWL_STYLE) & WS_THICKFRAME) &&
         GetDlgItem(w, 0xFFFF) != nullptr;
}

bool IsFilterDialog(HWND w) {
  if (!IsDialogOfThisProcess(w) || !(GetWindowLongA(w, GWL_STYLE) & WS_THICKFRAME)) return false;
  char caption[64] = {};
  GetWindowTextA(w, caption, sizeof caption);
  return lstrcmpA(caption, kDialogCaption) == 0;
}

HWND FindWindowOfThisProcess(bool (*test)(HWND, HWND), HWND owner) {
  Search s{test, owner, nullptr};
  EnumWindows(Visit, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

}  // namespace host
