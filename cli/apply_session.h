// One apply run split in two: what is the same for every file (the options
// checked, the dialog's script and the played action read, the host to play,
// the module loaded), and the run on one file, which says what it came to
// instead of printing it, so a run over many files can report each.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/descriptor.h"
#include "host/host_profiles.h"
#include "host/host_runs.h"
#include "host/message_log.h"
#include "host/plugin_module.h"
#include "host/ui/ui_script.h"
#include "cli/apply_options.h"

namespace cli {

// What one file's run came to.
struct FileOutcome {
  int exitCode = 0;                   // what `kestrelle apply` exits with for this file alone
  std::string error;                  // why it failed; empty on success
  std::vector<std::string> warnings;  // said before the error, whole ("warning: ...")
  bool cancelled = false;             // by a signal: nothing was replaced
  double seconds = 0;                 // the whole run on this file
  // The settings the filter applied ("--red-gain", value), as it recorded
  // them; empty when it recorded none (hosts without actions, failures).
  std::vector<std::pair<std::string, double>> settings;

  // A file that failed for `why`.
  static FileOutcome Failure(int exitCode, const std::string& why);
  // A file a cancel stopped: nothing was replaced (the exit code says which
  // signal it was).
  static FileOutcome Cancel();
};

// The outputs of one file.
struct FileTask {
  std::string input, output;
  std::string sideBySide, record;  // optional
};

class ApplySession {
 public:
  ApplySession();
  ~ApplySession();

  // Checks the options that do not depend on a file, builds the script,
  // reads the action and loads the module. kSuccess, or the exit code with
  // the reason in *error.
  int Open(const ApplyOptions& options, std::string* error);

  // Told of the filter's progress on the current file.
  void SetProgress(std::function<void(int32 done, int32 total)> progress) { progress_ = std::move(progress); }

  // Filters one file into its outputs; all-or-nothing.
  FileOutcome Run(const FileTask& task);

  const ApplyOptions& options() const { return o_; }
  // The files every run of this session reads (besides its input).
  const std::string& modulePath() const { return modulePath_; }
  // Whether runs open the filter's dialog.
  bool dialog() const { return dialog_; }
  // The dialog's script, whole (the options' steps and the user's).
  const host::UiScript& script() const { return script_; }

 private:
  // One file's run, in the order they come; each phase that stops the run
  // leaves its outcome in the FileRun and returns false.
  struct FileRun;
  FileOutcome RunTimed(const FileTask& task);
  bool CheckPaths(FileRun& r) const;
  bool ReadHeader(FileRun& r) const;
  bool ReadPicture(FileRun& r) const;
  bool StageOutputs(FileRun& r) const;
  bool RunHost(FileRun& r);
  bool WriteOutputs(FileRun& r) const;
  void Commit(FileRun& r) const;
  // Parts of running the host.
  host::HostOptions HostOptionsFor(const FileRun& r) const;
  std::unique_ptr<host::Host> MakeHost(FileRun& r, const host::HostOptions& options, host::KeptRun& earlier);
  bool CheckRun(FileRun& r, host::Host& h, int16 failed, const std::vector<host::ShownBox>& shown) const;
  bool TakeResults(FileRun& r, host::Host& h) const;
  // "Repeat last filter": a fresh load of the module, no dialog.
  bool Repeat() const { return profile_->runModes && run_ == host::HostRun::Repeat; }

  ApplyOptions o_;
  const host::HostProfile* profile_ = nullptr;
  host::HostRun run_ = host::HostRun::Interactive;  // for a host with run modes
  bool keepsOutputApart_ = false;  // the host's output starts empty: the whole picture is kept
  host::UiScript script_;
  bool scripted_ = false, dialog_ = false;
  host::Descriptor action_;
  std::string modulePath_;
  host::PluginModule module_;
  std::function<void(int32, int32)> progress_;
};

}  // namespace cli
