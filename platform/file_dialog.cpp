#include "platform/file_dialog.h"

#include <cstring>

#include "platform/module.h"

#ifdef _WIN32
#include <commdlg.h>
#else
#include "platform/headless/file_dialog_answer.h"
#endif

namespace platform {

#ifdef _WIN32
namespace {

typedef BOOL(WINAPI* FileDialogFn)(LPOPENFILENAMEA);

// The structure size without its three trailing fields (pvReserved,
// dwReserved, FlagsEx): the size every version of the dialog accepts.
const DWORD kStructureSize = OPENFILENAME_SIZE_VERSION_400A;

struct Call {
  FileDialogFn function;
  OPENFILENAMEA* dialog;
  BOOL chosen;
};

void Show(void* argument) {
  Call* call = static_cast<Call*>(argument);
  call->chosen = call->function(call->dialog);
}

bool ShowFileDialog(const char* name, HWND owner, const char* filter, const char* extension,
                    DWORD flags, char (&fileName)[kFileNameCapacity]) {
  static HMODULE library = LoadLibraryA("comdlg32.dll");
  if (!library) return false;
  FileDialogFn function =
      reinterpret_cast<FileDialogFn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  if (!function) return false;
  OPENFILENAMEA dialog{};
  dialog.lStructSize = kStructureSize;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter;
  dialog.nFilterIndex = 0;
  dialog.lpstrFile = fileName;
  dialog.nMaxFile = kFileNameCapacity;
  dialog.lpstrDefExt = extension;
  dialog.Flags = flags;
  Call call{function, &dialog, FALSE};
  if (!RunInActivationContext(&Show, &call)) return false;
  return call.chosen != FALSE;
}

}  // namespace

bool ShowSaveFileDialog(HWND owner, const char* filter, const char* extension,
                        char (&fileName)[kFileNameCapacity]) {
  return ShowFileDialog("GetSaveFileNameA", owner, filter, extension, kSaveFileFlags, fileName);
}

bool ShowOpenFileDialog(HWND owner, const char* filter, const char* extension,
                        char (&fileName)[kFileNameCapacity]) {
  return ShowFileDialog("GetOpenFileNameA", owner, filter, extension, kOpenFileFlags, fileName);
}
#else
namespace {

// The 64-bit structure's size without its trailing fields.
constexpr unsigned long kStructureSize = 136;

bool Ask(HWND owner, const char* filter, const char* extension, unsigned long flags,
         char (&fileName)[kFileNameCapacity]) {
  FileDialogRequest request{owner, filter, extension, flags, kStructureSize};
  std::string answer;
  if (!headless::AnswerFileDialog(request, answer)) return false;
  if (answer.size() >= size_t(kFileNameCapacity)) answer.resize(kFileNameCapacity - 1);
  std::memcpy(fileName, answer.c_str(), answer.size() + 1);
  return true;
}

}  // namespace

bool ShowSaveFileDialog(HWND owner, const char* filter, const char* extension,
                        char (&fileName)[kFileNameCapacity]) {
  return Ask(owner, filter, extension, kSaveFileFlags, fileName);
}

bool ShowOpenFileDialog(HWND owner, const char* filter, const char* extension,
                        char (&fileName)[kFileNameCapacity]) {
  return Ask(owner, filter, extension, kOpenFileFlags, fileName);
}
#endif

}  // namespace platform
