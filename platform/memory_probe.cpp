#include "platform/memory_probe.h"

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace platform {

bool CanRead(const void* address, size_t bytes) {
  if (address == nullptr) return false;
  if (bytes == 0) return true;
  const uintptr_t first = reinterpret_cast<uintptr_t>(address);
  if (first + bytes < first) return false;
#ifdef _WIN32
  // Region by region: every one must be committed, readable and not a guard page.
  uintptr_t at = first;
  const uintptr_t end = first + bytes;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof info) == 0) return false;
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (info.State != MEM_COMMIT || (info.Protect & readable) == 0 || (info.Protect & PAGE_GUARD) != 0)
      return false;
    at = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
  }
  return true;
#else
  // The kernel copies from our own memory into a pipe and says EFAULT where
  // it cannot read, without a signal.
  int fds[2];
  if (pipe(fds) != 0) return false;
  char scratch[4096];
  bool readable = true;
  for (size_t done = 0; readable && done < bytes;) {
    const size_t n = bytes - done < sizeof scratch ? bytes - done : sizeof scratch;
    const ssize_t written = write(fds[1], static_cast<const char*>(address) + done, n);
    if (written <= 0) {
      readable = false;
    } else {
      if (read(fds[0], scratch, size_t(written)) != written) readable = false;
      done += size_t(written);
    }
  }
  close(fds[0]);
  close(fds[1]);
  return readable;
#endif
}

}  // namespace platform
