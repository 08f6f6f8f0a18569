// How many colour planes a host image mode has, and how many of them the
// transform may treat as red, green and blue.
#pragma once

#include "hostapi/host_interface.h"

// The number of colour planes for the host's image mode (0 for multichannel
// and unknown modes).
int16 PlanesForMode(int16 imageMode);

// The planes the kernels process: 3 for the RGB modes, 1 for the one-plane
// modes (grey, duotone, bitmap), and 0 for every mode whose channels are not
// red, green and blue (Lab, CMYK, indexed, HSL, HSB, multichannel). Those
// documents pass through unchanged instead of being recoloured as if their
// channels were RGB.
int16 ProcessedPlanesForMode(int16 imageMode);

// The planes the final render asks for and writes: the colour planes and,
// after them, every further plane the host says the layer has (its
// transparency, alpha channels), which are copied through unchanged. A
// plane count no document has is not believed.
int16 LayerPlanes(const FilterRecord& record, int16 colourPlanes);
