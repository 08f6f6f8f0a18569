#include "host/message_log.h"

#include <cstdio>

namespace host {

MessageLog::~MessageLog() { Detach(); }

void MessageLog::Attach(const PluginModule& module, bool echo, bool cancelDialogs) {
  Detach();
  echo_ = echo;
  cancelDialogs_ = cancelDialogs;
  setSink_ = reinterpret_cast<SetSinkFn>(module.Symbol("KestrelleSetMessageSink"));
  if (setSink_) setSink_(&MessageLog::Sink, this);
  StartWatching();
}

void MessageLog::Detach() {
  if (setSink_) setSink_(nullptr, nullptr);
  setSink_ = nullptr;
  StopWatching();
}

void MessageLog::Sink(const char* text, const char* caption, void* context) {
  static_cast<MessageLog*>(context)->Add(text ? text : "", caption ? caption : "");
}

void MessageLog::Add(const std::string& text, const std::string& caption) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back({text, caption});
  }
  if (echo_) std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

std::vector<ShownBox> MessageLog::Messages() const {
  Settle();
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

void MessageLog::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.clear();
}

}  // namespace host
