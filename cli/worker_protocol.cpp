#include "cli/worker_protocol.h"

#include <cstdio>
#include <cstdlib>
#include <cmath>

#include "host/json.h"

namespace cli {
namespace {

using host::JsonNumber;
using host::JsonQuote;
using host::JsonValue;

std::string Text(const JsonValue* v) { return v && v->kind == JsonValue::String ? v->text : std::string(); }

bool Whole(const JsonValue* v, long long* out) {
  if (!v || v->kind != JsonValue::Number) return false;
  char* end = nullptr;
  *out = std::strtoll(v->text.c_str(), &end, 10);
  return end && *end == '\0';
}

// The shortest text that reads back as the same double: 1.1, not
// 1.1000000000000001, so a report reads as the settings were typed.
std::string ShortNumber(double v) {
  for (int digits = 15; digits < 17; ++digits) {
    char text[40];
    std::snprintf(text, sizeof text, "%.*g", digits, v);
    if (std::strtod(text, nullptr) == v) return text;
  }
  return JsonNumber(v);
}

}  // namespace

std::string SettingsJson(const std::vector<std::pair<std::string, double>>& settings) {
  std::string out = "{";
  for (const auto& [name, value] : settings) out += (out.size() > 1 ? "," : "") + JsonQuote(name) + ":" + ShortNumber(value);
  return out + "}";
}

std::string TaskMessage(size_t id, const FileTask& task) {
  return "{\"task\":" + std::to_string(id) + ",\"input\":" + JsonQuote(task.input) +
         ",\"output\":" + JsonQuote(task.output) + "}\n";
}

std::string CancelMessage() { return "{\"cancel\":true}\n"; }
std::string ReadyMessage() { return "{\"ready\":true}\n"; }

std::string OpenFailedMessage(int exitCode, const std::string& error) {
  return "{\"failed\":" + std::to_string(exitCode) + ",\"error\":" + JsonQuote(error) + "}\n";
}

std::string ResultMessage(size_t id, const FileOutcome& o) {
  std::string warnings = "[";
  for (const std::string& w : o.warnings) warnings += (warnings.size() > 1 ? "," : "") + JsonQuote(w);
  return "{\"result\":" + std::to_string(id) + ",\"exit\":" + std::to_string(o.exitCode) +
         ",\"error\":" + JsonQuote(o.error) + ",\"warnings\":" + warnings + "]" +
         ",\"cancelled\":" + (o.cancelled ? "true" : "false") + ",\"seconds\":" + JsonNumber(o.seconds) +
         ",\"settings\":" + SettingsJson(o.settings) + "}\n";
}

WorkerMessage ParseWorkerMessage(const std::string& line) {
  WorkerMessage m;
  JsonValue v;
  if (!host::ParseJson(line, v, nullptr) || v.kind != JsonValue::Object) return m;
  long long n = 0;
  if (Whole(v.Member("task"), &n) && n >= 0) {
    m.kind = WorkerMessage::Task;
    m.id = size_t(n);
    m.task.input = Text(v.Member("input"));
    m.task.output = Text(v.Member("output"));
  } else if (v.Member("cancel")) {
    m.kind = WorkerMessage::Cancel;
  } else if (v.Member("ready")) {
    m.kind = WorkerMessage::Ready;
  } else if (Whole(v.Member("failed"), &n)) {
    m.kind = WorkerMessage::OpenFailed;
    m.exitCode = int(n);
    m.error = Text(v.Member("error"));
  } else if (Whole(v.Member("result"), &n) && n >= 0) {
    m.kind = WorkerMessage::Result;
    m.id = size_t(n);
    FileOutcome& o = m.outcome;
    long long code = 1;
    if (!Whole(v.Member("exit"), &code)) return WorkerMessage{};
    o.exitCode = int(code);
    o.error = Text(v.Member("error"));
    if (const JsonValue* w = v.Member("warnings"))
      for (const JsonValue& item : w->array) o.warnings.push_back(item.text);
    const JsonValue* c = v.Member("cancelled");
    o.cancelled = c && c->kind == JsonValue::Bool && c->boolean;
    if (const JsonValue* s = v.Member("seconds")) host::JsonToDouble(*s, o.seconds);
    if (const JsonValue* s = v.Member("settings"))
      for (const auto& [name, value] : s->object) {
        double d = 0;
        if (host::JsonToDouble(value, d)) o.settings.emplace_back(name, d);
      }
  }
  return m;
}

}  // namespace cli
