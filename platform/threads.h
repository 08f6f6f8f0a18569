// Worker threads for the band renderer: the processor count, starting a
// thread with a given stack size, and joining it. Windows uses
// CreateThread / WaitForSingleObject / CloseHandle; Linux POSIX threads.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// The processors this process may use (at least 1): its affinity, within
// a cgroup CPU quota.
int ProcessorCount();

typedef uint32_t (*ThreadEntry)(void* argument);

// An opaque handle of a started thread; null when the thread did not start.
typedef void* ThreadHandle;

ThreadHandle StartThread(ThreadEntry entry, void* argument, size_t stackBytes);
// Waits without time limit for the thread, then closes its handle.
void JoinThread(ThreadHandle thread);

// Test hooks: pretend the machine has `count` processors (0 restores the
// real count); and ask `gate` before every thread start, a false answer
// making that start fail (so the renderer's fallback for a thread that
// cannot start can be checked, and a host's fault injection can count thread
// starts). A null gate removes it.
void SetProcessorCountForTesting(int count);
typedef bool (*ThreadStartGate)(void* context);
void SetThreadStartGateForTesting(ThreadStartGate gate, void* context);

}  // namespace platform
