// Counts the thread starts of a loaded module in a host's call ledger, so
// fault injection can make the k-th one fail like any host callback. Only
// the native module offers the hook; elsewhere this does nothing.
#pragma once

#include "host/call_ledger.h"
#include "host/plugin_module.h"

namespace host {

class ThreadStartGate {
 public:
  ThreadStartGate(const PluginModule& module, CallLedger& ledger);
  ~ThreadStartGate();
  ThreadStartGate(const ThreadStartGate&) = delete;
  ThreadStartGate& operator=(const ThreadStartGate&) = delete;

  bool attached() const { return set_ != nullptr; }

 private:
  static bool Ask(void* context);
  typedef void (*SetGateFn)(bool (*)(void*), void*);
  SetGateFn set_ = nullptr;
  CallLedger& ledger_;
};

}  // namespace host
