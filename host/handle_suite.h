// The host's handle procs with accounting: every handle the plug-in creates,
// locks, unlocks and disposes of is tracked, unknown or disposed handles are
// refused without crashing, and tests can ask what is still alive or locked.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "hostapi/host_interface.h"
#include "host/call_ledger.h"

namespace host {

class HandleSuite {
 public:
  explicit HandleSuite(CallLedger& ledger) : ledger_(ledger) {}
  ~HandleSuite();
  HandleSuite(const HandleSuite&) = delete;
  HandleSuite& operator=(const HandleSuite&) = delete;

  // The table handed to the plug-in; its members call into the active host.
  static HandleProcs Table();

  Handle New(int32 size);
  // Hosts that cannot allocate a zero-size handle: newProc(0) fails.
  void RefuseEmpty(bool refuse) { refuseEmpty_ = refuse; }
  void Dispose(Handle h);
  int32 GetSize(Handle h);
  OSErr SetSize(Handle h, int32 size);
  Ptr Lock(Handle h, Boolean moveHigh);
  void Unlock(Handle h);

  // For the host's own use (descriptors it hands over): not counted as calls.
  Handle NewForHost(const void* data, int32 size);
  void DisposeForHost(Handle h);
  // A value an earlier process left (a host hands it back in the data slot):
  // no handle of this suite is ever made at that address, and any use of it
  // through the procs is recorded as misuse instead of followed.
  void MarkForeign(Handle h);
  bool IsLive(Handle h) const;
  // A live handle's bytes, as a host copies them; false for any other value.
  bool Contents(Handle h, std::vector<char>& bytes) const;
  int LockDepth(Handle h) const;

  int LiveCount() const;
  int LockedCount() const;
  int Created() const { return created_; }
  int Disposed() const { return disposed_; }
  const std::vector<std::string>& Misuse() const { return misuse_; }

 private:
  struct Block {
    char* data = nullptr;  // the master pointer: a Handle points here
    int32 size = 0;
    int lockDepth = 0;
    bool live = true;
    std::unique_ptr<char[]> storage;
  };
  Block* Find(Handle h, const char* who);

  CallLedger& ledger_;
  // Blocks are kept after disposal so that a stale handle is recognised
  // rather than aliasing a new allocation at the same address.
  std::vector<std::unique_ptr<Block>> blocks_;
  std::vector<std::string> misuse_;
  std::vector<Handle> foreign_;
  // Blocks made at a foreign address, kept so that address stays taken.
  std::vector<std::unique_ptr<Block>> setAside_;
  bool refuseEmpty_ = false;
  int created_ = 0;
  int disposed_ = 0;
};

}  // namespace host
