// tessaly-cli: the batch front end. Errors are caught here and nowhere deeper.
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <thread>
#include <variant>

#include "cli/batch.h"
#include "cli/checked_output.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "picture_store/ipl.h"

namespace {

// Pictures, working pictures and encoder buffers are a few megabytes each. glibc hands blocks
// that large out as fresh mappings and unmaps them when freed, so every file of a batch paid
// for page faults on zeroed memory again. Kept in the heap instead, the next file reuses the
// blocks the previous one freed.
//
// A page fault can cost as much as encoding a few rows (on virtual machines far more than on
// bare hardware), and a single file touches a few megabytes of fresh memory. So all threads
// share the one heap, it grows by 64 MiB at a time, and that room is asked for in transparent
// huge pages: one fault per 2 MiB instead of one per 4 KiB. Where the system gives none (its
// setting "never", or no free huge page), the heap simply keeps its small pages.
void PrepareHeap() {
  constexpr int kLargestMappedBlock = 32 << 20;  // glibc's own ceiling for this threshold
  constexpr std::uintptr_t kHugePage = 2 << 20;
  constexpr int kHeapStep = 64 << 20;
  mallopt(M_MMAP_THRESHOLD, kLargestMappedBlock);
  mallopt(M_TRIM_THRESHOLD, 2 * kHeapStep);
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_TOP_PAD, kHeapStep);
  // The heap's unused top is carved so that it begins just below a huge-page boundary, by a
  // block that stays allocated and is never touched past its header; the heap then grows by
  // the step, and its room from the boundary on is asked for in huge pages before anything
  // there is touched. (glibc's top chunk is the heap's end less keepcost; a chunk is the
  // request plus 8 bytes, in steps of 16. The block is at least 1 MiB, more than any freed
  // block this early, so it is carved from the top.)
  //
  // Under a sanitizer's allocator glibc's heap is not in use, and its figures say nothing.
  void* const end = sbrk(0);
  const std::size_t top_size = mallinfo2().keepcost;
  const auto heap_end = reinterpret_cast<std::uintptr_t>(end);
  if (end == reinterpret_cast<void*>(-1) || top_size == 0 || top_size >= heap_end) return;
  const std::uintptr_t top = heap_end - top_size;
  const std::uintptr_t boundary = (top + kHugePage / 2 + kHugePage - 1) & ~(kHugePage - 1);
  constexpr std::uintptr_t kTopHeader = 16;
  // Written to a volatile so that the compiler keeps the otherwise unused allocation.
  static void* volatile spacer = nullptr;
  spacer = std::malloc(boundary - kTopHeader - top - 8);
  const auto grown_end = reinterpret_cast<std::uintptr_t>(sbrk(0));
  if (grown_end != static_cast<std::uintptr_t>(-1) && grown_end > boundary) {
    madvise(reinterpret_cast<void*>(boundary), grown_end - boundary, MADV_HUGEPAGE);
  }
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
    // The resampler's start-up (its threads, its code) overlaps with reading the first files
    // instead of waiting for the first picture to shrink: a tenth of a single file's time.
    const std::jthread resampler_start(tessaly::PrepareResampling);
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
    return CheckStandardOutput(out_buffer, RunBatch(options, terminal));
  } catch (const std::exception& e) {
    std::cerr << "tessaly-cli: " << e.what() << '\n';
    return 1;
  }
}
