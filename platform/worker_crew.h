// Worker threads started once and handed work step after step: a render of
// many tiles starts its workers once instead of once per tile (starting a
// thread costs about as much as filtering a small tile).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

#include "platform/threads.h"

namespace platform {

class WorkerCrew {
 public:
  typedef void (*Task)(int worker, void* argument);

  // Starts `count` threads with stacks of `stackBytes`. A thread that cannot
  // be started leaves its share of every step to the calling thread.
  WorkerCrew(int count, size_t stackBytes);
  // Stops the workers and joins them, in the order they were created.
  ~WorkerCrew();
  WorkerCrew(const WorkerCrew&) = delete;
  WorkerCrew& operator=(const WorkerCrew&) = delete;

  int size() const { return count_; }
  // Runs task(k, argument) for every k in 0..size()-1, each on its own
  // worker, and returns when all have finished.
  void Run(Task task, void* argument);

 private:
  struct Seat {
    WorkerCrew* crew;
    int index;
  };
  static uint32_t Main(void* seat);
  void Work(int index);

  int count_;
  std::vector<Seat> seats_;
  std::vector<ThreadHandle> threads_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  Task task_ = nullptr;
  void* argument_ = nullptr;
  unsigned generation_ = 0;
  int pending_ = 0;
  bool stopping_ = false;
};

}  // namespace platform
