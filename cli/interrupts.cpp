#include "cli/interrupts.h"

#include <csignal>
#include <signal.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "cli/cli.h"

namespace cli {
namespace {

std::atomic<bool> gCancel{false};
// The first signal that asked; a later one does not change the exit status.
std::atomic<int> gSignal{0};
std::atomic<int> gCount{0};

void Request(int signal) {
  int none = 0;
  gSignal.compare_exchange_strong(none, signal);
  gCancel = true;
  ++gCount;
}

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    Request(SIGINT);
    return TRUE;
  }
  return FALSE;
}
#else
extern "C" void OnSignal(int signal) { Request(signal); }
#endif

}  // namespace

void CatchInterrupts() {
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Interrupted reads and writes start again; the flag is looked at between them.
  action.sa_flags = SA_RESTART;
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
#endif
}

void IgnoreInterrupts() {
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  SetConsoleCtrlHandler(nullptr, TRUE);
#else
  for (int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, SIG_IGN);
#endif
}

const std::atomic<bool>& CancelFlag() { return gCancel; }
bool Cancelled() { return gCancel; }
int InterruptCount() { return gCount; }

int CancelExitCode() {
  const int signal = gSignal.load();
#ifndef _WIN32
  if (signal == SIGTERM) return 128 + SIGTERM;
  if (signal == SIGHUP) return 128 + SIGHUP;
#endif
  (void)signal;
  return kCancelled;
}

void RequestCancel() { Request(SIGINT); }

}  // namespace cli
