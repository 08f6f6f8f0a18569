#include "platform/message_box.h"

#include <atomic>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace platform {
namespace {

// Worker threads may show a box too (the renderer's plane-stride message), so
// the sink is read atomically; it is only ever installed from the host thread.
struct SinkSlot {
  std::atomic<MessageSink> sink{nullptr};
  std::atomic<void*> context{nullptr};
};

SinkSlot& Slot() {
  static SinkSlot slot;
  return slot;
}

}  // namespace

void SetMessageSink(MessageSink sink, void* context) {
  Slot().context.store(context);
  Slot().sink.store(sink);
}

void ShowMessageBox(const std::string& text, const char* caption) {
  if (MessageSink sink = Slot().sink.load()) {
    sink(text.c_str(), caption, Slot().context.load());
    return;
  }
#ifdef _WIN32
  MessageBoxA(nullptr, text.c_str(), caption, MB_OK);
#else
  std::fprintf(stderr, "[%s] %s\n", caption, text.c_str());
#endif
}

}  // namespace platform
