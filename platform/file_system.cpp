#include "platform/file_system.h"

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {
namespace {

bool ReadOnly(const std::string& path) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
#else
  // The file's own mark, as on Windows: even a user who could write it anyway
  // (the superuser) does not overwrite a file marked read-only.
  struct stat info;
  return stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
#endif
}

std::string TemporaryName(const std::string& path) {
#ifdef _WIN32
  const unsigned long id = GetCurrentProcessId();
#else
  const unsigned long id = static_cast<unsigned long>(getpid());
#endif
  return path + "." + std::to_string(id) + ".tmp";
}

}  // namespace

ReplaceFileResult WriteFileReplacing(const std::string& path, const void* data, size_t size) {
  if (ReadOnly(path)) return ReplaceFileResult::CannotOpen;
  const std::string temporary = TemporaryName(path);
  FILE* out = std::fopen(temporary.c_str(), "wb");
  if (!out) return ReplaceFileResult::CannotOpen;
  bool ok = std::fwrite(data, 1, size, out) == size && std::fflush(out) == 0;
#ifndef _WIN32
  ok = ok && fsync(fileno(out)) == 0;
#endif
  ok = std::fclose(out) == 0 && ok;
#ifdef _WIN32
  ok = ok && MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
  ok = ok && std::rename(temporary.c_str(), path.c_str()) == 0;
#endif
  if (!ok) {
    std::remove(temporary.c_str());
    return ReplaceFileResult::WriteFailed;
  }
  return ReplaceFileResult::Written;
}

}  // namespace platform
