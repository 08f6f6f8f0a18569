// The final render: the whole filter rectangle, tile by tile, through the
// host, each tile split among the processors.
#pragma once

#include "hostapi/host_interface.h"

struct FilterParameters;

// Clamps the parameters and prepares the transform, then for every tile (rows
// of tiles top to bottom, each row left to right) asks the host for the
// pixels, filters them from the host's input buffer into its output buffer,
// reports progress and checks for cancellation. Errors go to `result`:
// advanceState's own code, -128 when the user cancels, -30900 when the host
// has no advanceState.
void RenderFinal(FilterRecord& record, FilterParameters& parameters, int16& result);
