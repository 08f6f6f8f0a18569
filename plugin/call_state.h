// The state bound at the start of every PluginMain call and read by every
// part of the filter during that call. One call runs at a time, on the
// host's thread, so this is plain module-wide data.
#pragma once

#include "host_interface.h"

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
};

extern CallState gCallState;

// True when the host offers the 32-bit rectangles and the plug-in switched
// them on; every rectangle is then read and written in its 32-bit form.
inline bool Using32BitCoordinates(const FilterRecord* record) {
  return record && record->bigDocumentData &&
         record->bigDocumentData->PluginUsing32BitCoordinates != 0;
}
