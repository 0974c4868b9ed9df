// Command-line parsing with CLI11: the options, their help's layout, usage errors in words.
#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/text.h"
#include "cli/option_words.h"
#include "naming/name_template.h"
#include "tessaly/version.h"

namespace tessaly::cli {
namespace {

constexpr int kMaxJobs = 256;

// The help's groups, in the order it lists them. An option joins one with ->group(kInput) and
// the like; one left in a group not named here is listed after these.
constexpr const char* kInput = "Input";
constexpr const char* kSaving = "Naming and saving";
constexpr const char* kCatalog = "Catalogue";
constexpr const char* kOverview = "Contact sheet and animation";
constexpr const char* kReport = "Report";
constexpr const char* kOther = "Other";
const std::vector<std::string> kGroupOrder{kInput, kSaving, kCatalog, kOverview, kReport, kOther};

constexpr std::size_t kHelpWidth = 80;
constexpr std::size_t kDescriptionColumn = 32;  // room for "      --source=full|data-lines"

// `text` broken into lines of at most `width` columns at blanks. Each line of `text` is broken
// on its own, its continuation lines indented as far as it is, then by `indent` more; a word
// longer than the line stays whole.
std::string Wrapped(const std::string& text, std::size_t width = kHelpWidth,
                    std::size_t indent = 0) {
  std::string result;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t to = text.find('\n', from);
    if (to == std::string::npos) to = text.size();
    const std::string_view line(text.data() + from, to - from);
    const std::size_t lead = std::min(line.find_first_not_of(' '), line.size());
    const std::string margin(lead + indent, ' ');
    std::string out(line.substr(0, lead));
    std::size_t column = lead;
    bool first_word = true;
    for (std::size_t at = lead; at < line.size();) {
      const std::size_t word_end = std::min(line.find(' ', at), line.size());
      const std::string_view word = line.substr(at, word_end - at);
      if (!first_word && column + 1 + word.size() > width) {
        out += '\n' + margin;
        column = margin.size();
      } else if (!first_word) {
        out += ' ';
        ++column;
      }
      out += word;
      column += word.size();
      first_word = false;
      at = std::min(line.find_first_not_of(' ', word_end), line.size());
    }
    result += out + '\n';
    from = to + 1;
  }
  return result;
}

// The help in the usual shape of command-line tools: the usage line, what the tool does, the
// options by group in two columns at 80 columns, and the footer. Everything comes from the
// options as they were added, so an option needs no more than its own add_* line.
class HelpLayout : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode) const override {
    std::string help = make_usage(app, name) + '\n' + Wrapped(app->get_description());
    for (const CLI::Option* path : app->get_options(IsPositional)) {
      help += '\n' + Wrapped(path->get_description());
    }
    std::vector<std::string> groups = kGroupOrder;
    for (const std::string& group : app->get_groups()) {
      if (std::find(groups.begin(), groups.end(), group) == groups.end()) groups.push_back(group);
    }
    for (const std::string& group : groups) {
      std::vector<const CLI::Option*> options = app->get_options(
          [&](const CLI::Option* o) { return o->nonpositional() && o->get_group() == group; });
      // --help and --version close their group, as they usually close a help.
      std::stable_partition(options.begin(), options.end(), [app](const CLI::Option* o) {
        return o != app->get_help_ptr() && o != app->get_version_ptr();
      });
      if (!options.empty()) help += make_group(group, false, options);
    }
    return help + '\n' + Wrapped(app->get_footer());
  }

  std::string make_usage(const CLI::App* app, std::string name) const override {
    std::string usage = "Usage: " + name + " [OPTION]...";
    for (const CLI::Option* path : app->get_options(IsPositional)) {
      usage += " [" + path->get_name() + "]...";
    }
    return usage + '\n';
  }

  // "  -r, --recursive", or "      --jobs=N" for an option without a short name.
  std::string make_option_name(const CLI::Option* option, bool) const override {
    std::string name = "  ";
    const auto& shorts = option->get_snames();
    name += shorts.empty() ? "    " : "-" + shorts.front() + ", ";
    const auto& longs = option->get_lnames();
    if (!longs.empty()) name += "--" + longs.front();
    return name;
  }

  std::string make_option_opts(const CLI::Option* option) const override {
    if (option->get_items_expected_max() == 0) return {};
    const std::string value = option->get_option_text();
    return "=" + (value.empty() ? option->get_type_name() : value);
  }

  // The name and its value in the first column, the description wrapped in the second; a name
  // too wide for its column puts the description on the next line.
  std::string make_option(const CLI::Option* option, bool positional) const override {
    std::string text = make_option_name(option, positional) + make_option_opts(option);
    const std::string margin(kDescriptionColumn, ' ');
    const std::string description =
        Wrapped(option->get_description(), kHelpWidth - kDescriptionColumn);
    if (description.empty()) return text + '\n';
    text += text.size() + 2 <= kDescriptionColumn
                ? std::string(kDescriptionColumn - text.size(), ' ')
                : '\n' + margin;
    for (std::size_t from = 0; from < description.size();) {
      const std::size_t end = description.find('\n', from) + 1;
      if (from > 0) text += margin;
      text.append(description, from, end - from);
      from = end;
    }
    return text;
  }

 private:
  static bool IsPositional(const CLI::Option* option) { return !option->nonpositional(); }
};

