// The settings' two trips through the host's scripting services: the
// descriptor the host records into an action and plays back, and the
// last-used store in the host's descriptor registry, which survives a
// restart of the host. Also the decision whether Start shows the dialog.
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

// Fills both records from the descriptor the host plays, disposes of the
// descriptor handle, and says whether the dialog may be shown: `showDialog`
// starts as `pluginShowDialog` and becomes (playInfo == display) when the
// host played a descriptor.
int16 ReadScriptParameters(FilterRecord& record, FilterParameters& parameters, ProxyViewState& view,
                           bool pluginShowDialog, bool& showDialog);

// Hands the host the descriptor to record (eighteen keys, plus "ignS" when
// it is true).
int16 WriteScriptParameters(FilterRecord& record, const FilterParameters& parameters,
                            const ProxyViewState& view);

// Start shows the dialog when the played descriptor was read (or lacked
// expected keys) and dialogs are wanted.
inline bool DialogDecision(int16 readResult, bool showDialog) {
  return (readResult == noErr || readResult == errMissingParameter) && showDialog;
}
