// Collects the message boxes a module shows. The native module hands them
// to the host (the window system's stand-in); on Windows they are real
// message boxes, which a watcher thread reads and answers with OK, as a
// user would, so unattended runs never block on one.
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <atomic>

#include "host/plugin_module.h"

namespace host {

struct ShownBox {
  std::string text;
  std::string caption;
};

class MessageLog {
 public:
  MessageLog() = default;
  ~MessageLog();
  MessageLog(const MessageLog&) = delete;
  MessageLog& operator=(const MessageLog&) = delete;

  // Starts collecting what `module` shows; with `echo`, each box is also
  // written to standard error as "caption: text". With `cancelDialogs`, a
  // filter dialog that opens is cancelled at once, as by a user pressing
  // Cancel (for runs that must not wait for one).
  void Attach(const PluginModule& module, bool echo, bool cancelDialogs = false);
  void Detach();

  std::vector<ShownBox> Messages() const;
  void Clear();
  // On Windows the watcher answers boxes asynchronously; this waits until
  // every box the module opened so far has been answered.
  void Settle() const;

 private:
  static void Sink(const char* text, const char* caption, void* context);
  void Add(const std::string& text, const std::string& caption);
  // Where boxes are real windows (Windows), a thread watches for them and
  // answers them; the headless window system hands them to the sink instead.
  void StartWatching();
  void StopWatching();
  void Watch();
  std::thread watcher_;
  std::atomic<bool> stop_{false};
  typedef void (*SetSinkFn)(void (*)(const char*, const char*, void*), void*);
  SetSinkFn setSink_ = nullptr;
  bool echo_ = false;
  bool cancelDialogs_ = false;
  mutable std::mutex mutex_;
  std::vector<ShownBox> messages_;
};

}  // namespace host
