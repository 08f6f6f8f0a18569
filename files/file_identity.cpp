#include "files/file_identity.h"

#include <cstring>
#include <string>

namespace files {

bool FileId::operator==(const FileId& o) const {
  return device == o.device && index == o.index && name == o.name;
}

std::string SystemErrorText(int code) { return std::strerror(code); }

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

}  // namespace files
