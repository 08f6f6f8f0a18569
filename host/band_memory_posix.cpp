#include <sys/mman.h>

#include <cstdlib>
#include <new>

#include "host/band_memory.h"

namespace host {
namespace {
// The large page of x86-64 and of 4 KB-page ARM. Elsewhere the alignment
// costs nothing and the hint is just not taken.
constexpr size_t kLargePageBytes = size_t(2) << 20;
}  // namespace

void BandMemoryRelease::operator()(uint8* p) const { std::free(p); }

BandMemory AllocateBandMemory(size_t bytes) {
  bytes = bytes == 0 ? 1 : bytes;
#ifdef MADV_HUGEPAGE
  if (bytes >= kLargePageBytes && bytes <= SIZE_MAX - kLargePageBytes) {
    // Whole large pages, aligned to one, and a hint: systems that give large
    // pages only when asked (transparent_hugepage=madvise) then fault a band
    // in 2 MB at a time. A refused hint leaves ordinary pages.
    const size_t rounded = (bytes + kLargePageBytes - 1) / kLargePageBytes * kLargePageBytes;
    void* p = nullptr;
    if (posix_memalign(&p, kLargePageBytes, rounded) != 0) throw std::bad_alloc();
    (void)madvise(p, rounded, MADV_HUGEPAGE);
    return BandMemory(static_cast<uint8*>(p));
  }
#endif
  void* p = std::malloc(bytes);
  if (p == nullptr) throw std::bad_alloc();
  return BandMemory(static_cast<uint8*>(p));
}

}  // namespace host
