// What particular host applications are known to get wrong, recognised by
// their signature, for the few cases that cannot be handled for every host
// alike.
#pragma once

#include "host_interface.h"

// GIMP's 8bf host ("GIMP" in memory, read as a four-char code) writes back
// only the last chunk of output a filter was handed: a filter there must
// deliver the whole filter rectangle in one request.
inline bool KeepsOnlyLastOutputChunk(const FilterRecord& record) {
  return record.hostSig == FourCharCode("PMIG");
}
