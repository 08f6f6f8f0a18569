// What a batch and its worker processes say to each other through the
// worker's standard input and output: one JSON object a line, so any path
// (a newline in a file name included) and every setting's exact value
// travel unchanged.
//
//   batch -> worker   {"task":7,"input":"...","output":"..."}   filter one file
//                     {"cancel":true}                           stop the file in hand
//   worker -> batch   {"ready":true}                            the module is loaded
//                     {"failed":2,"error":"..."}                could not open the session
//                     {"result":7,"exit":0,...}                 the file's FileOutcome
//
// The batch sends a worker its next file when it answers the last one, and
// closes the worker's input when nothing is left; an input that ends while
// a file is in hand means the batch is gone, and the file is cancelled.
#pragma once

#include <cstddef>
#include <string>

#include "cli/apply_session.h"

namespace cli {

struct WorkerMessage {
  enum Kind { Unknown, Task, Cancel, Ready, OpenFailed, Result } kind = Unknown;
  size_t id = 0;       // Task, Result
  FileTask task;       // Task
  FileOutcome outcome; // Result
  int exitCode = 0;    // OpenFailed
  std::string error;   // OpenFailed
};

// Each message is one line, ending in '\n'.
std::string TaskMessage(size_t id, const FileTask& task);
std::string CancelMessage();
std::string ReadyMessage();
std::string OpenFailedMessage(int exitCode, const std::string& error);
std::string ResultMessage(size_t id, const FileOutcome& outcome);

// Reads one line (without its '\n'); Unknown for anything else.
WorkerMessage ParseWorkerMessage(const std::string& line);

// The settings as a JSON object ({"red-gain":1.2,...}), as the report has them.
std::string SettingsJson(const std::vector<std::pair<std::string, double>>& settings);

}  // namespace cli
