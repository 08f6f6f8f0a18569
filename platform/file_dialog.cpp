#include "platform/file_dialog.h"

#include <cstring>

#include "platform/module.h"

#ifdef _WIN32
#include <commdlg.h>

#include "files/system_names.h"
#else
#include "files/utf8.h"
#include "platform/headless/file_dialog_answer.h"
#endif

namespace platform {

#ifdef _WIN32
namespace {

typedef BOOL(WINAPI* FileDialogFn)(LPOPENFILENAMEW);

// The structure size without its three trailing fields (pvReserved,
// dwReserved, FlagsEx): the size every version of the dialog accepts.
const DWORD kStructureSize = OPENFILENAME_SIZE_VERSION_400W;

struct Call {
  FileDialogFn function;
  OPENFILENAMEW* dialog;
  BOOL chosen;
};

void Show(void* argument) {
  Call* call = static_cast<Call*>(argument);
  call->chosen = call->function(call->dialog);
}

// The filter's pairs of zero-terminated strings, ended by an empty one.
std::wstring WideFilter(const char* filter) {
  std::wstring wide;
  for (const char* at = filter; at && *at; at += std::strlen(at) + 1) {
    wide += files::Wide(at);
    wide += L'\0';
  }
  wide += L'\0';
  return wide;
}

bool ShowFileDialog(const char* name, HWND owner, const char* filter, const char* extension,
                    DWORD flags, std::string* fileName) {
  static HMODULE library = LoadLibraryW(L"comdlg32.dll");
  if (!library) return false;
  FileDialogFn function =
      reinterpret_cast<FileDialogFn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  if (!function) return false;
  const std::wstring wideFilter = WideFilter(filter);
  const std::wstring wideExtension = extension ? files::Wide(extension) : std::wstring();
  wchar_t chosen[kFileNameCapacity] = {};
  OPENFILENAMEW dialog{};
  dialog.lStructSize = kStructureSize;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter ? wideFilter.c_str() : nullptr;
  dialog.nFilterIndex = 0;
  dialog.lpstrFile = chosen;
  dialog.nMaxFile = kFileNameCapacity;
  dialog.lpstrDefExt = extension ? wideExtension.c_str() : nullptr;
  dialog.Flags = flags;
  Call call{function, &dialog, FALSE};
  if (!RunInActivationContext(&Show, &call)) return false;
  if (!call.chosen) return false;
  chosen[kFileNameCapacity - 1] = L'\0';
  *fileName = files::FromWide(chosen);
  return true;
}

}  // namespace

bool ShowSaveFileDialog(HWND owner, const char* filter, const char* extension, std::string* fileName) {
  return ShowFileDialog("GetSaveFileNameW", owner, filter, extension, kSaveFileFlags, fileName);
}

bool ShowOpenFileDialog(HWND owner, const char* filter, const char* extension, std::string* fileName) {
  return ShowFileDialog("GetOpenFileNameW", owner, filter, extension, kOpenFileFlags, fileName);
}
#else
namespace {

// The 64-bit structure's size without its trailing fields.
constexpr unsigned long kStructureSize = 136;

bool Ask(HWND owner, const char* filter, const char* extension, unsigned long flags, std::string* fileName) {
  FileDialogRequest request{owner, filter, extension, flags, kStructureSize};
  std::string answer;
  if (!headless::AnswerFileDialog(request, answer)) return false;
  // As the system's buffer would hold it: up to the first zero, and no
  // more than it holds. A name too long for it makes the system's dialog
  // fail rather than cut the name, so nothing is saved under another one.
  answer = answer.c_str();
  std::u16string units;
  const size_t length = files::Utf16FromUtf8(answer, &units) ? units.size() : answer.size();
  if (length >= size_t(kFileNameCapacity)) return false;
  *fileName = answer;
  return true;
}

}  // namespace

bool ShowSaveFileDialog(HWND owner, const char* filter, const char* extension, std::string* fileName) {
  return Ask(owner, filter, extension, kSaveFileFlags, fileName);
}

bool ShowOpenFileDialog(HWND owner, const char* filter, const char* extension, std::string* fileName) {
  return Ask(owner, filter, extension, kOpenFileFlags, fileName);
}
#endif

}  // namespace platform
