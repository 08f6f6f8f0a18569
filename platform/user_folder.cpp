#include "platform/user_folder.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>

#include "files/system_names.h"
#else
#include <sys/stat.h>
#endif

namespace platform {
namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
const char* const kOwnFolder = "Verdaline\\Kestrelle\\";

// Wide, so a profile folder named in any language is found (the ANSI
// calls give '?' for every letter outside the system code page).
std::string Base() {
  const DWORD size = GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
  if (size > 1) {
    std::vector<wchar_t> buffer(size);
    const DWORD n = GetEnvironmentVariableW(L"APPDATA", buffer.data(), size);
    if (n > 0 && n < size) return files::FromWide(buffer.data(), n);
  }
  wchar_t shell[MAX_PATH + 1] = {};
  if (SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, shell) == S_OK) return files::FromWide(shell);
  return "";
}

bool MakeOne(const std::string& path) {
  return CreateDirectoryW(files::Wide(path).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}
#else
constexpr char kSeparator = '/';
const char* const kOwnFolder = "kestrelle/";

std::string Base() {
  // Relative values are to be ignored, as if unset.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return config;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.config";
  return "";
}

bool MakeOne(const std::string& path) { return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST; }
#endif

}  // namespace

std::string UserSettingsFolder() {
  std::string base = Base();
  if (base.empty()) return "";
  if (base.back() != kSeparator && base.back() != '/') base += kSeparator;
  return base + kOwnFolder;
}

bool MakeUserSettingsFolder() {
  const std::string folder = UserSettingsFolder();
  if (folder.empty()) return false;
  // Every level from the first separator after the root on.
  for (size_t at = folder.find_first_of("\\/", 1); at != std::string::npos;
       at = folder.find_first_of("\\/", at + 1)) {
    const std::string level = folder.substr(0, at);
    if (level.empty() || level.back() == ':') continue;  // a drive, not a folder
    if (!MakeOne(level)) return false;
  }
  return true;
}

}  // namespace platform
