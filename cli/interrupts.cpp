#include "cli/interrupts.h"

#include <csignal>

#include "cli/cli.h"
#include "cli/interrupts_os.h"

namespace cli {
namespace {

std::atomic<bool> gCancel{false};
// The first signal that asked; a later one does not change the exit status.
std::atomic<int> gSignal{0};
std::atomic<int> gCount{0};

}  // namespace

void RequestCancelFor(int signal) {
  int none = 0;
  gSignal.compare_exchange_strong(none, signal);
  gCancel = true;
  ++gCount;
}

const std::atomic<bool>& CancelFlag() { return gCancel; }
bool Cancelled() { return gCancel; }
int InterruptCount() { return gCount; }

int CancelExitCode() {
  const int code = ExitCodeForSignal(gSignal.load());
  return code != 0 ? code : kCancelled;
}

void RequestCancel() { RequestCancelFor(SIGINT); }

}  // namespace cli
