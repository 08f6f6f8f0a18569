#include "cli/batch_command.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "files/file_identity.h"
#include "files/system_names.h"
#include "host/host_profiles.h"
#include "platform/processors.h"
#include "cli/apply_session.h"
#include "cli/batch_plan.h"
#include "cli/batch_report.h"
#include "cli/cli.h"
#include "cli/interrupts.h"
#include "cli/worker_pool.h"
#include "cli/worker_process.h"

namespace cli {
namespace {

using files::PathKind;

// A counter on a terminal; the failures are printed above it.
class FilesBar {
 public:
  FilesBar(bool enabled, size_t total) : enabled_(enabled && total > 0), total_(total) {}
  ~FilesBar() { Clear(); }
  void Show(size_t finished, size_t failed) {
    if (!enabled_) return;
    const int filled = int(finished * 30 / total_);
    std::fprintf(stderr, "\r[%s%s] %zu/%zu files%s", std::string(size_t(filled), '#').c_str(),
                 std::string(size_t(30 - filled), '.').c_str(), finished, total_,
                 failed ? (", " + std::to_string(failed) + " failed").c_str() : "");
    std::fflush(stderr);
    shown_ = true;
  }
  void Clear() {
    if (!shown_) return;
    std::fprintf(stderr, "\r%60s\r", "");
    std::fflush(stderr);
    shown_ = false;
  }
  bool enabled() const { return enabled_; }

