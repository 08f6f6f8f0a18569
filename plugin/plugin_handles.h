// The parameter handle (the record, 96 bytes) and the one-byte data handle
// in the host's data slot: created through the host's handle procs, locked
// for a call and unlocked at its end. A host without handle procs (or
// without a data slot) gets the filter's own memory instead, which lives as
// long as the module.
#pragma once

#include "call_state.h"

// Creates whichever of the two handles is missing; true when anything had to
// be created. A creation failure sets the result word to -108.
bool CreateMissingHandles(CallState& call);

// True when both handles (or the own-memory stand-ins) exist.
bool HandlesExist(const CallState& call);

// Locks both, the parameter handle first: -108 when a lock returns nothing,
// -30100 when a handle is missing. On success the call state points at the
// locked record and data block.
void LockHandles(CallState& call);

// Unlocks what LockHandles locked.
void UnlockHandles(CallState& call);
