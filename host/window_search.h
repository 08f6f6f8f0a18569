// Finding this process's dialogs on the real Windows desktop: the filter's
// dialog, message boxes and common file dialogs. Used by the message-box
// watcher and by UI scripts, which must tell them apart the same way.
#pragma once

#include <windows.h>

namespace host {

// The file name field of the common file dialogs (dlgs.h: edt1, cmb13).
constexpr int kFileNameEdit = 0x480, kFileNameCombo = 0x47c;

// A visible dialog (#32770) of this process.
bool IsDialogOfThisProcess(HWND w);
// A common file dialog.
bool IsFileDialog(HWND w);
// A message box: its text in static 0xFFFF and no sizing border (which tells
// it from the filter's own dialog).
bool IsMessageBox(HWND w);
// The filter's dialog: sizable, with the filter's caption.
bool IsFilterDialog(HWND w);

// The first top-level window of this process that `test` accepts.
HWND FindWindowOfThisProcess(bool (*test)(HWND w, HWND owner), HWND owner = nullptr);

}  // namespace host
