// The documents the filter works on, checked when it runs. The menu entry's
// enable rule says the same to hosts that read it, but not every host does:
// GIMP's PSPI runs the filter on an 8-bit grey layer from a script, where
// the filter would change nothing and say nothing.
#pragma once

#include <string>

#include "hostapi/host_interface.h"

// 8-bit RGB, and any 16-bit or 32-bit document.
bool DocumentEnabled(const FilterRecord& record);

// What the user is told about a document the filter does not work on.
std::string DocumentNotEnabledMessage(const FilterRecord& record);

// Shows that message.
void ReportDocumentNotEnabled(const FilterRecord& record);
