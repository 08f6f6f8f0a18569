#include "files/run_files.h"

namespace files {
namespace {

bool Writes(Use u) { return u == Use::Write || u == Use::ReadWrite || u == Use::ScriptWrite; }
bool FromScript(Use u) { return u == Use::ScriptRead || u == Use::ScriptWrite; }

}  // namespace

void RunFiles::Add(const std::string& path, const std::string& role, Use use) {
  if (!path.empty()) entries_.push_back({path, role, use});
}

bool RunFiles::Check(std::string* why, bool* sameFile) const {
  if (sameFile) *sameFile = false;
  std::vector<FileId> ids(entries_.size());
  std::vector<bool> known(entries_.size(), false);
  for (size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    std::string reason;
    known[i] = Identify(e.path, &ids[i], &reason);
    // A file that is only read and cannot be found is reported when it is
    // read; an output whose folder is missing can never be written. (The
    // last-used settings are kept when they can be: their own failure is
    // reported after the outputs are written.)
    if (!known[i] && e.use == Use::Write) {
      *why = e.path + ": cannot write: " + reason;
      return false;
    }
  }
  for (size_t i = 0; i < entries_.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      const Entry &a = entries_[j], &b = entries_[i];
      if (!known[i] || !known[j] || ids[i] != ids[j]) continue;
      if (!Writes(a.use) && !Writes(b.use)) continue;
      if (FromScript(a.use) && FromScript(b.use)) continue;
      const Entry& written = Writes(b.use) ? b : a;
      const Entry& other = &written == &b ? a : b;
      if (sameFile) *sameFile = true;
      *why = written.role + " " + written.path + " is the same file as " + other.role + " " + other.path +
             (Writes(other.use) ? "; a run writes each file once" : "; a run never writes a file it reads") +
             ", so nothing was written";
      return false;
    }
  }
  return true;
}

bool OutputGroup::Stage(const std::string& path, size_t* index, std::string* why) {
  auto file = std::make_unique<StagedFile>();
  std::string reason;
  if (!file->Create(path, &reason)) {
    *why = path + ": " + (reason.rfind("is ", 0) == 0 ? reason : "cannot write: " + reason);
    return false;
  }
  files_.push_back(std::move(file));
  paths_.push_back(path);
  *index = files_.size() - 1;
  return true;
}

bool OutputGroup::Finish(size_t index, std::string* why) {
  std::string reason;
  if (files_[index]->Finish(&reason)) return true;
  *why = paths_[index] + ": " + reason;
  return false;
}

bool OutputGroup::Commit(std::string* why, bool* cancelled) {
  if (cancelled) *cancelled = false;
  for (size_t i = 0; i < files_.size(); ++i) {
    if (!files_[i]->finished()) {
      *why = paths_[i] + ": was not written";
      Discard();
      return false;
    }
  }
  // The last moment a cancel can keep every file as it was; the renames
  // that follow take microseconds and are not interrupted halfway.
  if (cancel_ && cancel_->load()) {
    if (cancelled) *cancelled = true;
    *why = "cancelled";
    Discard();
    return false;
  }
  for (size_t i = 0; i < files_.size(); ++i) {
    std::string reason;
    if (!files_[i]->Commit(&reason)) {
      *why = paths_[i] + ": " + reason;
      Discard();
      return false;
    }
  }
  files_.clear();
  paths_.clear();
  return true;
}

void OutputGroup::Discard() {
  for (auto& f : files_) f->Discard();
  files_.clear();
  paths_.clear();
}

}  // namespace files
