#include <windows.h>

#include "host/unreadable_memory.h"

namespace host {
namespace {
constexpr unsigned long kPageBytes = 65536;  // one allocation granule
}

void* UnreadableMemory::address() {
  if (page_ == nullptr) page_ = VirtualAlloc(nullptr, kPageBytes, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
  return page_;
}

UnreadableMemory::~UnreadableMemory() {
  if (page_ != nullptr) VirtualFree(page_, 0, MEM_RELEASE);
}

}  // namespace host
