#include <cstdlib>
#include <new>

#include "host/band_memory.h"

namespace host {

// Large pages on Windows need a privilege users do not have; ordinary
// memory it is.
void BandMemoryRelease::operator()(uint8* p) const { std::free(p); }

BandMemory AllocateBandMemory(size_t bytes) {
  void* p = std::malloc(bytes == 0 ? 1 : bytes);
  if (p == nullptr) throw std::bad_alloc();
  return BandMemory(static_cast<uint8*>(p));
}

}  // namespace host
