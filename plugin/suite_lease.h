// A PICA suite acquired through the host's basic suite, released exactly once
// whatever path the caller takes. A host that reports success but hands back
// no suite counts as a failure (the lease is still released, because the
// host counted an acquisition).
#pragma once

#include "hostapi/host_interface.h"

template <typename Suite>
class SuiteLease {
 public:
  SuiteLease(SPBasicSuite* basic, const char* name, int32 version)
      : basic_(basic), name_(name), version_(version) {
    if (basic_ == nullptr || basic_->AcquireSuite == nullptr) {
      error_ = errPlugInHostInsufficient;
      return;
    }
    const void* suite = nullptr;
    const SPErr err = basic_->AcquireSuite(name, version, &suite);
    if (err != 0) {
      error_ = err;
      return;
    }
    acquired_ = true;
    suite_ = static_cast<const Suite*>(suite);
    if (suite_ == nullptr) error_ = errPlugInHostInsufficient;
  }
  ~SuiteLease() { Release(); }
  SuiteLease(const SuiteLease&) = delete;
  SuiteLease& operator=(const SuiteLease&) = delete;

  void Release() {
    if (acquired_ && basic_->ReleaseSuite) basic_->ReleaseSuite(name_, version_);
    acquired_ = false;
    suite_ = nullptr;
  }

  // 0 when the suite is usable; the host's error (or -30900) otherwise.
  SPErr error() const { return error_; }
  const Suite* operator->() const { return suite_; }
  const Suite* get() const { return suite_; }

 private:
  SPBasicSuite* basic_;
  const char* name_;
  int32 version_;
  const Suite* suite_ = nullptr;
  bool acquired_ = false;
  SPErr error_ = 0;
};
