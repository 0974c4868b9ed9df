// The batch run of tessaly-cli: expands the paths, processes the files on
// worker threads and reports, asks and saves in input order.
#pragma once

#include <iosfwd>

#include "cli/options.h"

namespace tessaly::cli {

struct Terminal {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool in_is_terminal = false;   // overwrite questions are asked only then
  bool err_is_terminal = false;  // the progress line is drawn only then
};

// Runs the batch; returns the exit status (0 all files succeeded, 1 a file failed).
int RunBatch(const Options& options, Terminal& terminal);

}  // namespace tessaly::cli
