#include "host/call_ledger.h"

namespace host {

bool CallLedger::Enter(const std::string& callback) {
  const int k = ++counts_[callback];
  auto plan = plans_.find(callback);
  if (plan == plans_.end() || plan->second.at <= 0) return true;
  const bool fail = plan->second.onwards ? k >= plan->second.at : k == plan->second.at;
  if (fail) ++failuresInjected_;
  return !fail;
}

int CallLedger::Count(const std::string& callback) const {
  auto it = counts_.find(callback);
  return it == counts_.end() ? 0 : it->second;
}

void CallLedger::FailAt(const std::string& callback, int k) { plans_[callback] = Plan{k, false}; }

void CallLedger::FailFrom(const std::string& callback, int k) { plans_[callback] = Plan{k, true}; }

void CallLedger::Reset() {
  counts_.clear();
  plans_.clear();
  failuresInjected_ = 0;
}

}  // namespace host
