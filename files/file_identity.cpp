#include "files/file_identity.h"

#include <cerrno>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <climits>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace host {
namespace files {

bool FileId::operator==(const FileId& o) const {
  return device == o.device && index == o.index && name == o.name;
}

std::string SystemErrorText(int code) { return std::strerror(code); }

#ifdef _WIN32
std::string WindowsErrorText(unsigned long code) {
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                 DWORD(code), 0, text, sizeof text, nullptr);
  std::string s(text, n);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.'))
    s.pop_back();
  return n ? s : "error " + std::to_string(code);
}
#endif

namespace {

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

size_t LastSeparator(const std::string& path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsSeparator(path[i - 1])) return i - 1;
#ifdef _WIN32
  if (path.size() >= 2 && path[1] == ':') return 1;  // "C:name"
#endif
  return std::string::npos;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const size_t at = LastSeparator(path);
  if (at == std::string::npos) return ".";
  if (at == 0) return path.substr(0, 1);  // "/name"
#ifdef _WIN32
  if (at == 1 && path[1] == ':') return path.substr(0, 2) + ".";
  if (at == 2 && path[1] == ':') return path.substr(0, 3);
#endif
  return path.substr(0, at);
}

std::string NameOf(const std::string& path) {
  const size_t at = LastSeparator(path);
  return at == std::string::npos ? path : path.substr(at + 1);
}

#ifdef _WIN32

namespace {

HANDLE OpenForIdentity(const std::string& path) {
  // No access rights needed to read the identity; folders need the backup flag.
  return CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
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
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  HANDLE h = OpenForIdentity(path);
  if (h == INVALID_HANDLE_VALUE) return true;  // a dangling link: written where it stands
  char final[MAX_PATH * 4] = {};
  const DWORD n = GetFinalPathNameByHandleA(h, final, sizeof final, FILE_NAME_NORMALIZED);
  CloseHandle(h);
  if (n == 0 || n >= sizeof final) return true;
  std::string resolved(final, n);
  if (resolved.compare(0, 8, "\\\\?\\UNC\\") == 0) {
    resolved = "\\\\" + resolved.substr(8);
  } else if (resolved.compare(0, 4, "\\\\?\\") == 0) {
    resolved = resolved.substr(4);
  }
  *target = resolved;
  return true;
}

PathKind KindOf(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
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
  // Windows file names do not tell case apart.
  id->name = NameOf(path);
  for (char& c : id->name) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return true;
}

std::string Absolute(const std::string& path) {
  char full[MAX_PATH * 4] = {};
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  return n == 0 || n >= sizeof full ? path : std::string(full, n);
}

#else

bool FollowLinks(const std::string& path, std::string* target, std::string* why) {
  std::string current = path;
  // As many links as the kernel itself follows before it calls it a loop.
  for (int hops = 0; hops < 40; ++hops) {
    struct stat s;
    if (lstat(current.c_str(), &s) != 0 || !S_ISLNK(s.st_mode)) {
      *target = current;
      return true;
    }
    std::vector<char> buffer(size_t(s.st_size > 0 ? s.st_size : PATH_MAX) + 1);
    const ssize_t n = readlink(current.c_str(), buffer.data(), buffer.size());
    if (n < 0 || size_t(n) >= buffer.size()) {
      if (why) *why = "cannot read the link " + current + ": " + SystemErrorText(n < 0 ? errno : ENAMETOOLONG);
      return false;
    }
    const std::string link(buffer.data(), size_t(n));
    current = !link.empty() && link[0] == '/' ? link : FolderOf(current) + "/" + link;
  }
  if (why) *why = path + ": too many levels of symbolic links";
  return false;
}

PathKind KindOf(const std::string& path) {
  struct stat s;
  if (stat(path.c_str(), &s) != 0) return PathKind::Missing;
  if (S_ISREG(s.st_mode)) return PathKind::File;
  if (S_ISDIR(s.st_mode)) return PathKind::Folder;
  return PathKind::Other;
}

bool Identify(const std::string& path, FileId* id, std::string* why) {
  struct stat s;
  if (stat(path.c_str(), &s) == 0) {
    id->device = uint64_t(s.st_dev);
    id->index = uint64_t(s.st_ino);
    id->name.clear();
    return true;
  }
  if (errno != ENOENT) {
    if (why) *why = SystemErrorText(errno);
    return false;
  }
  // Missing: a dangling link names the file it would create.
  std::string target;
  if (!FollowLinks(path, &target, why)) return false;
  const std::string folder = FolderOf(target);
  if (stat(folder.c_str(), &s) != 0) {
    if (why) *why = errno == ENOENT || errno == ENOTDIR ? "the folder " + folder + " does not exist"
                                                        : folder + ": " + SystemErrorText(errno);
    return false;
  }
  if (!S_ISDIR(s.st_mode)) {
    if (why) *why = folder + " is not a folder";
    return false;
  }
  id->device = uint64_t(s.st_dev);
  id->index = uint64_t(s.st_ino);
  id->name = NameOf(target);
  return true;
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::vector<char> folder(PATH_MAX);
  if (!getcwd(folder.data(), folder.size())) return path;
  return std::string(folder.data()) + "/" + path;
}

#endif

}  // namespace files
}  // namespace host
