// The POSIX half: names are bytes, passed on as they are.
#include "files/system_names.h"

namespace files {

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

int RemoveFile(const std::string& path) { return std::remove(path.c_str()); }

std::string CaseFolded(const std::string& name) { return name; }

std::filesystem::path SystemPath(const std::string& name) { return std::filesystem::path(name); }

std::string NameOfPath(const std::filesystem::path& path) { return path.native(); }

}  // namespace files
