// A file written under a temporary name next to its target and moved over
// the target only when it is complete and on the disk, so a failure, a
// cancel or a crash never leaves half a file where a good one was.
//
// Temporary names are "<target>.kestrelle-<process id>-<n>.tmp" ("-w<id>-"
// for the Windows build, whose process ids are another namespace). A process
// killed outright cannot remove its own; the next one that stages a file in
// the same folder removes those whose process is gone.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace files {

class StagedFile {
 public:
  StagedFile() = default;
  ~StagedFile();  // removes the temporary file unless it has replaced the target
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Creates the temporary file, opened "w+b", next to where `target` leads:
  // for a symbolic link, next to the file it points to, which is the one
  // replaced (as cp writes through a link). Fails when the folder does not
  // exist or takes no new file, or the target is a folder.
  bool Create(const std::string& target, std::string* why);

  std::FILE* file() const { return file_; }
  // The file that will be replaced: `target` with its links followed.
  const std::string& destination() const { return destination_; }
  const std::string& temporary() const { return temporary_; }
  bool finished() const { return finished_; }

  // Hands what has been written since the last call to the disk without
  // waiting, once there is enough of it, so the sync in Finish finds little
  // left to write (a whole file written only at the end waits for all of
  // it). Call it between bands of rows.
  void WriteBehind();

  // Flushes, syncs to the disk and closes the temporary file; false with the
  // reason when any of it failed (a full disk shows up here).
  bool Finish(std::string* why);
  // Moves the finished file over the destination and, on POSIX, syncs the
  // folder so the new name survives a power cut.
  bool Commit(std::string* why);
  // Closes and removes the temporary file.
  void Discard();

 private:
  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;  // the file's stdio buffer, freed after it is closed
  std::string destination_;
  std::string temporary_;
  bool finished_ = false;
  long long handedToDisk_ = 0;  // bytes WriteBehind has started writing
};

// Is `name` (a file name without folder) one of our temporary names, and of
// which process?
bool ParseTemporaryName(const std::string& name, long* processId);

// Removes our temporary files in `folder` whose process has ended. Each
// folder is swept once per process.
void RemoveLeftovers(const std::string& folder);

// Removes the temporary files in `folder` of one process that has ended
// (a worker process that died while writing there).
void RemoveLeftoversOf(const std::string& folder, long processId);

// How writing a whole file through a staged file ended.
enum class WholeFileResult {
  Written,       // the target now holds exactly the bytes
  CannotCreate,  // no file could be created next to the target
  WriteFailed    // writing, syncing or replacing failed; the target is as it was
};

// Writes `size` bytes to `path` through a staged file, with the reason when
// it fails.
WholeFileResult ReplaceWholeFile(const std::string& path, const void* data, size_t size, std::string* why);

// The same for a string of bytes; false with the reason.
bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* why);

}  // namespace files
