// The host's buffer procs with accounting, like the handle suite: every
// buffer is tracked from allocation to free, and misuse is recorded instead
// of crashing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hostapi/host_interface.h"
#include "host/call_ledger.h"

namespace host {

class BufferSuite {
 public:
  explicit BufferSuite(CallLedger& ledger) : ledger_(ledger) {}
  BufferSuite(const BufferSuite&) = delete;
  BufferSuite& operator=(const BufferSuite&) = delete;

  static BufferProcs Table();

  OSErr Allocate(int64 size, BufferID* id);
  Ptr Lock(BufferID id, Boolean moveHigh);
  void Unlock(BufferID id);
  void Free(BufferID id);
  int64 Space() const { return space_; }

  // Largest buffer the host will hand out; larger requests get memFullErr.
  void SetSpace(int64 bytes) { space_ = bytes; }
  // Hosts that crash when a buffer is freed while one allocated after it is
  // still alive: such a free is recorded as misuse.
  void RequireFreeInOrder(bool require) { inOrder_ = require; }

  int LiveCount() const;
  int LockedCount() const;
  int Allocated() const { return allocated_; }
  int Freed() const { return freed_; }
  int64 PeakBytes() const { return peakBytes_; }
  const std::vector<std::string>& Misuse() const { return misuse_; }

 private:
  struct Block {
    std::unique_ptr<char[]> data;
    int64 size = 0;
    int lockDepth = 0;
    bool live = true;
  };
  Block* Find(BufferID id, const char* who);

  CallLedger& ledger_;
  std::vector<std::unique_ptr<Block>> blocks_;
  std::vector<std::string> misuse_;
  int allocated_ = 0;
  int freed_ = 0;
  int64 space_ = int64(1) << 31;
  int64 liveBytes_ = 0;
  int64 peakBytes_ = 0;
  bool inOrder_ = false;
};

}  // namespace host
