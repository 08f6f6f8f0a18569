#include "cli/batch_plan.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>
#include <tuple>

#include "files/file_identity.h"
#include "files/system_names.h"
#include "cli/cli.h"

namespace cli {
namespace {

namespace fs = std::filesystem;
using files::FileId;
using files::PathKind;

#ifdef _WIN32
const char kSeparator = '\\';
#else
const char kSeparator = '/';
#endif

std::string Lower(std::string s) {
  for (char& c : s) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

// Where the extension starts; npos for none (".hidden" has none).
size_t ExtensionAt(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? std::string::npos : dot;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  if (last == '/' || last == kSeparator) return folder + name;
  return folder + kSeparator + name;
}

// An input file and where it lies below the input it came from ("sub/x.png"
// for a file of a subfolder, "x.png" otherwise).
struct Found {
  std::string path, relative;
};

// The image files of `folder` (and of its subfolders when `recursive`;
// folders reached through a link are not entered, so a link cannot make a
// loop). Names starting with '.' are left out: hidden files, and the
// metadata files some systems leave next to photos.
bool ListFolder(const std::string& folder, const std::string& relative, bool recursive, std::vector<Found>& found,
                std::string* why) {
  std::error_code e;
  fs::directory_iterator it(files::SystemPath(folder), e), end;
  std::vector<std::string> names;
  for (; !e && it != end; it.increment(e)) names.push_back(files::NameOfPath(it->path().filename()));
  if (e) {
    *why = "cannot read the folder " + folder + ": " + e.message();
    return false;
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (name.empty() || name[0] == '.') continue;
    const std::string path = Join(folder, name), inside = relative.empty() ? name : Join(relative, name);
    const bool link = fs::is_symlink(fs::symlink_status(files::SystemPath(path), e));
    const PathKind kind = files::KindOf(path);
    if (kind == PathKind::Folder) {
      if (recursive && !link && !ListFolder(path, inside, recursive, found, why)) return false;
    } else if (kind == PathKind::File && IsImageName(name)) {
      found.push_back({path, inside});
    }
  }
  return true;
}

// FileId in an ordered map.
typedef std::tuple<uint64_t, uint64_t, std::string> IdKey;
IdKey KeyOf(const FileId& id) { return IdKey(id.device, id.index, id.name); }

// A refusal of two files that are one.
std::string Same(const std::string& a, const std::string& b, const std::string& why) {
  return a + " is the same file as " + b + "; " + why + ", so nothing was done";
}

// Is DIR inside (or the same as) a folder read recursively? Then the next
// run over that folder would take this run's outputs as its inputs.
bool OutputDirInsideTree(const ApplyOptions& o, std::string* why) {
  std::map<IdKey, std::string> trees;
  for (const std::string& input : o.inputs) {
    FileId id;
    if (files::KindOf(input) == PathKind::Folder && files::Identify(input, &id, nullptr))
      trees[KeyOf(id)] = input;
  }
  if (trees.empty()) return false;
  // The nearest part of DIR that exists, then every folder above it.
  std::string existing = o.outputDir;
  for (int guard = 0; files::KindOf(existing) == PathKind::Missing && guard < 4096; ++guard) {
    const std::string up = files::FolderOf(existing);
    if (up == existing) break;
    existing = up;
  }
  std::error_code e;
  fs::path at = fs::canonical(files::SystemPath(existing), e);
  if (e) return false;
  for (int guard = 0; guard < 4096; ++guard) {
    FileId id;
    if (files::Identify(files::NameOfPath(at), &id, nullptr)) {
      auto hit = trees.find(KeyOf(id));
      if (hit != trees.end()) {
        *why = "--output-dir " + o.outputDir + " lies inside " + hit->second +
               ", which --recursive reads: the outputs would be taken as inputs by the next run over it; "
               "write them outside that folder, so nothing was done";
        return true;
      }
    }
    if (!at.has_parent_path() || at.parent_path() == at) break;
    at = at.parent_path();
  }
  return false;
}

}  // namespace

bool IsImageName(const std::string& name) {
  const size_t at = ExtensionAt(name);
  if (at == std::string::npos) return false;
  const std::string ext = Lower(name.substr(at + 1));
  return ext == "png" || ext == "tif" || ext == "tiff" || ext == "jpg" || ext == "jpeg";
}

std::string OutputName(const std::string& inputName, const std::string& suffix, const std::string& format) {
  const size_t at = ExtensionAt(inputName);
  const std::string stem = at == std::string::npos ? inputName : inputName.substr(0, at);
  const std::string ext = !format.empty() ? "." + format : at == std::string::npos ? "" : inputName.substr(at);
  return stem + suffix + ext;
}

int PlanBatch(const ApplyOptions& o, const std::vector<SessionFile>& reads, BatchPlan* plan, std::string* why) {
  const PathKind dirKind = files::KindOf(o.outputDir);
  if (dirKind != PathKind::Missing && dirKind != PathKind::Folder) {
    *why = "--output-dir " + o.outputDir + " is not a folder";
    return kUsage;
  }
  if (o.recursive && OutputDirInsideTree(o, why)) return kUsage;

  // Every input file, with the name its output takes below DIR. A path
  // that names no folder is taken as a file even when it does not exist:
  // it fails on its own, and the others go on.
  std::vector<Found> found;
  for (const std::string& input : o.inputs) {
    if (files::KindOf(input) == PathKind::Folder) {
      if (!ListFolder(input, "", o.recursive, found, why)) return kFailure;
    } else {
      found.push_back({input, files::NameOf(input)});
    }
  }
  std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.path < b.path; });

