// Ctrl-C and Ctrl-Break in the console cancel the run.
#include <csignal>
#include <windows.h>

#include "cli/interrupts.h"
#include "cli/interrupts_os.h"

namespace cli {
namespace {

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    RequestCancelFor(SIGINT);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

void CatchInterrupts() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

void IgnoreInterrupts() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  SetConsoleCtrlHandler(nullptr, TRUE);
}

int ExitCodeForSignal(int) { return 0; }

}  // namespace cli
