// The host's rectangles in their 32-bit form when the plug-in switched the
// host to 32-bit coordinates, else in the 16-bit form. Everything that reads
// or writes a rectangle goes through here, so the two never get mixed.
#pragma once

#include "plugin/call_state.h"
#include "hostapi/host_interface.h"

VRect FilterRect(const FilterRecord& record);
VRect InRect(const FilterRecord& record);
VRect OutRect(const FilterRecord& record);
void SetInRect(FilterRecord& record, const VRect& r);
void SetOutRect(FilterRecord& record, const VRect& r);
void SetMaskRect(FilterRecord& record, const VRect& r);

inline int32 Height(const VRect& r) { return r.bottom - r.top; }
inline int32 Width(const VRect& r) { return r.right - r.left; }
