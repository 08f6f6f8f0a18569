// Staged files on POSIX: O_EXCL creation, fsync, rename and a folder sync.
#include "files/staged_file_os.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/file_identity.h"

namespace files {
namespace os {

const char kTemporaryMarker[] = ".kestrelle-";

long ThisProcess() { return long(getpid()); }

bool ProcessIsGone(long id) { return kill(pid_t(id), 0) != 0 && errno == ESRCH; }

CreateResult CreateExclusive(const std::string& path, const std::string& replacing, std::FILE** out) {
  const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? CreateResult::Exists : CreateResult::Failed;
  // The new file takes the place of the old one with its permissions.
  struct stat existing;
  if (stat(replacing.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) (void)fchmod(fd, existing.st_mode & 07777);
  *out = fdopen(fd, "w+b");
  if (*out) return CreateResult::Created;
  const int code = errno;
  close(fd);
  std::remove(path.c_str());
  errno = code;
  return CreateResult::Failed;
}

bool SyncData(std::FILE* file) { return fsync(fileno(file)) == 0; }

long long FileSize(std::FILE* file) {
  struct stat info;
  return fstat(fileno(file), &info) == 0 ? (long long)info.st_size : 0;
}

void StartWriteBack(std::FILE* file, long long offset, long long length) {
#ifdef SYNC_FILE_RANGE_WRITE
  (void)sync_file_range(fileno(file), off64_t(offset), off64_t(length), SYNC_FILE_RANGE_WRITE);
#else
  (void)file, (void)offset, (void)length;
#endif
}

bool Replace(const std::string& from, const std::string& to, std::string* why) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  *why = "cannot replace the file: " + SystemErrorText(errno);
  return false;
}

void SyncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  // Some file systems refuse to sync a folder; the rename itself has happened.
  (void)fsync(fd);
  close(fd);
}

void ForEachTemporary(const std::string& folder, const std::function<void(const std::string& name)>& visit) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) visit(name);
  }
  closedir(dir);
}

}  // namespace os
}  // namespace files
