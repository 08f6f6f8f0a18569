// SIGINT, SIGTERM and SIGHUP cancel the run; the exit status says which
// (128 + the signal), as a shell expects of a process a signal stopped.
#include <csignal>
#include <initializer_list>
#include <signal.h>

#include "cli/interrupts.h"
#include "cli/interrupts_os.h"

namespace cli {
namespace {

extern "C" void OnSignal(int signal) { RequestCancelFor(signal); }

}  // namespace

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Interrupted reads and writes start again; the flag is looked at between them.
  action.sa_flags = SA_RESTART;
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

void IgnoreInterrupts() {
  for (int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, SIG_IGN);
}

int ExitCodeForSignal(int signal) {
  if (signal == SIGTERM) return 128 + SIGTERM;
  if (signal == SIGHUP) return 128 + SIGHUP;
  return 0;
}

}  // namespace cli
