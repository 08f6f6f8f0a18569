// Counts every callback the plug-in makes into the host and can make the k-th
// call of any one of them fail, so tests can check what the plug-in does when
// a host runs out of memory or refuses a request.
#pragma once

#include <map>
#include <string>

namespace host {

class CallLedger {
 public:
  // Counts one call of `callback`; false when this call is to fail.
  bool Enter(const std::string& callback);

  int Count(const std::string& callback) const;
  // Makes the k-th call (1-based) of `callback` fail; 0 clears it.
  void FailAt(const std::string& callback, int k);
  // Makes every call from the k-th on fail.
  void FailFrom(const std::string& callback, int k);
  int FailuresInjected() const { return failuresInjected_; }
  void Reset();

  const std::map<std::string, int>& Counts() const { return counts_; }

 private:
  struct Plan {
    int at = 0;
    bool onwards = false;
  };
  std::map<std::string, int> counts_;
  std::map<std::string, Plan> plans_;
  int failuresInjected_ = 0;
};

}  // namespace host
