// What a run over many files says about each one and about the whole: a
// line per file, the closing summary, and the report file (one JSON line
// per file, written as each finishes, so it is whole even when the run is
// cancelled or killed between files).
#pragma once

#include <cstdio>
#include <string>

#include "cli/apply_session.h"
#include "cli/batch_plan.h"

namespace cli {

enum class FileStatus { Pending, Done, Skipped, Failed, NotDone };

// "done", "skipped", "failed", "not done".
const char* StatusName(FileStatus s);

// The file's line: "IN -> OUT: done (0.21 s)", "IN -> OUT: skipped (the
// output exists)", "IN: FAILED: reason (0.02 s)", "IN: not done (cancelled)".
std::string FileLine(const BatchItem& item, FileStatus status, const FileOutcome& outcome);

// A warning about the file, as said on standard error: as it is when it
// names the file already ("warning: IN: ..."), after the input's name
// otherwise.
std::string WarningLine(const BatchItem& item, const std::string& warning);

struct BatchCounts {
  size_t files = 0, done = 0, skipped = 0, failed = 0, notDone = 0;
  size_t allFiles = 0;          // in every shard
  int shardIndex = 0, shardCount = 1;
};

// "50 files: 47 done, 2 skipped, 1 failed in 12.3 s", with ", 3 not done
// (cancelled)" before the time when a cancel stopped the run and the shard
// after it.
std::string SummaryLine(const BatchCounts& counts, double seconds);

// One JSON object, without the line's end: valid UTF-8 whatever the names
// hold. A name that is not UTF-8 has each of its other bytes shown as
// U+FFFD, and its exact bytes in hexadecimal in "input_bytes" or
// "output_bytes" next to it.
std::string ReportLine(const BatchItem& item, FileStatus status, const FileOutcome& outcome);

class ReportFile {
 public:
  ReportFile() = default;
  ~ReportFile();
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;

  // Starts the file anew; false with the reason.
  bool Open(const std::string& path, std::string* why);
  // Adds a line and hands it to the system at once. False once a write
  // failed (a full disk), with the reason.
  bool Add(const std::string& line, std::string* why);
  // Flushes and closes; false with the reason when that failed.
  bool Close(std::string* why);

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
};

}  // namespace cli
