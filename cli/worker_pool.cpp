#include "cli/worker_pool.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "files/file_identity.h"
#include "files/staged_file.h"
#include "cli/apply_options.h"
#include "cli/cli.h"
#include "cli/interrupts.h"
#include "cli/worker_process.h"
#include "cli/worker_protocol.h"

namespace cli {
namespace {

// A line from a worker, or its end.
struct Event {
  size_t slot;
  bool ended;
  std::string line;
};

class EventQueue {
 public:
  void Push(Event e) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back(std::move(e));
    }
    ready_.notify_one();
  }
  // Waits a little for an event: the cancel flag, set by a signal handler,
  // is looked at between waits.
  bool Pop(Event* e) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait_for(lock, std::chrono::milliseconds(50), [this] { return !events_.empty(); });
    if (events_.empty()) return false;
    *e = std::move(events_.front());
    events_.pop_front();
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Event> events_;
};

struct Slot {
  std::unique_ptr<WorkerProcess> process;
  std::thread reader;
  bool running = false;  // started, its end not yet seen
  bool ready = false;    // has opened the session
  bool busy = false;     // has a file in hand
  bool closed = false;   // its input is closed: it gets nothing more
  size_t id = 0;
  std::string output;  // of the file in hand
  std::chrono::steady_clock::time_point since;  // it was handed over
};

}  // namespace

void RunInProcess(ApplySession& session, const NextTask& next, const TaskDone& done) {
  size_t id = 0;
  FileTask task;
  while (!Cancelled() && next(&id, &task)) done(id, session.Run(task));
}

void RunInWorkers(int jobs, const std::vector<std::string>& sessionArgs, const NextTask& next,
                  const TaskDone& done) {
  IgnoreBrokenPipes();
  const std::string program = ProgramPath();
  const size_t count = size_t(jobs > 0 ? jobs : 1);

  EventQueue events;
  std::vector<Slot> slots(count);
  std::string openError = "no worker process could be started";
  bool exhausted = false, cancelSent = false, killed = false;
  int interruptsAtCancel = 0;
  int restarts = 0;

  auto start = [&](size_t index) {
    Slot& s = slots[index];
    if (s.reader.joinable()) s.reader.join();
    s = Slot{};
    s.process = std::make_unique<WorkerProcess>();
    // Each worker keeps to its part of the processors (see --help on --jobs).
    std::vector<std::string> args = {"apply", std::string(kWorkerOption) + "=" + std::to_string(index) + "/" +
                                                  std::to_string(count)};
    args.insert(args.end(), sessionArgs.begin(), sessionArgs.end());
    std::string why;
    if (!s.process->Start(program, args, &why)) {
      openError = why;
      s.process.reset();
      return;
    }
    s.running = true;
    WorkerProcess* process = s.process.get();
    s.reader = std::thread([process, index, &events] {
      std::string line;
      while (process->ReadLine(&line)) events.Push({index, false, line});
      events.Push({index, true, ""});
    });
  };
  auto close = [](Slot& s) {
    if (!s.closed) s.process->CloseInput();
    s.closed = true;
  };
  // Hands an idle worker its next file, or lets it go.
  auto dispatch = [&](Slot& s) {
    size_t id = 0;
    FileTask task;
    if (Cancelled() || exhausted || !next(&id, &task)) {
      exhausted = exhausted || !Cancelled();
      close(s);
      return;
    }
    s.busy = true;
    s.id = id;
    s.output = task.output;
    s.since = std::chrono::steady_clock::now();
    // A worker that is gone ends its output too: its file fails there.
    s.process->Send(TaskMessage(id, task));
  };

  for (size_t i = 0; i < slots.size(); ++i) start(i);
  for (;;) {
    bool anyRunning = false;
    for (const Slot& s : slots) anyRunning = anyRunning || s.running;
    if (!anyRunning) break;
    // A second interrupt does not wait for the files in hand: their
    // workers are ended, and their temporary files removed here.
    if (cancelSent && !killed && InterruptCount() > interruptsAtCancel) {
      killed = true;
      for (Slot& s : slots)
        if (s.running) s.process->Kill();
    }
    if (Cancelled() && !cancelSent) {
      cancelSent = true;
      interruptsAtCancel = InterruptCount();
      for (Slot& s : slots) {
        if (!s.running || s.closed) continue;
        if (s.busy)
          s.process->Send(CancelMessage());
        else
          close(s);
      }
    }
    Event e;
    if (!events.Pop(&e)) continue;
    Slot& s = slots[e.slot];
    if (e.ended) {
      s.reader.join();
      const int code = s.process->Wait();
      s.running = false;
      // Its files are all reported; an exit status that is not 0 still
      // says something went wrong in it (a leak checker, a crash on exit).
      if (!s.busy && code != 0 && s.ready && !Cancelled())
        Error("warning: worker process " + std::to_string(s.process->Id()) + " exited with status " +
              std::to_string(code));
      if (s.busy) {
        s.busy = false;
        // A worker killed while writing could not remove its temporary
        // file, which lies beside the file the output's links lead to.
        std::string target, unused;
        if (!files::FollowLinks(s.output, &target, &unused)) target = s.output;
        files::RemoveLeftoversOf(files::FolderOf(target), s.process->Id());
        FileOutcome lost = Cancelled() ? FileOutcome::Cancel()
                                       : FileOutcome::Failure(kFailure, "the worker process filtering it ended (exit code " +
                                              std::to_string(code) + "); nothing was written");
        lost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - s.since).count();
        done(s.id, lost);
      }
      // A worker that could open the session once can again: the next one
      // takes the files that are left.
      if (s.ready && !Cancelled() && !exhausted && restarts < 1000) {
        ++restarts;
        start(e.slot);
      }
      continue;
    }
    const WorkerMessage m = ParseWorkerMessage(e.line);
    if (m.kind == WorkerMessage::Ready && !s.ready) {
      s.ready = true;
      dispatch(s);
    } else if (m.kind == WorkerMessage::OpenFailed) {
      openError = m.error;
      close(s);
    } else if (m.kind == WorkerMessage::Result && s.busy && m.id == s.id) {
      s.busy = false;
      if (m.outcome.cancelled && !Cancelled()) {
        // A signal that reached the worker alone: the batch goes on, and
        // the file was not done. The worker stops (its cancel holds for
        // every file it would take); the next one takes the rest.
        done(m.id, FileOutcome::Failure(kFailure, "its worker process was cancelled by a signal sent to it alone; nothing was written"));
        close(s);
        continue;
      }
      done(m.id, m.outcome);
      dispatch(s);
    }
  }
  // No worker could take them.
  if (!exhausted && !Cancelled()) {
    size_t id = 0;
    FileTask task;
    while (next(&id, &task)) done(id, FileOutcome::Failure(kFailure, openError));
  }
}

}  // namespace cli
