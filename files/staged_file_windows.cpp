// Staged files on Windows: _O_EXCL creation, _commit, MoveFileEx (rename()
// does not replace an existing file there) and a folder search, all by the
// wide names.
#include "files/staged_file_os.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

#include "files/file_identity.h"
#include "files/system_names.h"

namespace files {
namespace os {

const char kTemporaryMarker[] = ".kestrelle-w";

long ThisProcess() { return long(_getpid()); }

bool ProcessIsGone(long id) {
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, DWORD(id));
  if (!h) return GetLastError() == ERROR_INVALID_PARAMETER;
  const bool ended = WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
  CloseHandle(h);
  return ended;
}

CreateResult CreateExclusive(const std::string& path, const std::string& replacing, std::FILE** out) {
  (void)replacing;  // a new file gets the folder's inherited permissions
  const int fd = _wopen(Wide(path).c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return errno == EEXIST ? CreateResult::Exists : CreateResult::Failed;
  *out = _fdopen(fd, "w+b");
  if (*out) return CreateResult::Created;
  const int code = errno;
  _close(fd);
  RemoveFile(path);
  errno = code;
  return CreateResult::Failed;
}

bool SyncData(std::FILE* file) { return _commit(_fileno(file)) == 0; }

long long FileSize(std::FILE* file) {
  const long long size = _filelengthi64(_fileno(file));
  return size > 0 ? size : 0;
}

void StartWriteBack(std::FILE* file, long long offset, long long length) {
  // Windows has no call that starts writing without waiting; the lazy
  // writer already flushes behind a sequential writer.
  (void)file, (void)offset, (void)length;
}

bool Replace(const std::string& from, const std::string& to, std::string* why) {
  if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  *why = "cannot replace the file: " + WindowsErrorText(GetLastError());
  return false;
}

void SyncFolder(const std::string& folder) {
  (void)folder;  // NTFS journals the rename itself
}

void ForEachTemporary(const std::string& folder, const std::function<void(const std::string& name)>& visit) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(Wide(FolderPrefix(folder) + "*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) visit(FromWide(found.cFileName));
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace os
}  // namespace files
