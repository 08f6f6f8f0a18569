// The settings' trip through the host's descriptor registry: the last-used
// store, which survives a restart of the host.
#pragma once

#include "hostapi/host_interface.h"

struct FilterParameters;
struct ProxyViewState;

// Fills both records from the registry entry under the plug-in's unique
// string; stops at the first key it cannot read. 0 when there is no entry.
int32 ReadLastUsedParameters(const FilterRecord& record, FilterParameters& parameters,
                             ProxyViewState& view);

// Replaces the registry entry with both records (persistent). The entry is
// registered only when the final "ignS" put succeeds.
int32 WriteLastUsedParameters(const FilterRecord& record, const FilterParameters& parameters,
                              const ProxyViewState& view);