// Every option CLI11 was given, as the unknown-option check and its suggestions need them, in
// the order they were added: the first of two equally near options is the one suggested.
std::vector<KnownOption> KnownOptions(const CLI::App& app) {
  std::vector<KnownOption> known;
  for (const CLI::Option* option : app.get_options()) {
    const bool takes_value = option->get_items_expected_max() > 0;
    const char short_name =
        option->get_snames().empty() ? '\0' : option->get_snames().front().front();
    for (const std::string& name : option->get_lnames()) {
      known.push_back({"--" + name, short_name, takes_value});
    }
  }
  return known;
}

// A usage mistake, already in words.
struct UsageError {
  std::string message;
};

// The catalogue report asked for, its form, and the days that narrow it.
void CheckReport(Options& options, const std::string& report, const std::string& format) {
  ReportFilter& filter = options.report_filter;
  if (!format.empty()) {
    if (report.empty()) {
      throw UsageError{"--format is the form of a --report (the batch's own lines take --json)"};
    }
    const std::optional<ReportFormat> form = ReportFormatFromWord(format);
    if (!form) throw UsageError{"--format is text, csv or json, not \"" + format + "\""};
    options.report_format = *form;
  }
  if (!report.empty()) {
    options.report = ReportKindFromWord(report);
    if (!options.report) {
      throw UsageError{
          "--report is frames, gaps, duplicates, doubtful, failed, gone, problems or "
          "acknowledged, not \"" +
          report + "\""};
    }
    if (options.catalog.empty()) {
      throw UsageError{"--report reads a catalogue: give --catalog FILE"};
    }
    if (!options.paths.empty() || !options.from_file.empty()) {
      throw UsageError{"--report prints a report of the catalogue and exits; it takes no PATH"};
    }
  }
  const bool narrowed = !filter.from.empty() || !filter.to.empty() || !filter.satellite.empty() ||
                        !filter.code.empty();
  const bool draws = !options.sheet.empty() || !options.animate.empty();
  if (narrowed && options.report != ReportKind::kFrames && options.report != ReportKind::kGaps &&
      !draws) {
    throw UsageError{
        "--since, --until, --satellite and --code narrow --report frames or gaps, --sheet and "
        "--animate"};
  }
  for (const auto& [option, day] : {std::pair{"--since", filter.from}, {"--until", filter.to}}) {
    if (!day.empty() && !IsDay(day)) {
      throw UsageError{std::string(option) + " is a day, YYYY-MM-DD, not \"" + day + "\""};
    }
  }
}

