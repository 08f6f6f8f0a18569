#include "plugin/host_services.h"

const BufferProcs* UsableBufferProcs(const FilterRecord* record) {
  if (record == nullptr || record->bufferProcs == nullptr) return nullptr;
  const BufferProcs* p = record->bufferProcs;
  const int16 n = p->numBufferProcs;
  if (p->allocateProc && MemberInCount(n, kAllocateBuffer) && p->lockProc &&
      MemberInCount(n, kLockBuffer) && p->unlockProc && MemberInCount(n, kUnlockBuffer) &&
      p->freeProc && MemberInCount(n, kFreeBuffer)) {
    return p;
  }
  return nullptr;
}

const HandleProcs* UsableHandleProcs(const FilterRecord* record) {
  if (record == nullptr || record->handleProcs == nullptr) return nullptr;
  const HandleProcs* p = record->handleProcs;
  const int16 n = p->numHandleProcs;
  if (p->newProc && MemberInCount(n, kNewHandle) && p->lockProc && MemberInCount(n, kLockHandle) &&
      p->unlockProc && MemberInCount(n, kUnlockHandle)) {
    return p;
  }
  return nullptr;
}

bool CanDisposeHandle(const HandleProcs* procs) {
  return procs && procs->disposeProc && MemberInCount(procs->numHandleProcs, kDisposeHandle);
}
