#include "cli/batch_report.h"

#include <cerrno>
#include <cstring>

#include "files/system_names.h"
#include "files/utf8.h"
#include "host/json.h"
#include "cli/worker_protocol.h"

namespace cli {
namespace {

std::string Seconds(double s, const char* format) {
  char text[32];
  std::snprintf(text, sizeof text, format, s);
  return text;
}

// A report is UTF-8 JSON whatever the names hold: a byte that is not part
// of UTF-8 (POSIX names may hold any) shows as U+FFFD.
std::string Text(const std::string& s) { return host::JsonQuote(files::Utf8Replacing(s)); }

// A name with its exact bytes beside it when the text cannot hold them.
std::string Name(const char* field, const std::string& name) {
  std::string out = "\"" + std::string(field) + "\":" + Text(name);
  if (files::IsUtf8(name)) return out;
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : name) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return out + ",\"" + field + "_bytes\":\"" + hex + "\"";
}

}  // namespace

const char* StatusName(FileStatus s) {
  switch (s) {
    case FileStatus::Done: return "done";
    case FileStatus::Skipped: return "skipped";
    case FileStatus::Failed: return "failed";
    case FileStatus::NotDone: return "not done";
    case FileStatus::Pending: break;
  }
  return "pending";
}

std::string FileLine(const BatchItem& item, FileStatus status, const FileOutcome& outcome) {
  const std::string time = " (" + Seconds(outcome.seconds, "%.2f") + " s)";
  switch (status) {
    case FileStatus::Done: return item.input + " -> " + item.output + ": done" + time;
    case FileStatus::Skipped: return item.input + " -> " + item.output + ": skipped (the output exists)";
    case FileStatus::Failed: return item.input + ": FAILED: " + outcome.error + time;
    case FileStatus::NotDone:
    case FileStatus::Pending: break;
  }
  return item.input + ": not done (cancelled)";
}

std::string WarningLine(const BatchItem& item, const std::string& warning) {
  for (const std::string* file : {&item.input, &item.output}) {
    const std::string named = "warning: " + *file + ": ";
    if (warning.compare(0, named.size(), named) == 0) return warning;
  }
  return item.input + ": " + warning;
}

std::string SummaryLine(const BatchCounts& c, double seconds) {
  std::string line = std::to_string(c.files) + (c.files == 1 ? " file: " : " files: ") + std::to_string(c.done) +
                     " done, " + std::to_string(c.skipped) + " skipped, " + std::to_string(c.failed) + " failed";
  if (c.notDone > 0) line += ", " + std::to_string(c.notDone) + " not done (cancelled)";
  line += " in " + Seconds(seconds, "%.1f") + " s";
  if (c.shardCount > 1)
    line += " (shard " + std::to_string(c.shardIndex) + "/" + std::to_string(c.shardCount) + " of " +
            std::to_string(c.allFiles) + " files)";
  return line;
}

std::string ReportLine(const BatchItem& item, FileStatus status, const FileOutcome& outcome) {
  std::string reason = outcome.error;
  if (status == FileStatus::Skipped) reason = "the output exists";
  if (status == FileStatus::NotDone) reason = "cancelled";
  std::string line = "{" + Name("input", item.input) + "," + Name("output", item.output) +
                     ",\"status\":" + host::JsonQuote(StatusName(status)) + ",\"reason\":" + Text(reason) +
                     ",\"seconds\":" + Seconds(outcome.seconds, "%.3f") + ",\"settings\":" + SettingsJson(outcome.settings);
  if (!outcome.warnings.empty()) {
    line += ",\"warnings\":[";
    for (size_t i = 0; i < outcome.warnings.size(); ++i) line += (i ? "," : "") + Text(outcome.warnings[i]);
    line += "]";
  }
  return line + "}";
}

ReportFile::~ReportFile() {
  if (file_) std::fclose(file_);
}

bool ReportFile::Open(const std::string& path, std::string* why) {
  // Not inherited by the worker processes.
#ifdef _WIN32
  file_ = files::OpenFile(path, "wbN");
#else
  file_ = files::OpenFile(path, "wbe");
#endif
  path_ = path;
  if (!file_) {
    *why = "--report " + path + ": cannot write: " + std::strerror(errno);
    return false;
  }
  return true;
}

bool ReportFile::Add(const std::string& line, std::string* why) {
  if (!file_) return false;
  const std::string text = line + "\n";
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0) {
    *why = "--report " + path_ + ": cannot write: " + std::strerror(errno);
    std::fclose(file_);
    file_ = nullptr;
    return false;
  }
  return true;
}

bool ReportFile::Close(std::string* why) {
  if (!file_) return true;
  const bool ok = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!ok) *why = "--report " + path_ + ": cannot write: " + std::strerror(errno);
  return ok;
}

}  // namespace cli
