// The sheet and the animation of the catalogue's frames, written as every result is (a temporary
// file, published without replacing), and what the user is told of them.
#include "cli/overview_run.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <ostream>

#include "base/errors.h"
#include "base/files.h"
#include "base/text.h"
#include "overview/animation.h"
#include "overview/catalog_tiles.h"
#include "overview/contact_sheet.h"

namespace tessaly::cli {
namespace {

namespace fs = std::filesystem;

// An interrupt noticed between two results: nothing is written.
struct Interrupted {
  int signal = 0;
};

// The filter in the words of its options, for the message that it matched nothing.
std::string FilterWords(const ReportFilter& filter) {
  std::string words;
  for (const auto& [option, value] : {std::pair{"--satellite", filter.satellite},
                                      {"--code", filter.code},
                                      {"--since", filter.from},
                                      {"--until", filter.to}}) {
    if (!value.empty()) words += std::string(" ") + option + " " + value;
  }
  return words;
}

bool Replaces(const Options& options) {
  return options.overwrite == OverwritePolicy::kYes;
}

std::string Quoted(const fs::path& name) {
  return "\"" + name.string() + "\"";
}

// Before any work: an output that stands is replaced only with --overwrite, and never a folder.
void CheckOutput(const fs::path& name, const Options& options) {
  if (IsFolder(name)) throw Error("Cannot write " + Quoted(name) + ": it is a folder");
  if (!Replaces(options) && NameIsTaken(name)) {
    throw Error(Quoted(name) + " exists; --overwrite replaces it");
  }
}

// The complete file takes its name; another file that appeared there since the check is
// replaced only with --overwrite.
void Publish(PendingFile& file, const fs::path& name, const Options& options) {
  if (file.PublishIfAbsent()) return;
  if (!Replaces(options)) throw Error(Quoted(name) + " exists; --overwrite replaces it");
  file.PublishReplacing();
}

// The progress line, between results; and where an interrupt is noticed.
OverviewProgress ProgressOn(Reporter& reporter, const Terminal& terminal) {
  return [&reporter, &terminal](std::size_t done, std::size_t, const fs::path& next) {
    if (terminal.interrupted && terminal.interrupted->load() != 0) {
      reporter.ClearProgress();
      throw Interrupted{terminal.interrupted->load()};
    }
    reporter.Progress(done, next);
  };
}

// Told before anything is written, in the words of the options that narrow the frames.
void CheckOneSeries(const std::vector<Tile>& frames, const std::vector<MissingSlot>& missing) {
  const std::vector<Tile> tiles = MergedTiles(frames, missing);
  const std::string series = SeriesWords(tiles);
  if (series.find(", ") == std::string::npos) return;
  throw Error("--animate shows one satellite and code, and the frames matched are of " + series +
              ": choose one with --satellite and --code");
}

std::size_t ResultsToRead(const std::vector<Tile>& frames) {
  return static_cast<std::size_t>(std::count_if(frames.begin(), frames.end(), HasResult));
}

void Tell(const Options& options, Terminal& terminal, const fs::path& name,
          const std::string& description, int width, int height,
          const std::vector<std::string>& problems) {
  for (const std::string& problem : problems) {
    terminal.err << "tessaly-cli: " << EscapeControls(problem) << '\n';
  }
  if (options.verbosity == Verbosity::kQuiet) return;
  terminal.out << EscapeControls(name.string()) << ": " << EscapeControls(description) << "; "
               << width << " x " << height << " pixels\n";
}

void SaveSheet(const Options& options, Terminal& terminal, const std::vector<Tile>& frames,
               const std::vector<MissingSlot>& missing) {
  const fs::path name = options.sheet;
  Reporter reporter(options, terminal, ResultsToRead(frames));
  const ContactSheet sheet =
      MakeContactSheet(frames, missing, name, ProgressOn(reporter, terminal));
  reporter.ClearProgress();
  const std::unique_ptr<PendingFile> file = WritePending(name, sheet.png);
  Publish(*file, name, options);
  Tell(options, terminal, name, sheet.description, sheet.width, sheet.height, sheet.problems);
}

void SaveAnimation(const Options& options, Terminal& terminal, const std::vector<Tile>& frames,
                   const std::vector<MissingSlot>& missing) {
  const fs::path name = options.animate;
  Reporter reporter(options, terminal, ResultsToRead(frames));
  PendingFile file(name);
  const AnimationSummary summary = WriteAnimation(
      frames, missing, options.animation,
      [&file](std::span<const std::uint8_t> bytes) { file.Write(bytes); },
      ProgressOn(reporter, terminal));
  reporter.ClearProgress();
  file.Finish();
  Publish(file, name, options);
  Tell(options, terminal, name, summary.description, summary.width, summary.height,
       summary.problems);
}

int Draw(const Options& options, Terminal& terminal) {
  Catalog catalog = Catalog::OpenForReading(options.catalog);
  const std::vector<Tile> frames = GatherFrames(catalog, options.report_filter);
  const std::vector<MissingSlot> missing = GatherMissingSlots(catalog, options.report_filter);
  if (frames.empty() && missing.empty()) {
    const std::string filter = FilterWords(options.report_filter);
    terminal.err << "tessaly-cli: no frame of " << EscapeControls(Quoted(options.catalog))
                 << (filter.empty() ? " has a time" : " matches" + EscapeControls(filter))
                 << "; nothing written\n";
    return 1;
  }
  for (const std::string& output : {options.sheet, options.animate}) {
    if (!output.empty()) CheckOutput(output, options);
  }
  if (!options.animate.empty()) CheckOneSeries(frames, missing);
  if (!options.sheet.empty()) SaveSheet(options, terminal, frames, missing);
  if (!options.animate.empty()) SaveAnimation(options, terminal, frames, missing);
  return 0;
}

}  // namespace

int RunOverview(const Options& options, Terminal& terminal) {
  try {
    return Draw(options, terminal);
  } catch (const Interrupted& stop) {
    terminal.err << "tessaly-cli: stopped by SIG" << sigabbrev_np(stop.signal)
                 << "; what was not complete was not written\n";
    return 128 + stop.signal;
  } catch (const std::exception& e) {
    terminal.err << "tessaly-cli: " << EscapeControls(e.what()) << '\n';
    return 1;
  }
}

}  // namespace tessaly::cli
