// tessaly-cli: the batch front end. Errors are caught here and nowhere deeper.
#include <malloc.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <variant>

#include "cli/batch.h"
#include "cli/catalog_run.h"
#include "cli/checked_output.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/overview_run.h"
#include "picture_store/ipl.h"

namespace {

// Pictures, working pictures and encoder buffers are a few megabytes each. glibc hands blocks
// that large out as fresh mappings and unmaps them when freed, so every file of a batch paid
// for page faults on zeroed memory again. Kept in the heap instead, the next file reuses the
// blocks the previous one freed.
void PrepareHeap() {
  constexpr int kLargestMappedBlock = 32 << 20;  // glibc's own ceiling for this threshold
  mallopt(M_MMAP_THRESHOLD, kLargestMappedBlock);
  mallopt(M_TRIM_THRESHOLD, 2 * kLargestMappedBlock);
}

// A report or catalogue on standard output that could not be written (a full disk, a closed
// pipe) fails the run, as it does for GNU tools: the last of it is written and checked at the end.
int CheckStandardOutput(tessaly::cli::CheckedOutput& out, int status) {
  const int error_number = out.Finish();
  if (error_number == 0) return status;
  // A run stopped for a reader that went away (SIGPIPE) says so itself.
  if (tessaly::cli::InterruptSignal().load() != SIGPIPE) {
    std::cerr << "tessaly-cli: write error: " << std::strerror(error_number) << '\n';
  }
  return status == 0 ? 1 : status;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tessaly::cli;
  PrepareHeap();
  // Past a file-size limit a write then fails with EFBIG: that one save fails, the batch goes on.
  std::signal(SIGXFSZ, SIG_IGN);
  CheckedOutput out_buffer(STDOUT_FILENO);
  std::ostream out(&out_buffer);
  try {
    auto parsed = ParseOptions(argc, argv, out, std::cerr);
    if (const int* status = std::get_if<int>(&parsed))
      return CheckStandardOutput(out_buffer, *status);
    const Options& options = std::get<Options>(parsed);
    // The batch's workers keep the cores busy; the resampler's own threads would only add
    // their start-up and their waiting.
    tessaly::ResampleOnCallingThreads();
    CatchInterrupts();
    const char* term = std::getenv("TERM");
    // A list read from standard input leaves nothing there to answer questions with.
    const bool in_is_terminal = ::isatty(STDIN_FILENO) == 1 && options.from_file != "-";
    Terminal terminal{std::cin,
                      out,
                      std::cerr,
                      in_is_terminal,
                      ::isatty(STDERR_FILENO) == 1,
                      term != nullptr && std::strcmp(term, "dumb") == 0,
                      in_is_terminal ? STDIN_FILENO : -1,
                      &InterruptSignal()};
    const bool draws = !options.sheet.empty() || !options.animate.empty();
    const bool acknowledges = options.acknowledging != Acknowledging::kNone;
    return CheckStandardOutput(out_buffer, options.report ? RunReport(options, terminal)
                                           : draws        ? RunOverview(options, terminal)
                                           : acknowledges ? RunAcknowledge(options, terminal)
                                                          : RunBatch(options, terminal));
  } catch (const std::exception& e) {
    std::cerr << "tessaly-cli: " << e.what() << '\n';
    return 1;
  }
}