 private:
  bool enabled_;
  size_t total_;
  bool shown_ = false;
};

// The last-used settings are one file for every run of the batch when
// --registry names it, or when the host has no registry (the filter keeps
// them in its own file): each file then starts from the previous file's
// settings, and only one file at a time keeps the result independent of
// the order the files finish in.
bool SharesLastUsed(const ApplyOptions& o) {
  if (!o.registry.empty()) return true;
  host::HostOptions traits;
  host::FindHostProfile(o.hostProfile.empty() ? "photoshop" : o.hostProfile)->apply(traits, 1, 1);
  return !traits.offerBasicSuite;
}

// Script steps that write a file would write the same file for every input.
bool ScriptWritesFiles(const host::UiScript& script, std::string* why) {
  for (const host::UiStep& s : script.steps) {
    if (s.action != host::UiAction::Screenshot && s.action != host::UiAction::SaveSettings) continue;
    *why = "'" + s.source + "' (line " + std::to_string(s.line) +
           ") writes one file, which every input would write again: with --output-dir the script may not "
           "take screenshots or save settings";
    return true;
  }
  return false;
}

std::vector<SessionFile> SessionReads(const ApplySession& session) {
  const ApplyOptions& o = session.options();
  std::vector<SessionFile> reads = {{o.play, "--play"},
                                    {o.uiFile, "--ui"},
                                    {o.settingsFile, "--settings"},
                                    {o.registry, "--registry"},
                                    {session.modulePath(), "--module"}};
  for (const host::UiStep& s : session.script().steps)
    if (s.action == host::UiAction::LoadSettings && s.line != 0) reads.push_back({s.text, "'" + s.source + "'"});
  return reads;
}

bool MakeFolder(const std::string& folder, std::string* why) {
  std::error_code e;
  std::filesystem::create_directories(files::SystemPath(folder), e);
  if (e && files::KindOf(folder) != PathKind::Folder) {
    *why = "cannot make the folder " + folder + ": " + e.message();
    return false;
  }
  return true;
}

}  // namespace

int BatchCommand(const ApplyOptions& options) {
  const auto started = std::chrono::steady_clock::now();
  ApplyOptions o = options;
  if (SharesLastUsed(o)) {
    if (o.jobsGiven && o.jobs > 1) {
      Error("--jobs " + std::to_string(o.jobs) + ": " +
            (o.registry.empty() ? "that host keeps no settings, so the filter keeps its last-used settings in its "
                                  "own file"
                                : std::string("--registry keeps the last-used settings in one file")) +
            ", from which each file starts where the last one left off; such runs take one file at a time "
            "(--jobs 1)");
      return kUsage;
    }
    o.jobs = 1;
  }
  if (o.jobs == 0) o.jobs = platform::ProcessorBudget();

  ApplySession session;
  std::string error;
  if (int code = session.Open(o, &error)) {
    Error(error);
    return code;
  }
  if (ScriptWritesFiles(session.script(), &error)) {
    Error(error);
    return kUsage;
  }
  BatchPlan plan;
  if (int code = PlanBatch(o, SessionReads(session), &plan, &error)) {
    Error(error);
    return code;
  }
  if (plan.allFiles == 0) {
    std::string inputs;
    for (const std::string& i : o.inputs) inputs += (inputs.empty() ? "" : ", ") + i;
    Error("no PNG, TIFF or JPEG files in " + inputs + (o.recursive ? "" : " (--recursive takes subfolders too)"));
    return kFailure;
  }
  if (!MakeFolder(o.outputDir, &error)) {
    Error(error);
    return kFailure;
  }
  ReportFile report;
  if (!o.report.empty() && !report.Open(o.report, &error)) {
    Error(error);
    return kFailure;
  }

  // What the run says: a line per file unless a progress bar shows on the
  // terminal that would show the lines; failures always.
  const std::vector<BatchItem>& items = plan.items;
  std::vector<FileStatus> status(items.size(), FileStatus::Pending);
  BatchCounts counts;
  counts.files = items.size();
  counts.allFiles = plan.allFiles;
  counts.shardIndex = o.shardIndex;
  counts.shardCount = o.shardCount;
  FilesBar bar(!o.quiet && IsTerminal(stderr), items.size());
  const bool everyLine = !bar.enabled() || !IsTerminal(stdout);
  std::string reportError;
  auto say = [&](const std::string& line) {
    bar.Clear();
    Print(stdout, line + "\n");
    std::fflush(stdout);
  };
  auto finish = [&](size_t id, FileStatus s, const FileOutcome& outcome) {
    status[id] = s;
    const BatchItem& item = items[id];
    (s == FileStatus::Done ? counts.done : s == FileStatus::Skipped ? counts.skipped
                                         : s == FileStatus::Failed  ? counts.failed
                                                                    : counts.notDone)++;
    // Warnings go to standard error, past any progress bar: metadata a file
    // lost matters even when the file is done.
    for (const std::string& w : outcome.warnings) {
      bar.Clear();
      Error(WarningLine(item, w));
    }
    if (s == FileStatus::Failed || everyLine) say(FileLine(item, s, outcome));
    if (reportError.empty() && !o.report.empty()) report.Add(ReportLine(item, s, outcome), &reportError);
    bar.Show(counts.done + counts.skipped + counts.failed + counts.notDone, counts.failed);
  };

  size_t cursor = 0;
  const NextTask next = [&](size_t* id, FileTask* task) {
    for (; cursor < items.size(); ++cursor) {
      const BatchItem& item = items[cursor];
      if (o.skipExisting && files::KindOf(item.output) == PathKind::File) {
        finish(cursor, FileStatus::Skipped, FileOutcome{});
        continue;
      }
      std::string why;
      if (!MakeFolder(files::FolderOf(item.output), &why)) {
        FileOutcome failed;
        failed.exitCode = kFailure;
        failed.error = why + "; nothing was written";
        finish(cursor, FileStatus::Failed, failed);
        continue;
      }
      *id = cursor++;
      *task = FileTask{item.input, item.output, "", ""};
      return true;
    }
    return false;
  };
  const TaskDone done = [&](size_t id, const FileOutcome& outcome) {
    const FileStatus s = outcome.cancelled ? FileStatus::NotDone
                         : outcome.exitCode == kSuccess ? FileStatus::Done
                                                        : FileStatus::Failed;
    finish(id, s, outcome);
  };
  bar.Show(0, 0);
  // One file needs no worker: it would only add a process start.
  size_t left = items.size();
  if (o.jobs <= 1 || left <= 1)
    RunInProcess(session, next, done);
  else
    RunInWorkers(int(std::min<size_t>(size_t(o.jobs), left)), o.sessionArgs, next, done);

  // Files a cancel kept from starting: said in the summary, and each in
  // the report, so it lists every file of the run.
  for (size_t i = 0; i < items.size(); ++i) {
    if (status[i] != FileStatus::Pending) continue;
    status[i] = FileStatus::NotDone;
    ++counts.notDone;
    if (reportError.empty() && !o.report.empty()) report.Add(ReportLine(items[i], FileStatus::NotDone, {}), &reportError);
  }
  bar.Clear();
  if (reportError.empty()) report.Close(&reportError);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::fputs((SummaryLine(counts, seconds) + "\n").c_str(), stdout);
  std::fflush(stdout);
  if (!reportError.empty()) Error(reportError);
  if (Cancelled()) return CancelExitCode();
  return counts.failed > 0 || !reportError.empty() ? kFailure : kSuccess;
}

}  // namespace cli
