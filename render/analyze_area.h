// The eyedropper's analysis: average an area of the document at full
// resolution and set the three coarse gains so that its colour turns neutral.
#pragma once

#include "hostapi/host_interface.h"

struct FilterParameters;

// The most rows and the most columns one analysis reads.
constexpr int32 kMaxAnalysisSide = 64000;

// Corners are (v, h) points in document coordinates; the area is
// [min v, max v) x [min h, max h). Writes the gains (fine gains 0) and the
// un-normalised multipliers of the module's coefficients; a host error goes
// to `result` and leaves the parameters alone.
void AnalyzeArea(FilterRecord& record, FilterParameters& parameters, int16& result,
                 VPoint cornerA, VPoint cornerB);
