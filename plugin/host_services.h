// Safe access to the host's callback tables. Hosts differ: some leave a
// table out, some leave members NULL, some report a count of 0 while setting
// every member. A member is usable when it is set and, if the host gives a
// count, lies within it.
#pragma once

#include "hostapi/host_interface.h"

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

// Bits per sample. Hosts older than the `depth` field leave it 0; their
// 16- and 32-bit modes still tell the depth, so a deep document is never
// read as bytes.
inline int32 SampleDepth(const FilterRecord& record) {
  if (record.depth != 0) return record.depth;
  switch (record.imageMode) {
    case plugInModeGray16:
    case plugInModeRGB48:
    case plugInModeLab48:
    case plugInModeCMYK64:
    case plugInModeDeepMultichannel:
    case plugInModeDuotone16:
      return 16;
    case plugInModeRGB96:
    case plugInModeGray32:
      return 32;
    default:
      return 8;
  }
}
