#include <sys/mman.h>

#include "host/unreadable_memory.h"

namespace host {
namespace {
constexpr unsigned long kPageBytes = 65536;  // many pages: a read that runs on stays inside
}

void* UnreadableMemory::address() {
  if (page_ != nullptr) return page_;
  void* p = mmap(nullptr, kPageBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  page_ = p == MAP_FAILED ? nullptr : p;
  return page_;
}

UnreadableMemory::~UnreadableMemory() {
  if (page_ != nullptr) munmap(page_, kPageBytes);
}

}  // namespace host
