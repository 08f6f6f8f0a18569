#include "platform/threads.h"

#include "platform/processors.h"

#include <atomic>
#include <new>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <unistd.h>
#endif

namespace platform {
namespace {

std::atomic<int> processorOverride{0};
std::atomic<ThreadStartGate> startGate{nullptr};
std::atomic<void*> startGateContext{nullptr};

bool ShouldFailStart() {
  ThreadStartGate gate = startGate.load();
  return gate != nullptr && !gate(startGateContext.load());
}

#ifndef _WIN32
struct Trampoline {
  ThreadEntry entry;
  void* argument;
};

void* RunTrampoline(void* raw) {
  Trampoline t = *static_cast<Trampoline*>(raw);
  delete static_cast<Trampoline*>(raw);
  t.entry(t.argument);
  return nullptr;
}
#endif

}  // namespace

void SetProcessorCountForTesting(int count) { processorOverride = count; }

void SetThreadStartGateForTesting(ThreadStartGate gate, void* context) {
  startGateContext = context;
  startGate = gate;
}

int ProcessorCount() {
  if (int n = processorOverride.load()) return n;
  return ProcessorBudget();
}

#ifdef _WIN32
ThreadHandle StartThread(ThreadEntry entry, void* argument, size_t stackBytes) {
  if (ShouldFailStart()) return nullptr;
  // ThreadEntry has the shape of a thread start routine: one pointer in, a
  // 32-bit result out; the x86 calling convention is the one difference.
  struct Start {
    static DWORD WINAPI Run(LPVOID raw) {
      auto* pair = static_cast<std::pair<ThreadEntry, void*>*>(raw);
      std::pair<ThreadEntry, void*> local = *pair;
      delete pair;
      return local.first(local.second);
    }
  };
  auto* pair = new (std::nothrow) std::pair<ThreadEntry, void*>(entry, argument);
  if (!pair) return nullptr;
  HANDLE h = CreateThread(nullptr, stackBytes, &Start::Run, pair, 0, nullptr);
  if (!h) delete pair;
  return h;
}

void JoinThread(ThreadHandle thread) {
  if (!thread) return;
  WaitForSingleObject(static_cast<HANDLE>(thread), INFINITE);
  CloseHandle(static_cast<HANDLE>(thread));
}
#else
ThreadHandle StartThread(ThreadEntry entry, void* argument, size_t stackBytes) {
  if (ShouldFailStart()) return nullptr;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return nullptr;
  size_t stack = stackBytes < size_t(PTHREAD_STACK_MIN) ? size_t(PTHREAD_STACK_MIN) : stackBytes;
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer's instrumentation needs more stack than the kernels do.
  stack *= 4;
#endif
  pthread_attr_setstacksize(&attributes, stack);
  auto* trampoline = new (std::nothrow) Trampoline{entry, argument};
  pthread_t* thread = new (std::nothrow) pthread_t;
  bool started = trampoline && thread &&
                 pthread_create(thread, &attributes, &RunTrampoline, trampoline) == 0;
  pthread_attr_destroy(&attributes);
  if (!started) {
    delete trampoline;
    delete thread;
    return nullptr;
  }
  return thread;
}

void JoinThread(ThreadHandle thread) {
  if (!thread) return;
  pthread_t* t = static_cast<pthread_t*>(thread);
  pthread_join(*t, nullptr);
  delete t;
}
#endif

}  // namespace platform
