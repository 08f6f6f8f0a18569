// The Windows half: identity from the file's volume serial and index.
#include "files/file_identity.h"

#include <string>
#include <vector>

#include <windows.h>

#include "files/system_names.h"

namespace files {

std::string WindowsErrorText(unsigned long code) {
  // Wide, as the system's text is in the user's language, and UTF-8 inside.
  wchar_t text[256] = {};
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                 DWORD(code), 0, text, sizeof text / sizeof text[0], nullptr);
  std::string s = FromWide(text, n);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.'))
    s.pop_back();
  return n ? s : "error " + std::to_string(code);
}

namespace {

HANDLE OpenForIdentity(const std::string& path) {
  // No access rights needed to read the identity; folders need the backup flag.
  return CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool IdentityOf(const std::string& path, FileId* id, DWORD* error) {
  HANDLE h = OpenForIdentity(path);
  if (h == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  if (!ok) *error = GetLastError();
  CloseHandle(h);
  if (!ok) return false;
  id->device = info.dwVolumeSerialNumber;
  id->index = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  id->name.clear();
  return true;
}

}  // namespace

bool FollowLinks(const std::string& path, std::string* target, std::string*) {
  *target = path;
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  HANDLE h = OpenForIdentity(path);
  if (h == INVALID_HANDLE_VALUE) return true;  // a dangling link: written where it stands
  std::vector<wchar_t> final(MAX_PATH * 4);
  const DWORD n = GetFinalPathNameByHandleW(h, final.data(), DWORD(final.size()), FILE_NAME_NORMALIZED);
  CloseHandle(h);
  if (n == 0 || n >= final.size()) return true;
  std::string resolved = FromWide(final.data(), n);
  if (resolved.compare(0, 8, "\\\\?\\UNC\\") == 0) {
    resolved = "\\\\" + resolved.substr(8);
  } else if (resolved.compare(0, 4, "\\\\?\\") == 0) {
    resolved = resolved.substr(4);
  }
  *target = resolved;
  return true;
}

PathKind KindOf(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
}

bool Identify(const std::string& path, FileId* id, std::string* why) {
  DWORD error = 0;
  if (IdentityOf(path, id, &error)) return true;
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
    if (why) *why = WindowsErrorText(error);
    return false;
  }
  const std::string folder = FolderOf(path);
  if (!IdentityOf(folder, id, &error)) {
    if (why) *why = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                        ? "the folder " + folder + " does not exist"
                        : folder + ": " + WindowsErrorText(error);
    return false;
  }
  id->name = CaseFolded(NameOf(path));
  return true;
}

std::string Absolute(const std::string& path) {
  const std::wstring name = Wide(path);
  std::vector<wchar_t> full(MAX_PATH * 4);
  const DWORD n = GetFullPathNameW(name.c_str(), DWORD(full.size()), full.data(), nullptr);
  return n == 0 || n >= full.size() ? path : FromWide(full.data(), n);
}

}  // namespace files
