// An R,G,B-interleaved copy of the planar preview, in a host buffer, for the
// host's displayPixels.
#pragma once

#include "hostapi/host_interface.h"

struct InterleavedBuffer {
  BufferID id = nullptr;
  uint8* pixels = nullptr;
  int32 width = 0;
  int32 rows = 0;
  int32 rowBytes = 0;  // 3 * width
  int16 error = 0;     // 0 or -108 (memFullErr)
};

// Allocates the copy through the host's buffer procs and fills it from the
// three planes of `source` (plane size totalBytes / 3). On failure: error
// -108, a message, and no pixels.
InterleavedBuffer MakeInterleavedBuffer(const FilterRecord* record, int32 width,
                                        int32 sourceRowBytes, int32 totalBytes,
                                        const uint8* source);

// Gives the buffer back to the host (unlock, then free).
void FreeInterleavedBuffer(const FilterRecord* record, InterleavedBuffer& buffer);
