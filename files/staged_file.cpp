#include "files/staged_file.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <set>

#include "files/file_identity.h"
#include "files/staged_file_os.h"
#include "files/system_names.h"

namespace files {
namespace {

std::string ErrnoText() { return SystemErrorText(errno); }

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
    temporary_ = destination_ + os::kTemporaryMarker + std::to_string(os::ThisProcess()) + "-" +
                 std::to_string(++counter) + ".tmp";
    const os::CreateResult created = os::CreateExclusive(temporary_, destination_, &file_);
    if (created == os::CreateResult::Exists) continue;
    if (created == os::CreateResult::Failed) {
      *why = "cannot create a file in " + folder + ": " + ErrnoText();
      temporary_.clear();
      return false;
    }
    // Outputs are tens of megabytes written in order: a write per megabyte,
    // not per few kilobytes (stdio takes the size only with a buffer).
    constexpr size_t kBufferBytes = 1 << 20;
    buffer_.reset(new (std::nothrow) char[kBufferBytes]);
    if (buffer_) (void)std::setvbuf(file_, buffer_.get(), _IOFBF, kBufferBytes);
    finished_ = false;
    handedToDisk_ = 0;
    return true;
  }
  *why = "cannot create a file in " + folder + ": too many temporary files";
  temporary_.clear();
  return false;
}

void StagedFile::WriteBehind() {
  // Large enough that the calls cost nothing next to the writing, small
  // enough that the disk starts early.
  constexpr long long kChunk = 2 << 20;
  if (!file_ || std::fflush(file_) != 0) return;
  const long long end = os::FileSize(file_);
  if (end - handedToDisk_ < kChunk) return;
  os::StartWriteBack(file_, handedToDisk_, end - handedToDisk_);
  handedToDisk_ = end;
}

bool StagedFile::Finish(std::string* why) {
  if (!file_) {
    *why = "nothing was written";
    return false;
  }
  bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
  int code = ok ? 0 : errno;
  if (ok && !os::SyncData(file_)) ok = false, code = errno;
  if (std::fclose(file_) != 0 && ok) ok = false, code = errno;
  file_ = nullptr;
  buffer_.reset();
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
  if (!os::Replace(temporary_, destination_, why)) return false;
  temporary_.clear();
  finished_ = false;
  os::SyncFolder(FolderOf(destination_));
  return true;
}

void StagedFile::Discard() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  buffer_.reset();
  if (!temporary_.empty()) RemoveFile(temporary_);
  temporary_.clear();
  finished_ = false;
}

bool ParseTemporaryName(const std::string& name, long* processId) {
  const std::string suffix = ".tmp";
  if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  const size_t marker = name.rfind(os::kTemporaryMarker);
  if (marker == std::string::npos || marker == 0) return false;
  // <digits>-<digits> between the marker and ".tmp", nothing else.
  const size_t markerLength = std::strlen(os::kTemporaryMarker);
  const std::string rest = name.substr(marker + markerLength, name.size() - suffix.size() - marker - markerLength);
  const size_t dash = rest.find('-');
  if (dash == std::string::npos || dash == 0 || dash + 1 == rest.size() || dash > 10) return false;
  for (size_t i = 0; i < rest.size(); ++i)
    if (i != dash && (rest[i] < '0' || rest[i] > '9')) return false;
  *processId = std::strtol(rest.substr(0, dash).c_str(), nullptr, 10);
  return *processId > 0;
}

namespace os {

std::string FolderPrefix(const std::string& folder) {
  return folder == "." ? "" : folder + (folder.back() == '/' || folder.back() == '\\' ? "" : "/");
}

}  // namespace os

namespace {

// Removes the temporary files in `folder` of the processes `gone` names.
template <typename Gone>
void RemoveTemporaries(const std::string& folder, Gone gone) {
  const std::string prefix = os::FolderPrefix(folder);
  os::ForEachTemporary(folder, [&](const std::string& name) {
    long process = 0;
    if (!ParseTemporaryName(name, &process) || process == os::ThisProcess() || !gone(process)) return;
    RemoveFile(prefix + name);
  });
}

}  // namespace

void RemoveLeftovers(const std::string& folder) {
  static std::mutex mutex;
  static std::set<std::string> swept;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!swept.insert(Absolute(folder)).second) return;
  }
  RemoveTemporaries(folder, [](long process) { return os::ProcessIsGone(process); });
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
