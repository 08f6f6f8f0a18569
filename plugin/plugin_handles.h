// The parameter handle (the record, 96 bytes) and the one-byte data handle
// in the host's data slot: created through the host's handle procs, locked
// for a call and unlocked at its end. A slot value this module instance did
// not make counts as no handle: it is replaced, never locked. A host without handle procs (or
// without a data slot) gets the filter's own memory instead, which lives as
// long as the module.
#pragma once

#include "plugin/call_state.h"

// Creates whichever of the two handles is missing (a parameter handle too
// small for the record counts as missing); true when anything had to be
// created, with `parametersCreated` telling whether the record's handle was.
// A creation failure sets the result word to -108.
bool CreateMissingHandles(CallState& call, bool* parametersCreated = nullptr);

// True when both handles (or the own-memory stand-ins) exist.
bool HandlesExist(const CallState& call);

// Locks both, the parameter handle first: -108 when a lock returns nothing,
// -30100 when a handle is missing. On success the call state points at the
// locked record and data block.
void LockHandles(CallState& call);

// True when the data slot holds a value this module instance did not make
// (before CreateMissingHandles replaces it): a handle from another process
// or another loading of the module, never to be followed.
bool DataSlotHeldForeignValue(const CallState& call);

// True when the locked parameter handle holds a record this filter wrote
// (its size, mark and values checked).
bool ParameterHandleIsOwnRecord(const CallState& call);

// Unlocks what LockHandles locked.
void UnlockHandles(CallState& call);
