#include "host/thread_gate.h"

namespace host {

ThreadStartGate::ThreadStartGate(const PluginModule& module, CallLedger& ledger) : ledger_(ledger) {
  set_ = reinterpret_cast<SetGateFn>(module.Symbol("KestrelleSetThreadStartGate"));
  if (set_) set_(&ThreadStartGate::Ask, this);
}

ThreadStartGate::~ThreadStartGate() {
  if (set_) set_(nullptr, nullptr);
}

// Thread starts come from the plug-in's calling thread only (workers never
// start workers), so the ledger is not entered concurrently.
bool ThreadStartGate::Ask(void* context) {
  return static_cast<ThreadStartGate*>(context)->ledger_.Enter("threadStart");
}

}  // namespace host
