// How each system asks a process to stop (signals on POSIX, console events
// on Windows): interrupts_posix.cpp, interrupts_windows.cpp. Internal to
// cli/.
#pragma once

namespace cli {

// Records that `signal` asked the run to stop; safe in a signal handler.
void RequestCancelFor(int signal);

// The exit status a run stopped by `signal` ends with, 0 for the usual
// cancelled status.
int ExitCodeForSignal(int signal);

}  // namespace cli
