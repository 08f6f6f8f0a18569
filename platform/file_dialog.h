// The system's save-file and open-file dialogs: GetSaveFileNameW and
// GetOpenFileNameW, loaded from the common-dialog library at run time and
// shown inside the module's activation context. The wide dialogs let the
// user pick a file named in any language; the name comes back as UTF-8.
// Headless, the answer comes from whoever drives the dialog (a file name, or
// a cancel).
#pragma once

#include <string>

#include "platform/win32.h"

namespace platform {

constexpr int kFileNameCapacity = 260;  // characters, the terminating zero included

struct FileDialogRequest {
  HWND owner = nullptr;
  const char* filter = nullptr;  // pairs of zero-terminated strings, ended by an empty one
  const char* defaultExtension = nullptr;
  unsigned long flags = 0;
  unsigned long structureSize = 0;  // the OPENFILENAME size the request used
};

// The flags of the two dialogs.
constexpr unsigned long kSaveFileFlags = 0x88806;  // explorer, no read-only return, path must
                                                   // exist, hide read-only, overwrite prompt
constexpr unsigned long kOpenFileFlags = 0x81000;  // explorer, file must exist

// True with the chosen name in `fileName`; false when the user cancels or
// the dialog cannot be shown. The name holds at most kFileNameCapacity - 1
// characters (UTF-16 units on Windows, bytes headless).
bool ShowSaveFileDialog(HWND owner, const char* filter, const char* defaultExtension, std::string* fileName);
bool ShowOpenFileDialog(HWND owner, const char* filter, const char* defaultExtension, std::string* fileName);

}  // namespace platform
