// A page of address space that cannot be read: what a pointer a host never
// set points at. A plug-in that reads through it faults at once (and under
// AddressSanitizer reports where), so tests can show that it is never read.
#pragma once

namespace host {

class UnreadableMemory {
 public:
  UnreadableMemory() = default;
  ~UnreadableMemory();
  UnreadableMemory(const UnreadableMemory&) = delete;
  UnreadableMemory& operator=(const UnreadableMemory&) = delete;

  // Reserved on first use; null when the system refuses.
  void* address();

 private:
  void* page_ = nullptr;
};

}  // namespace host
