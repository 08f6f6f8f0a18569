// Helpers for the fuzz targets: reading values off the fuzzer's bytes, and a
// quiet message sink (message boxes are expected; they must not block).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/message_box.h"

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  template <typename T>
  T Take() {
    T v{};
    const size_t n = sizeof(T) < size_ - at_ ? sizeof(T) : size_ - at_;
    if (at_ < size_) std::memcpy(&v, data_ + at_, n);
    at_ += n;
    return v;
  }
  uint32_t Below(uint32_t limit) { return limit == 0 ? 0 : Take<uint32_t>() % limit; }
  std::string Rest() {
    std::string s(reinterpret_cast<const char*>(data_ + (at_ < size_ ? at_ : size_)),
                  at_ < size_ ? size_ - at_ : 0);
    at_ = size_;
    return s;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// The filter keeps per-user settings in a file on hosts without a registry:
// a fuzzer's inputs must never reach the user's own, so every target gets a
// folder of its own for the run.
inline const bool kPrivateUserFolder = [] {
  char folder[] = "/tmp/kestrelle-fuzz-XXXXXX";
  if (mkdtemp(folder) != nullptr) setenv("XDG_CONFIG_HOME", folder, 1);
  return true;
}();

inline void QuietMessages() {
  platform::SetMessageSink([](const char*, const char*, void*) {}, nullptr);
}

#define FUZZ_CHECK(condition)                                               \
  do {                                                                      \
    if (!(condition)) {                                                     \
      __builtin_printf("fuzz check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      __builtin_trap();                                                     \
    }                                                                       \
  } while (0)
