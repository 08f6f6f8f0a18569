#include "files/staged_file.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <dirent.h>
#include <signal.h>
#include <unistd.h>
#endif

#include "files/file_identity.h"

namespace files {
namespace {

#ifdef _WIN32
const char kMarker[] = ".kestrelle-w";
long ThisProcess() { return long(_getpid()); }

bool ProcessIsGone(long id) {
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, DWORD(id));
  if (!h) return GetLastError() == ERROR_INVALID_PARAMETER;
  const bool ended = WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
  CloseHandle(h);
  return ended;
}
#else
const char kMarker[] = ".kestrelle-";
long ThisProcess() { return long(getpid()); }
bool ProcessIsGone(long id) { return kill(pid_t(id), 0) != 0 && errno == ESRCH; }
#endif

std::string ErrnoText() { return SystemErrorText(errno); }

void SyncFolder(const std::string& folder) {
#ifndef _WIN32
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  // Some file systems refuse to sync a folder; the rename itself has happened.
  (void)fsync(fd);
  close(fd);
#else
  (void)folder;  // NTFS journals the rename itself
#endif
}

}  // namespace

StagedFile::~StagedFile() { Discard(); }

bool StagedFile::Create(const std::string& target, std::string* why) {
  Discard();
  if (!FollowLinks(target, &destination_, why)) return false;
  const PathKind kind = KindOf(destination_);
  if (kind == PathKind::Folder) {
    *why = "is a folder";
    return false;
  }
  if (kind == PathKind::Other) {
    // A device or a pipe cannot be replaced by renaming onto it.
    *why = "is not a regular file";
    return false;
  }
  const std::string folder = FolderOf(destination_);
  if (KindOf(folder) != PathKind::Folder) {
    *why = "the folder " + folder + " does not exist";
    return false;
  }
  RemoveLeftovers(folder);

  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary_ = destination_ + kMarker + std::to_string(ThisProcess()) + "-" + std::to_string(++counter) + ".tmp";
#ifdef _WIN32
    const int fd = _open(temporary_.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    const int fd = open(temporary_.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
#endif
    if (fd < 0) {
      if (errno == EEXIST) continue;
      *why = "cannot create a file in " + folder + ": " + ErrnoText();
      temporary_.clear();
      return false;
    }
#ifdef _WIN32
    file_ = _fdopen(fd, "w+b");
#else
    // The new file takes the place of the old one with its permissions.
    struct stat existing;
    if (stat(destination_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
      (void)fchmod(fd, existing.st_mode & 07777);
    file_ = fdopen(fd, "w+b");
#endif
    if (!file_) {
      *why = ErrnoText();
#ifdef _WIN32
      _close(fd);
#else
      close(fd);
#endif
      std::remove(temporary_.c_str());
      temporary_.clear();
      return false;
    }
    finished_ = false;
    return true;
  }
  *why = "cannot create a file in " + folder + ": too many temporary files";
  temporary_.clear();
  return false;
}

bool StagedFile::Finish(std::string* why) {
  if (!file_) {
    *why = "nothing was written";
    return false;
  }
  bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
  int code = ok ? 0 : errno;
#ifdef _WIN32
  if (ok && _commit(_fileno(file_)) != 0) ok = false, code = errno;
#else
  if (ok && fsync(fileno(file_)) != 0) ok = false, code = errno;
#endif
  if (std::fclose(file_) != 0 && ok) ok = false, code = errno;
  file_ = nullptr;
  if (!ok) {
    *why = "cannot write: " + SystemErrorText(code ? code : EIO);
    return false;
  }
  finished_ = true;
  return true;
}

bool StagedFile::Commit(std::string* why) {
  if (!finished_ || temporary_.empty()) {
    *why = "the file was not finished";
    return false;
  }
#ifdef _WIN32
  // rename() does not replace an existing file on Windows.
  if (!MoveFileExA(temporary_.c_str(), destination_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *why = "cannot replace the file: " + WindowsErrorText(GetLastError());
    return false;
  }
#else
  if (std::rename(temporary_.c_str(), destination_.c_str()) != 0) {
    *why = "cannot replace the file: " + ErrnoText();
    return false;
  }
#endif
  temporary_.clear();
  finished_ = false;
  SyncFolder(FolderOf(destination_));
  return true;
}

void StagedFile::Discard() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  if (!temporary_.empty()) std::remove(temporary_.c_str());
  temporary_.clear();
  finished_ = false;
}

bool ParseTemporaryName(const std::string& name, long* processId) {
  const std::string suffix = ".tmp";
  if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  const size_t marker = name.rfind(kMarker);
  if (marker == std::string::npos || marker == 0) return false;
  // <digits>-<digits> between the marker and ".tmp", nothing else.
  const std::string rest = name.substr(marker + sizeof kMarker - 1,
                                       name.size() - suffix.size() - marker - (sizeof kMarker - 1));
  const size_t dash = rest.find('-');
  if (dash == std::string::npos || dash == 0 || dash + 1 == rest.size() || dash > 10) return false;
  for (size_t i = 0; i < rest.size(); ++i)
    if (i != dash && (rest[i] < '0' || rest[i] > '9')) return false;
  *processId = std::strtol(rest.substr(0, dash).c_str(), nullptr, 10);
  return *processId > 0;
}

namespace {

// Removes the temporary files in `folder` of the processes `gone` names.
template <typename Gone>
void RemoveTemporaries(const std::string& folder, Gone gone) {
  const std::string prefix = folder == "." ? "" : folder + (folder.back() == '/' || folder.back() == '\\' ? "" : "/");
  auto consider = [&](const std::string& name) {
    long process = 0;
    if (!ParseTemporaryName(name, &process) || process == ThisProcess() || !gone(process)) return;
    std::remove((prefix + name).c_str());
  };
#ifdef _WIN32
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((prefix + "*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) consider(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
#else
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = readdir(dir)) consider(entry->d_name);
  closedir(dir);
#endif
}

}  // namespace

void RemoveLeftovers(const std::string& folder) {
  static std::mutex mutex;
  static std::set<std::string> swept;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!swept.insert(Absolute(folder)).second) return;
  }
  RemoveTemporaries(folder, [](long process) { return ProcessIsGone(process); });
}

void RemoveLeftoversOf(const std::string& folder, long processId) {
  RemoveTemporaries(folder, [processId](long process) { return process == processId; });
}

WholeFileResult ReplaceWholeFile(const std::string& path, const void* data, size_t size, std::string* why) {
  StagedFile staged;
  if (!staged.Create(path, why)) return WholeFileResult::CannotCreate;
  if (size != 0 && std::fwrite(data, 1, size, staged.file()) != size) {
    *why = "cannot write: " + ErrnoText();
    return WholeFileResult::WriteFailed;
  }
  return staged.Finish(why) && staged.Commit(why) ? WholeFileResult::Written : WholeFileResult::WriteFailed;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* why) {
  return ReplaceWholeFile(path, bytes.data(), bytes.size(), why) == WholeFileResult::Written;
}

}  // namespace files
