#include "platform/file_system.h"

#include "files/staged_file.h"
#include "files/system_names.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace platform {
namespace {

bool ReadOnly(const std::string& path) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesW(files::Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
#else
  // The file's own mark, as on Windows: even a user who could write it anyway
  // (the superuser) does not overwrite a file marked read-only.
  struct stat info;
  return stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
#endif
}

}  // namespace

ReplaceFileResult WriteFileReplacing(const std::string& path, const void* data, size_t size) {
  if (ReadOnly(path)) return ReplaceFileResult::CannotOpen;
  std::string why;  // the module's messages say it in the user's words
  switch (files::ReplaceWholeFile(path, data, size, &why)) {
    case files::WholeFileResult::Written: return ReplaceFileResult::Written;
    case files::WholeFileResult::CannotCreate: return ReplaceFileResult::CannotOpen;
    case files::WholeFileResult::WriteFailed: break;
  }
  return ReplaceFileResult::WriteFailed;
}

}  // namespace platform
