#include "host/unreadable_memory.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace host {

namespace {
constexpr unsigned long kPageBytes = 65536;  // one allocation granule on Windows, many pages elsewhere
}

void* UnreadableMemory::address() {
  if (page_ != nullptr) return page_;
#ifdef _WIN32
  page_ = VirtualAlloc(nullptr, kPageBytes, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
#else
  void* p = mmap(nullptr, kPageBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  page_ = p == MAP_FAILED ? nullptr : p;
#endif
  return page_;
}

UnreadableMemory::~UnreadableMemory() {
  if (page_ == nullptr) return;
#ifdef _WIN32
  VirtualFree(page_, 0, MEM_RELEASE);
#else
  munmap(page_, kPageBytes);
#endif
}

}  // namespace host