// The contact sheet and the animation, and the values that shape the animation.
void CheckOverview(Options& options, const std::string& frame_ms, const std::string& gaps) {
  if ((!frame_ms.empty() || !gaps.empty()) && options.animate.empty()) {
    throw UsageError{"--frame-ms and --gaps shape --animate; give --animate FILE too"};
  }
  if (!frame_ms.empty()) {
    const std::optional<int> ms = WholeNumberIn(frame_ms, kMinFrameMs, kMaxFrameMs);
    if (!ms || *ms % 10 != 0) {
      throw UsageError{
          "--frame-ms is how long each frame shows, in milliseconds: a multiple of 10 "
          "from " +
          std::to_string(kMinFrameMs) + " to " + std::to_string(kMaxFrameMs) +
          " (a GIF keeps hundredths of a second), not \"" + frame_ms + "\""};
    }
    options.animation.frame_ms = *ms;
  }
  if (gaps == "skip") options.animation.gaps = GapPolicy::kSkip;
  if (!gaps.empty() && gaps != "hold" && gaps != "skip") {
    throw UsageError{
        "--gaps is \"hold\" (the frame before a slot without a picture stays on "
        "for it) or \"skip\" (the slot is left out), not \"" +
        gaps + "\""};
  }
  if (options.sheet.empty() && options.animate.empty()) return;
  if (options.catalog.empty()) {
    throw UsageError{"--sheet and --animate draw from a catalogue: give --catalog FILE"};
  }
  if (options.report) throw UsageError{"--sheet and --animate cannot be used with --report"};
  if (!options.paths.empty() || !options.from_file.empty()) {
    throw UsageError{"--sheet and --animate draw from the catalogue and exit; they take no PATH"};
  }
  if (options.dry_run) throw UsageError{"--sheet and --animate cannot be used with --dry-run"};
  if (options.sheet == options.animate) {
    throw UsageError{"--sheet and --animate name the same file"};
  }
}

// A report, or a change of acknowledgements, does its work and exits: an option of the batch's
// would be silently ignored, so it is refused instead, whatever it is. `what` names the work.
void RefuseBatchOptions(const CLI::App& app, const std::string& what) {
  for (const CLI::Option* option : app.get_options()) {
    if (option->count() == 0 || !option->nonpositional() || option->get_group() == kCatalog) {
      continue;
    }
    const std::string name = "--" + option->get_lnames().front();
    throw UsageError{name + " does not apply to " + what +
                     (name == "--json" ? " (for JSON, give --format json)" : "")};
  }
}

// --acknowledge and its kin change the catalogue's rows and exit; --recheck belongs to a run.
void CheckAcknowledging(const Options& options, int given) {
  if (given > 1) {
    throw UsageError{
        "--acknowledge, --acknowledge-all and --unacknowledge cannot be used together"};
  }
  const bool names = !options.paths.empty() || !options.from_file.empty();
  if (options.acknowledging != Acknowledging::kNone) {
    if (options.catalog.empty()) {
      throw UsageError{
          "--acknowledge, --acknowledge-all and --unacknowledge change a "
          "catalogue: give --catalog FILE"};
    }
    if (options.report || !options.sheet.empty() || !options.animate.empty()) {
      throw UsageError{
          "--acknowledge, --acknowledge-all and --unacknowledge cannot be used with --report, "
          "--sheet or --animate"};
    }
    if (options.acknowledging == Acknowledging::kAll && names) {
      throw UsageError{"--acknowledge-all acknowledges every open problem; it takes no PATH"};
    }
    if (options.acknowledging != Acknowledging::kAll && !names) {
      throw UsageError{"no PATH given: name the input files whose problems to " +
                       std::string(options.acknowledging == Acknowledging::kFiles ? "acknowledge"
                                                                                  : "open again")};
    }
  }
  if (options.recheck &&
      (options.catalog.empty() || !names || options.acknowledging != Acknowledging::kNone)) {
    throw UsageError{
        "--recheck reports the acknowledged problems again in a run: give --catalog "
        "FILE and the PATHs to run on"};
  }
}

// The values that CLI11 takes as text are checked here, so that a bad one is
// explained rather than reported in the parser's terms.
void CheckValues(Options& options, const std::string& source, const std::string& jobs,
                 const std::string& report, const std::string& format) {
  if (!source.empty()) {
    const std::string s = AsciiUpper(source);
    if (s == "FULL") {
      options.source = Source::kFullFrame;
    } else if (s == "DATA-LINES") {
      options.source = Source::kDataLines;
    } else {
      throw UsageError{
          "--source is \"full\" (a whole received frame) or \"data-lines\" (a picture "
          "holding only the data lines), not \"" +
          source + "\""};
    }
  }
  if (!jobs.empty()) {
    const std::optional<int> n = WholeNumberIn(jobs, 1, kMaxJobs);
    if (!n) {
      throw UsageError{
          "--jobs is the number of files processed at once, a whole number from 1 to " +
          std::to_string(kMaxJobs) + ", not \"" + jobs + "\""};
    }
    options.jobs = *n;
  }
  if (!options.name_template.empty()) {
    if (auto problem = TemplateProblem(options.name_template, !options.output_dir.empty())) {
      throw UsageError{*problem};
    }
  }
  CheckReport(options, report, format);
  if (options.paths.empty() && options.from_file.empty() && !options.report &&
      options.sheet.empty() && options.animate.empty() &&
      options.acknowledging == Acknowledging::kNone) {
    throw UsageError{"no PATH given: name picture files or folders (or a list with --from-file)"};
  }
  if (options.null_separated && options.from_file.empty()) {
    throw UsageError{"-0 says how the names in a --from-file list end; give --from-file too"};
  }
}

