// Command-line options of tessaly-cli and their parsing.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "app/processor.h"
#include "catalog/report.h"
#include "cli/catalog_report.h"
#include "overview/animation.h"

namespace tessaly::cli {

enum class OverwritePolicy {
  kAsk,  // ask on a terminal; answered No when standard input is not one
  kYes,  // --overwrite: replace the tool's own results without asking, up-to-date ones too
  kNo,   // --no-overwrite
};

// --acknowledge, --acknowledge-all, --unacknowledge: what becomes of the problems the catalogue
// records, instead of a run.
enum class Acknowledging {
  kNone,
  kFiles,     // the problems of the PATHs are known: left alone by reruns while unchanged
  kAll,       // every open problem is known
  kReopened,  // the problems of the PATHs are open again
};

enum class Verbosity {
  kQuiet,   // --quiet: errors and the summary only
  kNormal,  // one line per file
  kVerbose  // --verbose: also the header text and levels of each file
};

struct Options {
  Source source = Source::kFullFrame;  // --source: full or data-lines
  bool dry_run = false;                // --dry-run: propose names, write nothing
  OverwritePolicy overwrite = OverwritePolicy::kAsk;
  // --overwrite-originals: --overwrite also replaces files that are not the tool's results.
  bool overwrite_originals = false;
  bool json = false;       // --json: one JSON object per file on standard output
  int jobs = 1;            // --jobs: files processed at once (default: the number of cores)
  bool recursive = false;  // --recursive: folders to every depth
  Verbosity verbosity = Verbosity::kNormal;  // --quiet, --verbose
  std::string from_file;                     // --from-file: a list of names ("-": standard input)
  bool null_separated = false;               // -0: the list's names end in NUL, not newline
  bool sidecar = false;                      // --sidecar: NAME.json beside each saved NAME.png
  std::string name_template;                 // --name-template: names from the header's fields
  std::string output_dir;    // --output-dir: results below this folder instead of beside the inputs
  bool skip_unread = false;  // --skip-unread: save nothing whose header was not read
  bool strict = false;       // --strict: exit status 1 when a header was not trusted
  bool accept_doubtful = false;  // --accept-doubtful: name from doubtful header readings
  bool include_results = false;  // --include-results: folders give the tool's results too
  bool creation_time = false;    // --creation-time: the header's time as a PNG text
  bool verify = false;           // --verify: results read whole before they are up to date
  std::string catalog;           // --catalog: record every input in this catalogue
  // --recheck: a problem the catalogue records as acknowledged is reported, asked about and
  // counted again, as a new one is.
  bool recheck = false;
  Acknowledging acknowledging = Acknowledging::kNone;
  // --report: print this report of the catalogue instead of a run, in --format; --since,
  // --until, --satellite and --code narrow the frames and gaps reports.
  std::optional<ReportKind> report;
  ReportFormat report_format = ReportFormat::kText;
  ReportFilter report_filter;
  // --sheet, --animate: the contact sheet (PNG) or the animation (GIF) of the frames the report
  // filters admit, made from the catalogue and the results; --frame-ms and --gaps shape the
  // animation. Each names the file to write.
  std::string sheet;
  std::string animate;
  AnimationOptions animation;
  std::vector<std::string> paths;  // files and folders, in order, as given
};

// The parsed options, or the exit status when parsing ended the run (0 after
// --help or --version, 2 for a usage error, with the message already printed).
std::variant<Options, int> ParseOptions(int argc, const char* const* argv, std::ostream& out,
                                        std::ostream& err);

// --source's word for `source`: "full" or "data-lines", as the catalogue and sidecars record it.
const char* SourceWord(Source source);

}  // namespace tessaly::cli
