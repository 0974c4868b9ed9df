// SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE end a batch cleanly: the handlers only note the
// signal, and the batch stops taking files, finishes the save in progress, removes the files it
// wrote ahead and reports.
#pragma once

#include <atomic>

namespace tessaly::cli {

// The signal that asked the run to stop, or 0. Set only by the handlers.
const std::atomic<int>& InterruptSignal();

// Installs the handlers for those signals (restarting interrupted calls, so that a save in
// progress completes).
void CatchInterrupts();

}  // namespace tessaly::cli