// The parser's own errors, told in words.
std::string InWords(const CLI::ParseError& e, const std::vector<KnownOption>& known) {
  const std::string kind = e.get_name();
  const std::string what = e.what();
  if (kind == "ArgumentMismatch") {
    for (const KnownOption& k : known) {
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
  std::string source, jobs, report, format, frame_ms, gaps;

  CLI::App app{
      "Decodes the binary header of WEFAX frames (BMP or PNG), proposes the standard file name, "
      "and saves the cropped, contrast-stretched picture (at most 800 pixels across) as an 8-bit "
      "greyscale PNG file beside the input, or under --output-dir. A result of this tool that "
      "is not older than its input is up to date and is not made again.",
      "tessaly-cli"};
  app.formatter(std::make_shared<HelpLayout>());
  app.footer(
      "Exit status: 0 when every file was processed, 1 when a file failed (with --catalog, not "
      "for a failure acknowledged), 2 for a usage error, "
      "130 or 143 when SIGINT or SIGTERM stopped the run.\n"
      "\n"
      "See tessaly-cli(1) (man tessaly-cli) for the naming scheme, name templates, the report, "
      "the JSON output, sidecar files and examples.");
  app.get_help_ptr()->description("print this help and exit")->group(kOther);
  app.set_version_flag("--version", std::string("tessaly-cli ") + version::kText,
                       "print the version and exit")
      ->group(kOther);

  // The help lists the options by group. The order of these lines matters only to the
  // suggestion for a mistyped option: of two equally near, the one added first is suggested.
  app.add_option("--source", source,
                 "kind of source picture: full, a whole received frame (the default), or "
                 "data-lines, a picture holding only the data lines")
      ->option_text("full|data-lines")
      ->group(kInput);
  app.add_flag("--dry-run", options.dry_run, "decode and propose names, but write no file")
      ->group(kSaving);
  auto* yes = app.add_flag_callback(
                     "--overwrite", [&] { options.overwrite = OverwritePolicy::kYes; },
                     "replace existing results of this tool without asking, up-to-date ones too; "
                     "other files are kept")
                  ->group(kSaving);
  auto* no = app.add_flag_callback(
                    "--no-overwrite", [&] { options.overwrite = OverwritePolicy::kNo; },
                    "never replace existing files (the default when standard input is not a "
                    "terminal)")
                 ->group(kSaving);
  auto* originals = app.add_flag_callback(
                           "--overwrite-originals",
                           [&] {
                             options.overwrite = OverwritePolicy::kYes;
                             options.overwrite_originals = true;
                           },
                           "replace existing files without asking, even ones this tool did not "
                           "write")
                        ->group(kSaving);
  yes->excludes(no);
  originals->excludes(no);
  app.add_flag("--json", options.json, "print one JSON object per file on standard output")
      ->group(kReport);
  app.add_option("--jobs", jobs,
                 "decode up to N files at once, 1 to " + std::to_string(kMaxJobs) +
                     " (default: the number of cores)")
      ->option_text("N")
      ->group(kOther);
  app.add_flag("-r,--recursive", options.recursive,
               "take folders to every depth: each folder's pictures, then its subfolders by name "
               "(links to folders are not followed)")
      ->group(kInput);
  auto* quiet = app.add_flag_callback(
                       "-q,--quiet", [&] { options.verbosity = Verbosity::kQuiet; },
                       "print only errors and the summary")
                    ->group(kReport);
  auto* verbose = app.add_flag_callback(
                         "-v,--verbose", [&] { options.verbosity = Verbosity::kVerbose; },
                         "also print the files that are up to date, and each file's header "
                         "text and levels")
                      ->group(kReport);
  quiet->excludes(verbose);
  app.add_option("--from-file", options.from_file,
                 "also take the names listed in LIST, one a line (- for standard input)")
      ->option_text("LIST")
      ->group(kInput);
  app.add_flag("-0,--null", options.null_separated,
               "the names in the --from-file list end in a NUL character (as find -print0 "
               "writes them)")
      ->group(kInput);
  app.add_flag("--sidecar", options.sidecar,
               "beside each saved NAME.png, write NAME.json with the decoded header, levels, cut "
               "and sizes")
      ->group(kSaving);
  app.add_option("--name-template", options.name_template,
                 std::string("name the files from the header's fields instead of the standard "
                             "rules (a header that lacks a field used keeps the standard name); "
                             "placeholders: ") +
                     kTemplatePlaceholderHelp)
      ->option_text("TEMPLATE")
      ->group(kSaving);
  app.add_option("-o,--output-dir", options.output_dir,
                 "save the results (and sidecars) under DIR, made as needed, instead of beside "
                 "the inputs; with -r each folder's tree is mirrored there, and --name-template "
                 "may hold / to lay out folders of its own")
      ->option_text("DIR")
      ->group(kSaving);
  app.add_flag("--skip-unread", options.skip_unread,
               "save nothing for a file whose header was not read (it would keep its own name)")
      ->group(kSaving);
  app.add_flag("--accept-doubtful", options.accept_doubtful,
               "name files from header readings too weak to trust as well (they are still "
               "reported as doubtful)")
      ->group(kSaving);
  app.add_flag("--strict", options.strict,
               "exit with status 1 when any file's header was not read, was doubtful or gave no "
               "name, for nightly jobs that must notice")
      ->group(kReport);
  app.add_flag("--include-results", options.include_results,
               "take this tool's own PNG results found in folders as inputs too (skipped by "
               "default)")
      ->group(kInput);
  app.add_flag("--creation-time", options.creation_time,
               "add the picture's time from its header to each saved PNG as the text Creation "
               "Time (ISO 8601 UTC), so that image managers can sort by it")
      ->group(kSaving);
  app.add_flag("--verify", options.verify,
               "read every result that stands whole and check each chunk's CRC and the "
               "picture's size before taking it as up to date, for a periodic audit (a rerun "
               "otherwise reads only its first chunks and its end)")
      ->group(kSaving);
  app.add_option("--catalog", options.catalog,
                 "record every input in the catalogue FILE, an SQLite database made when "
                 "missing (a dry run only reads it); an input as recorded, whose result stands "
                 "as saved, is up to date without being decoded again")
      ->option_text("FILE")
      ->group(kCatalog);
  app.add_option("--report", report,
                 "with --catalog and no PATH: print a report of the catalogue and exit: the "
                 "frames by time, the missing slots of each code, duplicates, doubtful headers, "
                 "inputs that failed, inputs and results gone, the open problems (not "
                 "acknowledged), or the acknowledged ones")
      ->option_text(std::string(kReportWords))
      ->group(kCatalog);
  app.add_flag("--recheck", options.recheck,
               "with --catalog: report, ask about and count the problems acknowledged as well, "
               "as new ones")
      ->group(kCatalog);
  app.add_flag_callback(
         "--acknowledge", [&] { options.acknowledging = Acknowledging::kFiles; },
         "with --catalog: take the problems the catalogue records of the input files PATH as "
         "known, and exit; until such a file changes or shows another problem, a rerun leaves it "
         "alone, without reporting, asking or counting it (not under --strict either)")
      ->group(kCatalog);
  app.add_flag_callback(
         "--acknowledge-all", [&] { options.acknowledging = Acknowledging::kAll; },
         "with --catalog and no PATH: take every open problem the catalogue records as known, "
         "and exit")
      ->group(kCatalog);
  app.add_flag_callback(
         "--unacknowledge", [&] { options.acknowledging = Acknowledging::kReopened; },
         "with --catalog: take the acknowledged problems of the input files PATH as open "
         "again, and exit")
      ->group(kCatalog);
  app.add_option("--format", format,
                 "the report as text (the default), as CSV with a header row, or as a JSON array "
                 "of one object a line")
      ->option_text(std::string(kReportFormatWords))
      ->group(kCatalog);
  app.add_option("--since", options.report_filter.from,
                 "only the frames from this day (YYYY-MM-DD, UTC) on, for the frames or gaps "
                 "report, --sheet and --animate")
      ->option_text("DAY")
      ->group(kCatalog);
  app.add_option("--until", options.report_filter.to,
                 "only the frames up to this day, included (as --since)")
      ->option_text("DAY")
      ->group(kCatalog);
  app.add_option("--satellite", options.report_filter.satellite,
                 "only the frames of this satellite, as the header names it (as --since)")
      ->option_text("NAME")
      ->group(kCatalog);
  app.add_option("--code", options.report_filter.code,
                 "only the frames of this picture code (as --since)")
      ->option_text("CODE")
      ->group(kCatalog);
  app.add_option("--sheet", options.sheet,
                 "with --catalog and no PATH: draw the results the filters above admit as a "
                 "contact sheet (thumbnails in time order, a band for each day, satellite and "
                 "code, missing slots, gone results and failed frames marked) and save it as the "
                 "PNG FILE")
      ->option_text("FILE")
      ->group(kOverview);
  app.add_option("--animate", options.animate,
                 "with --catalog and no PATH: save the results of one satellite and code that "
                 "the filters admit as a looping GIF FILE, in time order")
      ->option_text("FILE")
      ->group(kOverview);
  app.add_option("--frame-ms", frame_ms,
                 "how long each frame of --animate shows: 20 to 60000 milliseconds, a multiple "
                 "of 10 (default 250)")
      ->option_text("MS")
      ->group(kOverview);
  app.add_option("--gaps", gaps,
                 "what --animate does for a slot without a picture: the frame before it stays "
                 "on for its time (hold, the default) or the slot is left out (skip)")
      ->option_text("hold|skip")
      ->group(kOverview);
  app.add_option("PATH", options.paths,
                 "Each PATH is a picture file, or a folder whose .bmp and .png files are taken; "
                 "at least one PATH or a --from-file list is needed.");

  const std::vector<KnownOption> known = KnownOptions(app);
  std::vector<std::string> given;
  for (int i = 1; i < argc; ++i) given.emplace_back(argv[i]);
  try {
    // Unknown options are found first, so that they are named rather than taken for names.
    if (auto unknown = UnknownOptionMessage(given, known)) throw UsageError{*unknown};
    std::vector<std::string> args(given.rbegin(), given.rend());
    app.parse(args);
    if (app.count("--output-dir") > 0 && options.output_dir.empty()) {
      throw UsageError{"--output-dir needs a folder, not an empty name"};
    }
    for (const char* name : {"--catalog", "--sheet", "--animate"}) {
      if (app.count(name) > 0 && app[name]->as<std::string>().empty()) {
        throw UsageError{std::string(name) + " needs a file, not an empty name"};
      }
    }
    CheckValues(options, source, jobs, report, format);
    CheckOverview(options, frame_ms, gaps);
    const int acknowledging = static_cast<int>(
        app.count("--acknowledge") + app.count("--acknowledge-all") + app.count("--unacknowledge"));
    CheckAcknowledging(options, acknowledging);
    if (options.report) {
      RefuseBatchOptions(app, "--report, which prints a report of the catalogue and exits");
    }
    if (options.acknowledging != Acknowledging::kNone) {
      RefuseBatchOptions(app,
                         "--acknowledge, --acknowledge-all or --unacknowledge, which change "
                         "the catalogue and exit");
    }
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return 0;
  } catch (const CLI::CallForVersion& e) {
    out << e.what() << '\n';
    return 0;
  } catch (const CLI::ParseError& e) {
    err << "tessaly-cli: " << InWords(e, known) << "\nRun with --help for usage.\n";
    return 2;
  } catch (const UsageError& e) {
    err << "tessaly-cli: " << e.message << "\nRun with --help for usage.\n";
    return 2;
  }
  return options;
}

const char* SourceWord(Source source) {
  return source == Source::kDataLines ? "data-lines" : "full";
}

}  // namespace tessaly::cli