  // Output names, refused when two inputs would write one output; a file
  // given twice (by a folder and by name, say) is done once.
  std::vector<BatchItem> all;
  std::map<std::string, size_t> byName;
  for (const Found& f : found) {
    const std::string name = files::NameOf(f.relative);
    const std::string folder = name == f.relative ? "" : files::FolderOf(f.relative);
    const std::string relative = Join(folder, OutputName(name, o.suffix, o.format));
    const std::string key = files::CaseFolded(relative);  // on Windows, names that differ in case only are one file
    auto [at, added] = byName.emplace(key, all.size());
    if (!added) {
      const BatchItem& first = all[at->second];
      FileId a, b;
      if (files::Identify(first.input, &a, nullptr) && files::Identify(f.path, &b, nullptr) && a == b &&
          a.name.empty())
        continue;
      *why = first.input + " and " + f.path + " would both be written to " + Join(o.outputDir, relative) +
             ", which can hold only one of them, so nothing was done";
      return kUsage;
    }
    all.push_back({f.path, Join(o.outputDir, relative)});
  }

  // What the run reads, by identity: an output or the report on any of it
  // would destroy it, however the path is spelt.
  std::map<IdKey, std::string> read;
  for (const BatchItem& item : all) {
    FileId id;
    if (files::Identify(item.input, &id, nullptr) && id.name.empty()) read.emplace(KeyOf(id), "INPUT " + item.input);
  }
  for (const SessionFile& s : reads) {
    FileId id;
    if (!s.path.empty() && files::Identify(s.path, &id, nullptr) && id.name.empty())
      read.emplace(KeyOf(id), s.role + " " + s.path);
  }
  std::map<IdKey, std::string> written;
  if (dirKind == PathKind::Folder) {
    for (const BatchItem& item : all) {
      FileId id;
      if (!files::Identify(item.output, &id, nullptr)) continue;  // its subfolder is made later
      auto hit = read.find(KeyOf(id));
      if (hit != read.end()) {
        *why = Same("the output " + item.output + " of " + item.input, hit->second, "a run never writes a file it reads");
        return kUsage;
      }
      // Two names for one file (a link inside DIR, say).
      auto [other, added] = written.emplace(KeyOf(id), "the output " + item.output + " of " + item.input);
      if (!added) {
        *why = Same("the output " + item.output + " of " + item.input, other->second, "a run writes each file once");
        return kUsage;
      }
    }
  }
  if (!o.report.empty()) {
    FileId id;
    std::string reason;
    // DIR may not exist yet: a report in it is checked by its name.
    const std::string reportFolder = files::FolderOf(o.report);
    if (dirKind == PathKind::Missing &&
        (reportFolder == o.outputDir || Join(reportFolder, "") == Join(o.outputDir, ""))) {
      const auto hit = byName.find(files::CaseFolded(files::NameOf(o.report)));
      if (hit != byName.end()) {
        *why = Same("--report " + o.report, "the output " + all[hit->second].output + " of " + all[hit->second].input,
                    "a run writes each file once");
        return kUsage;
      }
    } else if (!files::Identify(o.report, &id, &reason)) {
      *why = "--report " + o.report + ": cannot write: " + reason;
      return kFailure;
    } else if (read.count(KeyOf(id))) {
      *why = Same("--report " + o.report, read[KeyOf(id)], "a run never writes a file it reads");
      return kUsage;
    } else if (written.count(KeyOf(id))) {
      *why = Same("--report " + o.report, written[KeyOf(id)], "a run writes each file once");
      return kUsage;
    } else if (files::KindOf(o.report) == PathKind::Folder) {
      *why = "--report " + o.report + ": is a folder";
      return kFailure;
    }
  }

  // This machine's part: every N-th file from the K-th, so each part gets
  // files from all over the list (a folder of large files does not land on
  // one machine), and every file is in exactly one part.
  plan->allFiles = all.size();
  plan->items.clear();
  for (size_t i = size_t(o.shardIndex); i < all.size(); i += size_t(o.shardCount)) plan->items.push_back(all[i]);
  return kSuccess;
}

}  // namespace cli
