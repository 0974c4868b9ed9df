// Command-line options of tessaly-cli and their parsing.
#pragma once

#include <iosfwd>
#include <string>
#include <variant>
#include <vector>

namespace tessaly::cli {

enum class OverwritePolicy {
  kAsk,  // ask on a terminal; answered No when standard input is not one
  kYes,  // --overwrite
  kNo,   // --no-overwrite
};

struct Options {
  int source_id = 0;     // --source: 0 full frame, 1 data lines only
  bool dry_run = false;  // --dry-run: propose names, write nothing
  OverwritePolicy overwrite = OverwritePolicy::kAsk;
  bool json = false;               // --json: one JSON object per file on standard output
  int jobs = 1;                    // --jobs: files processed at once (default: the number of cores)
  std::vector<std::string> paths;  // files and folders, in order
};

// The parsed options, or the exit status when parsing ended the run (0 after
// --help or --version, 2 for a usage error, with the message already printed).
std::variant<Options, int> ParseOptions(int argc, const char* const* argv, std::ostream& out,
                                        std::ostream& err);

}  // namespace tessaly::cli
