#include "platform/worker_crew.h"

namespace platform {

WorkerCrew::WorkerCrew(int count, size_t stackBytes) : count_(count < 1 ? 1 : count) {
  seats_.resize(size_t(count_));
  threads_.assign(size_t(count_), nullptr);
  for (int k = 0; k < count_; ++k) {
    seats_[size_t(k)] = Seat{this, k};
    threads_[size_t(k)] = StartThread(&WorkerCrew::Main, &seats_[size_t(k)], stackBytes);
  }
}

WorkerCrew::~WorkerCrew() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (ThreadHandle t : threads_) JoinThread(t);
}

uint32_t WorkerCrew::Main(void* raw) {
  Seat* seat = static_cast<Seat*>(raw);
  seat->crew->Work(seat->index);
  return 0;
}

void WorkerCrew::Work(int index) {
  unsigned seen = 0;
  for (;;) {
    Task task;
    void* argument;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      task = task_;
      argument = argument_;
    }
    task(index, argument);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (--pending_ == 0) done_.notify_one();
    }
  }
}

void WorkerCrew::Run(Task task, void* argument) {
  int running = 0;
  for (ThreadHandle t : threads_) running += t != nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    task_ = task;
    argument_ = argument;
    pending_ = running;
    ++generation_;
  }
  if (running > 0) wake_.notify_all();
  // The shares of workers that never started are done here.
  for (int k = 0; k < count_; ++k)
    if (threads_[size_t(k)] == nullptr) task(k, argument);
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return pending_ == 0; });
}

}  // namespace platform
