// Command-line parsing with CLI11; usage errors are told in words and end with status 2.
#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "cli/option_words.h"
#include "naming/name_template.h"
#include "tessaly/version.h"

namespace tessaly::cli {
namespace {

constexpr int kMaxJobs = 256;

// Every option, for the unknown-option check and its suggestions.
const std::vector<KnownOption>& KnownOptions() {
  static const std::vector<KnownOption> known{
      {"--help", 'h', false},          {"--version", '\0', false},
      {"--source", '\0', true},        {"--dry-run", '\0', false},
      {"--overwrite", '\0', false},    {"--no-overwrite", '\0', false},
      {"--overwrite-originals", '\0', false},
      {"--json", '\0', false},         {"--jobs", '\0', true},
      {"--recursive", 'r', false},     {"--quiet", 'q', false},
      {"--verbose", 'v', false},       {"--from-file", '\0', true},
      {"--null", '0', false},          {"--sidecar", '\0', false},
      {"--name-template", '\0', true}, {"--skip-unread", '\0', false},
      {"--include-results", '\0', false},
  };
  return known;
}

// A usage mistake, already in words.
struct UsageError {
  std::string message;
};

// The values that CLI11 takes as text are checked here, so that a bad one is
// explained rather than reported in the parser's terms.
void CheckValues(Options& options, const std::string& source, const std::string& jobs) {
  if (!source.empty()) {
    const std::string s = AsciiUpper(source);
    if (s == "FULL") {
      options.source = Source::kFullFrame;
    } else if (s == "DATA-LINES") {
      options.source = Source::kDataLines;
    } else {
      throw UsageError{"--source is \"full\" (a whole received frame) or \"data-lines\" (a picture "
                       "holding only the data lines), not \"" +
                       source + "\""};
    }
  }
  if (!jobs.empty()) {
    const std::optional<int> n = WholeNumberIn(jobs, 1, kMaxJobs);
    if (!n) {
      throw UsageError{"--jobs is the number of files processed at once, a whole number from 1 to " +
                       std::to_string(kMaxJobs) + ", not \"" + jobs + "\""};
    }
    options.jobs = *n;
  }
  if (!options.name_template.empty()) {
    if (auto problem = TemplateProblem(options.name_template)) throw UsageError{*problem};
  }
  if (options.paths.empty() && options.from_file.empty()) {
    throw UsageError{"no PATH given: name picture files or folders (or a list with --from-file)"};
  }
  if (options.null_separated && options.from_file.empty()) {
    throw UsageError{"-0 says how the names in a --from-file list end; give --from-file too"};
  }
}

// The parser's own errors, told in words.
std::string InWords(const CLI::ParseError& e) {
  const std::string kind = e.get_name();
  const std::string what = e.what();
  if (kind == "ArgumentMismatch") {
    for (const KnownOption& k : KnownOptions()) {
      if (what.find(k.long_name) != std::string::npos) return k.long_name + " needs a value";
    }
    return "an option is missing its value";
  }
  if (kind == "ExcludesError") {
    if (what.find("quiet") != std::string::npos || what.find("verbose") != std::string::npos) {
      return "--quiet and --verbose cannot be used together";
    }
    return "--overwrite (or --overwrite-originals) and --no-overwrite cannot be used together";
  }
  return what;
}

}  // namespace

std::variant<Options, int> ParseOptions(int argc, const char* const* argv, std::ostream& out,
                                        std::ostream& err) {
  Options options;
  options.jobs = std::max(1u, std::thread::hardware_concurrency());
  std::string source, jobs;

  CLI::App app{
      "Decodes the binary header of WEFAX frames (BMP or PNG), proposes the standard file name,\n"
      "and saves the cropped, contrast-stretched picture (at most 800 pixels across) as an\n"
      "8-bit greyscale PNG file beside the input.",
      "tessaly-cli"};
  app.set_version_flag("--version", std::string("tessaly-cli ") + version::kText);

  app.add_option("--source", source,
                 "Kind of source picture: full (a whole received frame, the default) or "
                 "data-lines (a picture holding only the data lines)")
      ->option_text("full|data-lines");
  app.add_flag("--dry-run", options.dry_run, "Decode and propose names, but write no file");
  auto* yes = app.add_flag_callback(
      "--overwrite", [&] { options.overwrite = OverwritePolicy::kYes; },
      "Replace existing results of this tool without asking; other files are kept");
  auto* originals = app.add_flag_callback(
      "--overwrite-originals",
      [&] {
        options.overwrite = OverwritePolicy::kYes;
        options.overwrite_originals = true;
      },
      "Replace existing files without asking, even ones this tool did not write");
  auto* no = app.add_flag_callback(
      "--no-overwrite", [&] { options.overwrite = OverwritePolicy::kNo; },
      "Never replace existing files (the default when standard input is not a terminal)");
  yes->excludes(no);
  originals->excludes(no);
  app.add_flag("--json", options.json, "Print one JSON object per file on standard output");
  app.add_option("--jobs", jobs, "Files processed at once (default: the number of cores)")
      ->option_text("N");
  app.add_flag("-r,--recursive", options.recursive,
               "Take folders to every depth: each folder's pictures, then its subfolders by name "
               "(links to folders are not followed)");
  auto* quiet = app.add_flag_callback(
      "-q,--quiet", [&] { options.verbosity = Verbosity::kQuiet; },
      "Print only errors and the summary");
  auto* verbose = app.add_flag_callback(
      "-v,--verbose", [&] { options.verbosity = Verbosity::kVerbose; },
      "Also print each file's header text and levels");
  quiet->excludes(verbose);
  app.add_option("--from-file", options.from_file,
                 "Also take the names listed in LIST, one a line (- for standard input)")
      ->option_text("LIST");
  app.add_flag("-0,--null", options.null_separated,
               "The names in the --from-file list end in a NUL character (as find -print0 writes)");
  app.add_flag("--sidecar", options.sidecar,
               "Beside each saved NAME.png, write NAME.json with the decoded header, levels, cut "
               "and sizes");
  app.add_option("--name-template", options.name_template,
                 std::string("Name the files from the header's fields instead of the standard "
                             "rules; placeholders: ") +
                     kTemplatePlaceholderHelp +
                     ". A header that does not give every field used keeps the standard name.")
      ->option_text("TEMPLATE");
  app.add_flag("--skip-unread", options.skip_unread,
               "Save nothing for a file whose header was not read (it would keep its own name)");
  app.add_flag("--include-results", options.include_results,
               "Take this tool's own PNG results found in folders as inputs too (skipped by "
               "default)");
  app.add_option("PATH", options.paths,
                 "Picture files, or folders whose .bmp and .png files are taken");

  std::vector<std::string> given;
  for (int i = 1; i < argc; ++i) given.emplace_back(argv[i]);
  try {
    // Unknown options are found first, so that they are named rather than taken for names.
    if (auto unknown = UnknownOptionMessage(given, KnownOptions())) throw UsageError{*unknown};
    std::vector<std::string> args(given.rbegin(), given.rend());
    app.parse(args);
    CheckValues(options, source, jobs);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return 0;
  } catch (const CLI::CallForVersion& e) {
    out << e.what() << '\n';
    return 0;
  } catch (const CLI::ParseError& e) {
    err << "tessaly-cli: " << InWords(e) << "\nRun with --help for usage.\n";
    return 2;
  } catch (const UsageError& e) {
    err << "tessaly-cli: " << e.message << "\nRun with --help for usage.\n";
    return 2;
  }
  return options;
}

}  // namespace tessaly::cli
