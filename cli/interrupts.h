// Cancelling a run from outside: Ctrl-C, and on POSIX also SIGTERM and
// SIGHUP (a shutdown, a closed terminal), are all a request to stop cleanly:
// the filter is asked to stop through the host's abortProc, the reading and
// writing phases look at the same flag, and nothing is replaced once it is
// set. The exit status says which signal it was, as a shell would.
#pragma once

#include <atomic>

namespace cli {

// Installs the handlers (idempotent).
void CatchInterrupts();
// A batch's worker process leaves them to the batch, which passes a cancel
// on to its workers; one signalled alone would otherwise fail its files
// while the batch goes on.
void IgnoreInterrupts();
// Set once any of them arrived (or RequestCancel was called).
const std::atomic<bool>& CancelFlag();
bool Cancelled();
// How many interrupts arrived (a second one asks for a harder stop).
int InterruptCount();
// 130 for Ctrl-C, 143 for SIGTERM, 129 for SIGHUP.
int CancelExitCode();

}  // namespace cli
