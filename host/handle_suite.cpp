#include "host/handle_suite.h"

#include <algorithm>
#include <cstring>

#include "host/host.h"

namespace host {
namespace {

HandleSuite* Suite() {
  Host* h = Host::Active();
  return h ? &h->handles() : nullptr;
}

Handle NewThunk(int32 size) { return Suite() ? Suite()->New(size) : nullptr; }
void DisposeThunk(Handle h) {
  if (Suite()) Suite()->Dispose(h);
}
int32 GetSizeThunk(Handle h) { return Suite() ? Suite()->GetSize(h) : 0; }
OSErr SetSizeThunk(Handle h, int32 size) { return Suite() ? Suite()->SetSize(h, size) : nilHandleErr; }
Ptr HandleLockThunk(Handle h, Boolean moveHigh) { return Suite() ? Suite()->Lock(h, moveHigh) : nullptr; }
void HandleUnlockThunk(Handle h) {
  if (Suite()) Suite()->Unlock(h);
}
void RecoverSpaceThunk(int32) {}
void DisposeRegularThunk(Handle h) { DisposeThunk(h); }

}  // namespace

HandleProcs HandleSuite::Table() {
  HandleProcs t{};
  t.handleProcsVersion = 1;
  t.numHandleProcs = 8;
  t.newProc = NewThunk;
  t.disposeProc = DisposeThunk;
  t.getSizeProc = GetSizeThunk;
  t.setSizeProc = SetSizeThunk;
  t.lockProc = HandleLockThunk;
  t.unlockProc = HandleUnlockThunk;
  t.recoverSpaceProc = RecoverSpaceThunk;
  t.disposeRegularHandleProc = DisposeRegularThunk;
  return t;
}

HandleSuite::~HandleSuite() = default;

void HandleSuite::MarkForeign(Handle h) {
  if (h != nullptr) foreign_.push_back(h);
}

HandleSuite::Block* HandleSuite::Find(Handle h, const char* who) {
  if (h != nullptr && std::find(foreign_.begin(), foreign_.end(), h) != foreign_.end()) {
    misuse_.push_back(std::string(who) + ": a handle from an earlier process (a stale value in the data slot)");
    return nullptr;
  }
  if (h != nullptr) {
    for (auto& b : blocks_) {
      if (reinterpret_cast<Handle>(&b->data) == h) {
        if (b->live) return b.get();
        misuse_.push_back(std::string(who) + ": handle already disposed");
        return nullptr;
      }
    }
  }
  misuse_.push_back(std::string(who) + (h ? ": unknown handle" : ": NULL handle"));
  return nullptr;
}

Handle HandleSuite::NewForHost(const void* data, int32 size) {
  if (size < 0) return nullptr;
  auto b = std::make_unique<Block>();
  while (std::find(foreign_.begin(), foreign_.end(), reinterpret_cast<Handle>(&b->data)) != foreign_.end()) {
    setAside_.push_back(std::move(b));
    b = std::make_unique<Block>();
  }
  b->storage.reset(new char[size > 0 ? size : 1]());
  if (data && size > 0) std::memcpy(b->storage.get(), data, size_t(size));
  b->data = b->storage.get();
  b->size = size;
  ++created_;
  blocks_.push_back(std::move(b));
  return reinterpret_cast<Handle>(&blocks_.back()->data);
}

Handle HandleSuite::New(int32 size) {
  if (!ledger_.Enter("newProc")) return nullptr;
  if (size < 0) {
    misuse_.push_back("newProc: negative size");
    return nullptr;
  }
  if (size == 0 && refuseEmpty_) return nullptr;
  return NewForHost(nullptr, size);
}

void HandleSuite::Dispose(Handle h) {
  ledger_.Enter("disposeProc");
  DisposeForHost(h);
}

void HandleSuite::DisposeForHost(Handle h) {
  Block* b = Find(h, "disposeProc");
  if (!b) return;
  if (b->lockDepth > 0) misuse_.push_back("disposeProc: handle still locked");
  b->live = false;
  b->lockDepth = 0;
  b->storage.reset();
  b->data = nullptr;
  ++disposed_;
}

int32 HandleSuite::GetSize(Handle h) {
  ledger_.Enter("getSizeProc");
  Block* b = Find(h, "getSizeProc");
  return b ? b->size : 0;
}

OSErr HandleSuite::SetSize(Handle h, int32 size) {
  if (!ledger_.Enter("setSizeProc")) return memFullErr;
  Block* b = Find(h, "setSizeProc");
  if (!b) return nilHandleErr;
  if (size < 0) return paramErr;
  if (b->lockDepth > 0) return memWZErr;
  std::unique_ptr<char[]> grown(new char[size > 0 ? size : 1]());
  std::memcpy(grown.get(), b->storage.get(), size_t(size < b->size ? size : b->size));
  b->storage = std::move(grown);
  b->data = b->storage.get();
  b->size = size;
  return noErr;
}

Ptr HandleSuite::Lock(Handle h, Boolean) {
  if (!ledger_.Enter("handle.lockProc")) return nullptr;
  Block* b = Find(h, "handle.lockProc");
  if (!b) return nullptr;
  ++b->lockDepth;
  return b->data;
}

void HandleSuite::Unlock(Handle h) {
  ledger_.Enter("handle.unlockProc");
  Block* b = Find(h, "handle.unlockProc");
  if (!b) return;
  if (b->lockDepth == 0) {
    misuse_.push_back("handle.unlockProc: handle not locked");
    return;
  }
  --b->lockDepth;
}

bool HandleSuite::IsLive(Handle h) const {
  for (auto& b : blocks_)
    if (reinterpret_cast<Handle>(&b->data) == h) return b->live;
  return false;
}

bool HandleSuite::Contents(Handle h, std::vector<char>& bytes) const {
  for (auto& b : blocks_) {
    if (reinterpret_cast<Handle>(&b->data) != h) continue;
    if (!b->live) return false;
    bytes.assign(b->data, b->data + b->size);
    return true;
  }
  return false;
}

int HandleSuite::LockDepth(Handle h) const {
  for (auto& b : blocks_)
    if (reinterpret_cast<Handle>(&b->data) == h) return b->lockDepth;
  return 0;
}

int HandleSuite::LiveCount() const {
  int n = 0;
  for (auto& b : blocks_) n += b->live ? 1 : 0;
  return n;
}

int HandleSuite::LockedCount() const {
  int n = 0;
  for (auto& b : blocks_) n += (b->live && b->lockDepth > 0) ? 1 : 0;
  return n;
}

}  // namespace host
