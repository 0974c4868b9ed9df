// Signal handlers that only record which signal came.
#include "cli/interrupt.h"

#include <csignal>

namespace tessaly::cli {
namespace {

std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler may only touch lock-free state");

extern "C" void NoteSignal(int signal) {
  int none = 0;
  g_signal.compare_exchange_strong(none, signal);
}

}  // namespace

const std::atomic<int>& InterruptSignal() {
  return g_signal;
}

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  // A closed terminal or a dropped connection (SIGHUP) and the quit key (SIGQUIT) ask the run
  // to end as SIGINT does; so does a reader of the report that went away (SIGPIPE), whose
  // write then fails instead of ending the process with files half written.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
    sigaction(signal, &action, nullptr);
  }
}

}  // namespace tessaly::cli
