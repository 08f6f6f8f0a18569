#include "plugin/call_state.h"

#include <cstdint>

#include "platform/memory_probe.h"

CallState gCallState;

namespace {

// A 32-bit coordinate agrees with its 16-bit form when the 16-bit form holds
// it exactly, or both lie at or beyond the 16-bit limit.
bool Agrees(int32 wide, int16 narrow) {
  if (narrow == 32767) return wide >= 32767;
  if (narrow == -32768) return wide <= -32768;
  return wide == narrow;
}

}  // namespace

bool PlausibleBigDocument(const FilterRecord& record) {
  const BigDocumentStruct* big = record.bigDocumentData;
  if (big == nullptr || record.depth == 0) return false;
  if (reinterpret_cast<uintptr_t>(big) % alignof(int32) != 0) return false;
  if (!platform::CanRead(big, sizeof *big)) return false;
  const VRect& f = big->filterRect32;
  return Agrees(f.top, record.filterRect.top) && Agrees(f.left, record.filterRect.left) &&
         Agrees(f.bottom, record.filterRect.bottom) && Agrees(f.right, record.filterRect.right);
}
