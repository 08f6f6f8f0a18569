#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "cli/apply_session.h"
#include "cli/batch_command.h"
#include "cli/cli.h"
#include "cli/interrupts.h"
#include "cli/worker_pool.h"
#include "cli/worker_process.h"
#include "cli/worker_protocol.h"
#include "platform/processors.h"

namespace cli {

int WorkerCommand(const ApplyOptions& options) {
  IgnoreBrokenPipes();
  IgnoreInterrupts();
  // Before the module counts the processors for its render threads.
  platform::KeepToProcessorShare(options.workerShare, options.workerShares);
  WorkerChannel channel;  // before anything can print
  ApplySession session;
  std::string error;
  if (int code = session.Open(options, &error)) {
    channel.Send(OpenFailedMessage(code, error));
    return code;
  }
  if (!channel.Send(ReadyMessage())) return kFailure;

  // Standard input is read on a thread of its own, so a cancel reaches the
  // file in hand.
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<WorkerMessage> tasks;
  bool ended = false, busy = false;
  std::thread reader([&] {
    std::string line;
    while (channel.ReadLine(&line)) {
      WorkerMessage m = ParseWorkerMessage(line);
      if (m.kind == WorkerMessage::Cancel) RequestCancel();
      if (m.kind != WorkerMessage::Task) continue;
      std::lock_guard<std::mutex> lock(mutex);
      tasks.push_back(std::move(m));
      arrived.notify_one();
    }
    std::lock_guard<std::mutex> lock(mutex);
    ended = true;
    // The batch closes a worker's input only when it has nothing in hand:
    // an end now means the batch is gone, and no one wants the file.
    if (busy || !tasks.empty()) RequestCancel();
    arrived.notify_one();
  });

  for (;;) {
    WorkerMessage m;
    {
      std::unique_lock<std::mutex> lock(mutex);
      arrived.wait(lock, [&] { return ended || !tasks.empty(); });
      if (tasks.empty()) break;
      m = std::move(tasks.front());
      tasks.pop_front();
      busy = true;
    }
    const FileOutcome outcome = session.Run(m.task);
    {
      std::lock_guard<std::mutex> lock(mutex);
      busy = false;
    }
    // Every file sent is answered, cancelled or not: the batch waits for
    // the answer before it lets this worker go (closes its input).
    if (!channel.Send(ResultMessage(m.id, outcome))) RequestCancel();
  }
  reader.join();
  return Cancelled() ? CancelExitCode() : kSuccess;
}

}  // namespace cli
