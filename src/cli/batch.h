// The batch run of tessaly-cli: expands the paths, processes the files on
// worker threads and reports, asks and saves in input order.
#pragma once

#include "cli/options.h"
#include "cli/reporter.h"

namespace tessaly::cli {

// Runs the batch; returns the exit status (0 all files succeeded, 1 a file
// failed, 128 + the signal when SIGINT or SIGTERM stopped it).
int RunBatch(const Options& options, Terminal& terminal);

}  // namespace tessaly::cli
