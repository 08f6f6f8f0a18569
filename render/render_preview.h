// Filtering the dialog's 8-bit planar proxy: the whole proxy after a
// parameter change, or only the strip a pan uncovered.
#pragma once

#include "hostapi/host_interface.h"

struct FilterParameters;

// Prepares the transform from `parameters`, copies the source proxy into
// `work` and filters it there on all processors. Returns 0. Nothing happens
// when `work` is null.
int16 RenderPreview(FilterParameters& parameters, int16 imageMode, const uint8* source,
                    uint8* work, int32 width, int32 height);

// After a pan by (dx, dy): copies and filters only the pixels the shift
// exposed, with the coefficients of the last render. `target` already holds
// the part of the old view that stays visible.
void RenderExposedPreview(int16 imageMode, const uint8* source, uint8* target, int32 dx,
                          int32 dy, int32 width, int32 height);
