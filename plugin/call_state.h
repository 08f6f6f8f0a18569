// The state bound at the start of every PluginMain call and read by every
// part of the filter during that call. One call runs at a time, on the
// host's thread, so this is plain module-wide data.
#pragma once

#include "hostapi/host_interface.h"

struct FilterParameters;
struct PluginData;

struct CallState {
  FilterRecord* filterRecord = nullptr;  // null for About
  intptr_t* dataSlot = nullptr;          // holds the PluginData handle
  int16* result = nullptr;               // never null while a call runs
  FilterParameters* parameters = nullptr;  // the locked record
  PluginData* pluginData = nullptr;        // the locked data block
  // Which of the two handles this call locked, so that exactly those are
  // unlocked at its end (a host counts an unlock without a lock as misuse).
  bool parametersLocked = false;
  bool pluginDataLocked = false;
  // A message in words has already told the user why the result word is
  // not 0: the entry point adds no second one with the bare number.
  bool reported = false;
  // The host handed back pixels that do not match a request, and the user
  // has been told: once per call is enough.
  bool hostFaultShown = false;
  // The record's bigDocumentData is not a host's: a record from before that
  // field, whose tail holds whatever the host's memory held.
  bool ignoreBigDocument = false;
};

extern CallState gCallState;

// True when the host offers the 32-bit rectangles and the plug-in switched
// them on; every rectangle is then read and written in its 32-bit form.
inline bool Using32BitCoordinates(const FilterRecord* record) {
  return record && record->bigDocumentData && !gCallState.ignoreBigDocument &&
         record->bigDocumentData->PluginUsing32BitCoordinates != 0;
}

// Whether the record's bigDocumentData can be believed: set, readable, and
// telling the same filter rectangle as the 16-bit fields wherever those can
// hold it. Hosts from before the depth field (depth 0) predate it: whatever
// stands there is not theirs.
bool PlausibleBigDocument(const FilterRecord& record);
