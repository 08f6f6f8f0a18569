// Memory for a band of rows: a few megabytes, filled once per band and
// handed round between the reader, the filter and the writer. Asked for in
// one piece so that the system can back it with large pages where it can:
// with 4 KB pages, touching a 72 MB picture's bands for the first time
// costs thousands of page faults, which showed as a quarter of a TIFF
// run's time.
#pragma once

#include <cstddef>
#include <memory>

#include "hostapi/host_interface.h"

namespace host {

struct BandMemoryRelease {
  void operator()(uint8* p) const;
};
using BandMemory = std::unique_ptr<uint8[], BandMemoryRelease>;

// At least `bytes` (and at least one byte); throws std::bad_alloc.
BandMemory AllocateBandMemory(size_t bytes);

}  // namespace host
