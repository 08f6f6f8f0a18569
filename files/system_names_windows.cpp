// The Windows half: UTF-16 names for the wide calls.
#include "files/system_names.h"

#include <vector>

#include <windows.h>

#include "files/utf8.h"

namespace files {

std::wstring Wide(const std::string& name) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 units");
  std::u16string units;
  if (Utf16FromUtf8(name, &units)) return std::wstring(units.begin(), units.end());
  const int n = MultiByteToWideChar(CP_ACP, 0, name.data(), int(name.size()), nullptr, 0);
  std::wstring wide(size_t(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, name.data(), int(name.size()), &wide[0], n);
  return wide;
}

std::string FromWide(const wchar_t* text, size_t length) {
  return Utf8FromUtf16(std::u16string(reinterpret_cast<const char16_t*>(text), length));
}

std::string FromWide(const wchar_t* text) { return text ? FromWide(text, wcslen(text)) : std::string(); }

std::FILE* OpenFile(const std::string& path, const char* mode) {
  const std::string m(mode);
  return _wfopen(Wide(path).c_str(), std::wstring(m.begin(), m.end()).c_str());
}

int RemoveFile(const std::string& path) { return _wremove(Wide(path).c_str()); }

std::string CaseFolded(const std::string& name) {
  // The system's own upper-casing table, which the file system compares by.
  std::wstring wide = Wide(name);
  if (!wide.empty()) CharUpperBuffW(&wide[0], DWORD(wide.size()));
  return FromWide(wide.data(), wide.size());
}

std::filesystem::path SystemPath(const std::string& name) { return std::filesystem::path(Wide(name)); }

std::string NameOfPath(const std::filesystem::path& path) {
  return FromWide(path.native().c_str(), path.native().size());
}

}  // namespace files
