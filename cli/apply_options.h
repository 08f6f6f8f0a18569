// The apply command's command line: its options, their checks, its help.
#pragma once

#include <string>
#include <vector>

#include "hostapi/host_interface.h"
#include "hostapi/setting_table.h"
#include "host/descriptor.h"

namespace cli {

// The dialog's settings as options: each row's option, played as its
// scripting key and held to the range the filter clamps it to.
using SettingOption = SettingRow;
constexpr int kSettingOptionCount = kSettingCount;
inline constexpr const SettingOption (&kSettingOptions)[kSettingOptionCount] = kSettings;

struct ApplyOptions {
  std::string input, output, module, play, record, registry, sideBySide;
  host::Descriptor settings;
  bool hasSelection = false;
  VRect selection{};
  bool dialog = false;
  std::string uiFile, uiSteps, settingsFile;
  bool hasNeutralArea = false;
  VRect neutralArea{};
  int tile = 256;
  bool tileGiven = false;
  std::string hostProfile;  // empty: a complete host
  std::string hostRun;      // --host-run: "interactive", "scripted", "repeat"; empty: the host's usual run
  int quality = 0;          // JPEG outputs, 1..100; 0: the input JPEG's own, else 92
  bool quiet = false;
  bool help = false;

  // Many files: INPUT... --output-dir DIR. Empty outputDir: one INPUT OUTPUT.
  std::vector<std::string> inputs;
  std::string outputDir;
  bool recursive = false;
  std::string suffix;
  std::string format;  // "png", "tif", "jpg"; empty: each input's own
  bool skipExisting = false;
  int jobs = 0;  // 0: one per processor
  bool jobsGiven = false;
  std::string report;
  int shardIndex = 0, shardCount = 1;  // --shard K/N
  // A worker process of a batch: tasks on standard input, results on
  // standard output (started by kestrelle itself, not by users).
  bool worker = false;
  // Which of how many workers this one is ("--batch-worker=K/N"): each keeps
  // to its part of the processors, so the workers' render threads together
  // stay within the budget.
  int workerShare = 0, workerShares = 1;
  // The command line without the inputs and the batch options: what a
  // worker process is started with, so it opens the same session.
  std::vector<std::string> sessionArgs;

  bool batch() const { return !outputDir.empty(); }
};

// The hidden option that makes `kestrelle apply` a batch's worker process.
extern const char* const kWorkerOption;

extern const char* const kApplyHelp;

// The help with the host profiles listed.
std::string ApplyHelp();

// Reads the command line; returns kSuccess, or an exit code after saying
// what is wrong.
int ParseApplyOptions(const std::vector<std::string>& args, ApplyOptions& o);

// A value for a setting: a finite number within [low, high]. False with the
// reason ("'1e309' is out of range: R Gain takes 0.00392157 to 1000").
bool ParseSettingValue(const std::string& text, const SettingOption& s, double* value, std::string* why);

}  // namespace cli
