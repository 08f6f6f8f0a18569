#include "host/buffer_suite.h"

#include <new>

#include "host/host.h"

namespace host {
namespace {

BufferSuite* Suite() {
  Host* h = Host::Active();
  return h ? &h->buffers() : nullptr;
}

OSErr AllocateThunk(int32 size, BufferID* id) {
  return Suite() ? Suite()->Allocate(size, id) : memFullErr;
}
Ptr BufferLockThunk(BufferID id, Boolean moveHigh) { return Suite() ? Suite()->Lock(id, moveHigh) : nullptr; }
void BufferUnlockThunk(BufferID id) {
  if (Suite()) Suite()->Unlock(id);
}
void FreeThunk(BufferID id) {
  if (Suite()) Suite()->Free(id);
}
int32 SpaceThunk() {
  if (!Suite()) return 0;
  int64 s = Suite()->Space();
  return s > 0x7fffffff ? 0x7fffffff : int32(s);
}
OSErr ReserveThunk(int32) { return noErr; }
OSErr Allocate64Thunk(int64 size, BufferID* id) {
  return Suite() ? Suite()->Allocate(size, id) : memFullErr;
}
int64 Space64Thunk() { return Suite() ? Suite()->Space() : 0; }

}  // namespace

BufferProcs BufferSuite::Table() {
  BufferProcs t{};
  t.bufferProcsVersion = 2;
  t.numBufferProcs = 8;
  t.allocateProc = AllocateThunk;
  t.lockProc = BufferLockThunk;
  t.unlockProc = BufferUnlockThunk;
  t.freeProc = FreeThunk;
  t.spaceProc = SpaceThunk;
  t.reserveProc = ReserveThunk;
  t.allocateProc64 = Allocate64Thunk;
  t.spaceProc64 = Space64Thunk;
  return t;
}

BufferSuite::Block* BufferSuite::Find(BufferID id, const char* who) {
  if (id != nullptr) {
    for (auto& b : blocks_) {
      if (reinterpret_cast<BufferID>(b.get()) == id) {
        if (b->live) return b.get();
        misuse_.push_back(std::string(who) + ": buffer already freed");
        return nullptr;
      }
    }
  }
  misuse_.push_back(std::string(who) + (id ? ": unknown buffer" : ": NULL buffer"));
  return nullptr;
}

OSErr BufferSuite::Allocate(int64 size, BufferID* id) {
  if (id == nullptr) {
    misuse_.push_back("allocateProc: NULL out pointer");
    return paramErr;
  }
  *id = nullptr;
  if (!ledger_.Enter("allocateProc")) return memFullErr;
  if (size < 0) {
    misuse_.push_back("allocateProc: negative size");
    return paramErr;
  }
  if (size > space_) return memFullErr;
  auto b = std::make_unique<Block>();
  b->data.reset(new (std::nothrow) char[size > 0 ? size_t(size) : 1]);
  if (!b->data) return memFullErr;
  b->size = size;
  liveBytes_ += size;
  if (liveBytes_ > peakBytes_) peakBytes_ = liveBytes_;
  ++allocated_;
  *id = reinterpret_cast<BufferID>(b.get());
  blocks_.push_back(std::move(b));
  return noErr;
}

Ptr BufferSuite::Lock(BufferID id, Boolean) {
  if (!ledger_.Enter("buffer.lockProc")) return nullptr;
  Block* b = Find(id, "buffer.lockProc");
  if (!b) return nullptr;
  ++b->lockDepth;
  return b->data.get();
}

void BufferSuite::Unlock(BufferID id) {
  ledger_.Enter("buffer.unlockProc");
  Block* b = Find(id, "buffer.unlockProc");
  if (!b) return;
  if (b->lockDepth == 0) {
    misuse_.push_back("buffer.unlockProc: buffer not locked");
    return;
  }
  --b->lockDepth;
}

void BufferSuite::Free(BufferID id) {
  ledger_.Enter("freeProc");
  Block* b = Find(id, "freeProc");
  if (!b) return;
  if (b->lockDepth > 0) misuse_.push_back("freeProc: buffer still locked");
  if (inOrder_) {
    for (auto later = blocks_.rbegin(); later != blocks_.rend() && later->get() != b; ++later) {
      if ((*later)->live) {
        misuse_.push_back("freeProc: a buffer freed before one allocated after it (this host crashes)");
        break;
      }
    }
  }
  b->live = false;
  b->data.reset();
  liveBytes_ -= b->size;
  ++freed_;
}

int BufferSuite::LiveCount() const {
  int n = 0;
  for (auto& b : blocks_) n += b->live ? 1 : 0;
  return n;
}

int BufferSuite::LockedCount() const {
  int n = 0;
  for (auto& b : blocks_) n += (b->live && b->lockDepth > 0) ? 1 : 0;
  return n;
}

}  // namespace host
