// The batch tool's catalogue: rows from the files' results, the recorded picture of a file not
// decoded again, the run's catalogue and the report mode.
#include "cli/catalog_run.h"

#include <ostream>
#include <system_error>

#include "base/errors.h"
#include "base/files.h"
#include "base/text.h"
#include "cli/catalog_report.h"
#include "cli/json.h"
#include "naming/header_name.h"
#include "picture_files/png_chunks.h"

namespace tessaly::cli {

namespace fs = std::filesystem;

const char* OutcomeWord(Fate fate) {
  switch (fate) {
    case Fate::kSaved:
      return kOutcomeSaved;
    case Fate::kUnchanged:
      return "unchanged";
    case Fate::kDeclined:
      return "declined";
    case Fate::kKeptOriginal:
      return "kept original";
    case Fate::kUpToDate:
      return kOutcomeUpToDate;
    case Fate::kCollided:
      return "collided";
    case Fate::kUnreadLeft:
      return "header not read left";
    case Fate::kSkipped:
      return "skipped";
    case Fate::kFailed:
      return kOutcomeFailed;
    case Fate::kWouldSave:
    case Fate::kWouldCollide:
    case Fate::kAlreadyResult:
    case Fate::kKnown:  // its row stands as it was
      break;
  }
  return nullptr;
}

std::string RowAgainstResult(const FrameRow& row, const PictureResult& p, const SourceFacts* now,
                             Source source) {
  if (!LeavesAnOutput(row.outcome) || row.output != FullPath(p.proposed_name)) return {};
  if (now != nullptr && !now->hash.empty() && row.source_hash && *row.source_hash != now->hash) {
    return "its input changed since its result was made";
  }
  if (row.source_kind && *row.source_kind != SourceWord(source)) {
    return std::string("its result was made with --source ") + *row.source_kind;
  }
  // Another result of this frame (a run without the catalogue made it again) is as good as the
  // recorded one; only a result that is not sound is held against.
  if (row.output_hash && !OutputAsRecorded(row)) {
    std::optional<PngChunkReader> png = PngChunkReader::Open(p.proposed_name);
    if (!png || !IsSoundPng(*png)) return ResultStateWords(ResultState::kDamaged);
  }
  return {};
}

std::string ProblemOf(Fate fate, const PictureResult* picture) {
  if (fate == Fate::kFailed) return "failed";
  std::string problem;
  switch (CountedHeaderState(fate, picture)) {
    case HeaderState::kNotRead:
      problem = "header not read";
      break;
    case HeaderState::kNoName:
      problem = "header gave no name";
      break;
    case HeaderState::kDoubtful:
      problem = "header doubtful";
      break;
    case HeaderState::kNamed:
      break;
  }
  // A dry run's collision is the one its real run would record.
  const Fate target = fate == Fate::kWouldCollide ? Fate::kCollided : fate;
  if (target == Fate::kDeclined || target == Fate::kKeptOriginal || target == Fate::kCollided) {
    problem += (problem.empty() ? "" : ", ") + std::string(OutcomeWord(target));
  }
  return problem;
}

std::optional<PictureResult> RecordedPicture(const FrameRow& row, const fs::path& input,
                                             bool accept_doubtful) {
  std::string latin1;
  if (!row.header || !Utf8ToLatin1(*row.header, latin1)) return std::nullopt;
  PictureResult p;
  p.input_name = input;
  p.header = RecordedHeader(row);
  p.header_doubtful = row.header_doubtful.value_or(false);
  p.header_confidence = row.header_confidence;
  NameProposal doubtful;
  if (p.header_doubtful && !accept_doubtful && p.header) {
    // As the pipeline does: a doubtful reading names nothing, the name it gives is kept beside.
    doubtful = ProposeName(input, latin1, p.header);
    if (doubtful.named_from == NamedFrom::kInputName) doubtful = {};
    p.header.reset();
  }
  SetProposal(p, ProposeName(input, latin1, p.header), doubtful);
  p.header_text = std::move(latin1);
  for (const SatelliteType type :
       {SatelliteType::GOES, SatelliteType::GMS, SatelliteType::Meteosat}) {
    if (row.reading == ReadingText(type)) p.read_as = type;
  }
  p.black_level = static_cast<std::int32_t>(row.black.value_or(0));
  p.white_level = static_cast<std::int32_t>(row.white.value_or(0));
  p.cut = {static_cast<int>(row.cut_x.value_or(0)), static_cast<int>(row.cut_y.value_or(0)),
           static_cast<int>(row.cut_w.value_or(0)), static_cast<int>(row.cut_h.value_or(0))};
  return p;
}

std::optional<std::pair<int, int>> PngSize(const fs::path& file) {
  std::optional<PngChunkReader> png = PngChunkReader::Open(file);
  const std::optional<PngHeader> header = png ? ReadPngHeader(*png) : std::nullopt;
  if (!header) return std::nullopt;
  return std::pair{static_cast<int>(header->width), static_cast<int>(header->height)};
}

FrameRow RowOf(const FileResult& r, Fate fate) {
  FrameRow row;
  row.source = FullPath(r.input);
  const char* word = OutcomeWord(fate);
  row.outcome = word != nullptr ? word : kOutcomeFailed;
  if (r.source) {
    row.source_size = r.source->stamp.size;
    row.source_mtime = r.source->stamp.mtime;
    if (!r.source->hash.empty()) row.source_hash = r.source->hash;
  }
  if (!r.error.empty()) {
    row.detail = r.error;
  } else if (!r.skipped.empty()) {
    row.detail = r.skipped;
  } else if (!r.sidecar_error.empty()) {
    row.detail = r.sidecar_error;
  } else if (fate == Fate::kCollided) {
    row.detail = "\"" + FullPath(r.collides_with) + "\" took that name in this run";
  }
  if (std::string problem = ProblemOf(fate, r.picture ? &*r.picture : nullptr); !problem.empty()) {
    row.problem = std::move(problem);
  }
  if (!r.picture) return row;
  const PictureResult& p = *r.picture;
  SetHeader(row, p.header_text, p.header, p.named_from);
  row.reading = ReadingText(p.read_as);
  row.header_doubtful = p.header_doubtful;
  row.header_confidence = p.header_confidence;
  row.black = p.black_level;
  row.white = p.white_level;
  row.cut_x = p.cut.x;
  row.cut_y = p.cut.y;
  row.cut_w = p.cut.width;
  row.cut_h = p.cut.height;
  if (fate != Fate::kSaved && fate != Fate::kUpToDate) return row;
  row.output = FullPath(p.proposed_name);
  if (r.recalled) {
    row.output_hash = r.recorded_output_hash;
  } else if (fate == Fate::kSaved && !p.png.empty()) {
    row.output_hash = HashBytes(p.png);
  } else {
    try {
      row.output_hash = HashFile(p.proposed_name);
    } catch (const std::exception&) {
      // Without its hash the row stands for no later run: the file is decoded again then.
    }
  }
  return row;
}

namespace {

// A run told to stop by a signal gives up waiting for a catalogue another process holds.
StopWaiting OnSignal(const std::atomic<int>* interrupted) {
  if (interrupted == nullptr) return {};
  return [interrupted] { return interrupted->load() != 0; };
}

}  // namespace

void RunCatalog::Open(const Options& options, const std::atomic<int>* interrupted) {
  if (options.catalog.empty()) return;
  options_ = &options;
  if (!options.dry_run) {
    // As --output-dir makes its folder, the catalogue's folder is made on the first night.
    const fs::path folder = fs::path(options.catalog).parent_path();
    std::error_code made;
    if (!folder.empty() && fs::create_directories(folder, made)) SyncFolder(folder.parent_path());
    if (made) {
      throw Error("Cannot make the catalogue's folder \"" + folder.string() +
                  "\": " + made.message());
    }
    catalog_.emplace(Catalog::Open(options.catalog, OnSignal(interrupted)));
    writes_ = true;
    return;
  }
  // A dry run writes nothing, so it makes no catalogue either; one there tells it what is up
  // to date, as it would tell the real run.
  std::error_code ec;
  if (fs::exists(options.catalog, ec)) {
    catalog_.emplace(Catalog::OpenForReading(options.catalog, OnSignal(interrupted)));
  }
}

void RunCatalog::Record(const FileResult& r, Fate fate, std::ostream& err) {
  if (!writes_ || failed_ || OutcomeWord(fate) == nullptr) return;
  try {
    FrameRow row = RowOf(r, fate);
    if (!r.source) {
      // A name that is no file (mistyped, a folder that could not be read) is not kept.
      std::error_code ec;
      if (!fs::is_regular_file(r.input, ec)) return;
      const FileStamp stamp = StampOf(r.input);
      row.source_size = stamp.size;
      row.source_mtime = stamp.mtime;
    }
    if (row.output) {
      // Stamped after its hash was taken: a result changed in between is hashed next time.
      std::error_code ec;
      if (fs::is_regular_file(*row.output, ec)) {
        const FileStamp output = StampOf(*row.output);
        row.output_size = output.size;
        row.output_mtime = output.mtime;
      }
      row.source_kind = SourceWord(options_->source);
      row.creation_time = options_->creation_time;
    }
    catalog_->Record(std::move(row));
  } catch (const std::exception& e) {
    Failed(e, err);
  }
}

bool RunCatalog::Finish(std::ostream& err) {
  if (writes_ && !failed_) {
    try {
      catalog_->Flush();
    } catch (const std::exception& e) {
      Failed(e, err);
    }
  }
  return !failed_;
}

void RunCatalog::Failed(const std::exception& e, std::ostream& err) {
  failed_ = true;
  // Trying again at every later file would wait for the busy catalogue each time.
  catalog_->DropWaiting();
  err << "tessaly-cli: " << EscapeControls(e.what())
      << "; the rows of this run not yet committed are dropped and no more are recorded (a "
         "rerun records them)\n"
      << std::flush;
}

int RunReport(const Options& options, Terminal& terminal) {
  try {
    Catalog catalog = Catalog::OpenForReading(options.catalog, OnSignal(terminal.interrupted));
    // A name mistyped would only give an empty report.
    if (const auto unmatched = UnmatchedFilter(catalog, options.report_filter)) {
      terminal.err << "tessaly-cli: " << *unmatched << '\n';
      return 1;
    }
    PrintReport(catalog, *options.report, options.report_filter, options.report_format,
                terminal.out);
    return 0;
  } catch (const std::exception& e) {
    terminal.err << "tessaly-cli: " << EscapeControls(e.what()) << '\n';
    const int signal = terminal.interrupted != nullptr ? terminal.interrupted->load() : 0;
    return signal != 0 ? 128 + signal : 1;
  }
}

int RunAcknowledge(const Options& options, Terminal& terminal) {
  try {
    // A mistyped name would otherwise make an empty catalogue that knows no problem.
    std::error_code ec;
    if (!fs::exists(options.catalog, ec)) {
      throw Error("Catalogue \"" + options.catalog + "\": no such file");
    }
    Catalog catalog = Catalog::Open(options.catalog, OnSignal(terminal.interrupted));
    if (options.acknowledging == Acknowledging::kAll) {
      const int n = catalog.AcknowledgeAll();
      terminal.out << n << (n == 1 ? " problem" : " problems") << " acknowledged\n";
      return 0;
    }
    const bool acknowledge = options.acknowledging == Acknowledging::kFiles;
    std::vector<std::string> sources;
    for (const std::string& path : options.paths) sources.push_back(FullPath(path));
    const std::vector<std::string> unmatched = catalog.Acknowledge(sources, acknowledge);
    // The names as given: a path spelt otherwise than the user typed it would puzzle.
    for (std::size_t i = 0, u = 0; i < sources.size() && u < unmatched.size(); ++i) {
      if (sources[i] != unmatched[u]) continue;
      ++u;
      terminal.err << "tessaly-cli: "
                   << EscapeControls(NamingFile(
                          options.paths[i], acknowledge ? "the catalogue records no problem of it"
                                                        : "the catalogue records no acknowledged "
                                                          "problem of it"))
                   << '\n';
    }
    const std::size_t n = sources.size() - unmatched.size();
    terminal.out << n << (n == 1 ? " problem" : " problems")
                 << (acknowledge ? " acknowledged\n" : " open again\n");
    return unmatched.empty() ? 0 : 1;
  } catch (const std::exception& e) {
    terminal.err << "tessaly-cli: " << EscapeControls(e.what()) << '\n';
    const int signal = terminal.interrupted != nullptr ? terminal.interrupted->load() : 0;
    return signal != 0 ? 128 + signal : 1;
  }
}

}  // namespace tessaly::cli
