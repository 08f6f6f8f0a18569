// The settings' trip through an action: the descriptor the host records
// and plays back, and the decision whether Start shows the dialog.
#pragma once

#include "hostapi/host_interface.h"

struct FilterParameters;
struct ProxyViewState;

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
