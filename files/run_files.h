// Every file a run of kestrelle touches, in one place: which it reads,
// which it writes, and the groups of outputs that are replaced together.
//
// A run must never write over a file it reads or over another of its
// outputs, however the paths are spelt; and the outputs made from one input
// are all-or-nothing: each is staged next to its target, and the targets are
// replaced only when every one of them is written, so a failure, a full disk
// or a cancel leaves every existing file as it was.
#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "files/file_identity.h"
#include "files/staged_file.h"

namespace files {

enum class Use {
  Read,         // only read (the input, an action to play, a script, the module)
  Write,        // written (an output, a recorded action)
  ReadWrite,    // read, then written (the last-used settings)
  ScriptRead,   // read by a step of the dialog's script
  ScriptWrite,  // written by a step of the dialog's script
};

class RunFiles {
 public:
  // `role` names the path in messages: "INPUT", "OUTPUT", "--play", ...
  void Add(const std::string& path, const std::string& role, Use use);
  // Refuses any written file that is also read, or written twice: the
  // message names both roles and paths. Steps of one script may write a file
  // and read it back (save, then load settings). Folders of written files
  // must exist.
  // `sameFile` tells a refusal of two paths apart from a missing folder.
  bool Check(std::string* why, bool* sameFile = nullptr) const;

 private:
  struct Entry {
    std::string path, role;
    Use use;
  };
  std::vector<Entry> entries_;
};

// The outputs made from one input, replaced all together or not at all.
// Groups for different inputs may be used from different threads.
class OutputGroup {
 public:
  // `cancel` (optional) is checked before any file is replaced.
  explicit OutputGroup(const std::atomic<bool>* cancel = nullptr) : cancel_(cancel) {}
  // Discards whatever was not committed.
  ~OutputGroup() = default;
  OutputGroup(const OutputGroup&) = delete;
  OutputGroup& operator=(const OutputGroup&) = delete;

  // Stages an output before any work is done, so an unusable folder shows
  // before the filter runs. Returns its index through `index`.
  bool Stage(const std::string& path, size_t* index, std::string* why);
  // The staged file to write, opened "w+b" at offset 0.
  std::FILE* File(size_t index) const { return files_[index]->file(); }
  const std::string& Path(size_t index) const { return paths_[index]; }
  // Between bands of output `index`: see StagedFile::WriteBehind.
  void WriteBehind(size_t index) { files_[index]->WriteBehind(); }
  // Done writing output `index`: flushed, synced and closed.
  bool Finish(size_t index, std::string* why);
  // Replaces every target once all are finished. False when one is not
  // finished, when cancelled (`*cancelled` set) or when a rename fails.
  bool Commit(std::string* why, bool* cancelled = nullptr);
  // Removes every staged file.
  void Discard();

 private:
  const std::atomic<bool>* cancel_;
  std::vector<std::unique_ptr<StagedFile>> files_;
  std::vector<std::string> paths_;
};

}  // namespace files
