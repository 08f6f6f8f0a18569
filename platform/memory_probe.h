// Whether memory a host points at can be read at all. Hosts older than a
// field of the filter record leave whatever their memory held there, so a
// pointer in such a field may lead nowhere; asking the OS first turns a
// crash into a pointer that is simply not used.
#pragma once

#include <cstddef>

namespace platform {

// True when all `bytes` from `address` are mapped and readable now.
bool CanRead(const void* address, size_t bytes);

}  // namespace platform
