#include "platform/user_folder.h"

#include <cerrno>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>
#else
#include <sys/stat.h>
#endif

namespace platform {
namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
const char* const kOwnFolder = "Verdaline\\Kestrelle\\";

std::string Base() {
  char buffer[MAX_PATH + 1] = {};
  const DWORD n = GetEnvironmentVariableA("APPDATA", buffer, sizeof buffer);
  if (n > 0 && n < sizeof buffer) return buffer;
  if (SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, 0, buffer) == S_OK) return buffer;
  return "";
}

bool MakeOne(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
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
