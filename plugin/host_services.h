// Safe access to the host's callback tables. Hosts differ: some leave a
// table out, some leave members NULL, some report a count of 0 while setting
// every member. A member is usable when it is set and, if the host gives a
// count, lies within it.
#pragma once

#include "host_interface.h"

inline bool MemberInCount(int16 count, int index) { return count <= 0 || index < count; }

// Indices of the members within their tables.
enum BufferProcIndex { kAllocateBuffer = 0, kLockBuffer, kUnlockBuffer, kFreeBuffer };
enum HandleProcIndex { kNewHandle = 0, kDisposeHandle, kGetHandleSize, kSetHandleSize,
                       kLockHandle, kUnlockHandle };

// The buffer procs when the host offers all four that this module needs
// (allocate, lock, unlock, free); otherwise nullptr.
const BufferProcs* UsableBufferProcs(const FilterRecord* record);

// The handle procs when the host offers new, lock and unlock (dispose is
// checked where it is used); otherwise nullptr.
const HandleProcs* UsableHandleProcs(const FilterRecord* record);

bool CanDisposeHandle(const HandleProcs* procs);
