// What tessaly-cli tells the user: the line (or JSON object) for each file, the
// progress line on a terminal, the overwrite question and the closing summary.
#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/processor.h"
#include "app/saving.h"
#include "base/files.h"
#include "base/messages.h"
#include "catalog/catalog.h"
#include "cli/options.h"

namespace tessaly::cli {

struct Terminal {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool in_is_terminal = false;   // overwrite questions are asked only then
  bool err_is_terminal = false;  // the progress line is drawn only then
  bool dumb = false;             // TERM=dumb: a terminal that takes no control sequences
  int in_fd = -1;  // when set, answers are awaited in steps, so that a signal is noticed
  const std::atomic<int>* interrupted = nullptr;  // the signal that stopped the run, or 0
};

// What a worker found for one file: the pipeline's result, or why there is none.
struct FileResult {
  std::filesystem::path input;  // as the user gave it (or below a folder as given)
  std::string error;            // the file failed
  std::string skipped;          // the file was not read, and why
  bool already_result = false;  // a result of this tool, found in a folder
  // The target is the tool's own result, not older than the input (IsUpToDate): nothing was
  // encoded or written ahead for it.
  bool up_to_date = false;
  // With --sidecar: the up-to-date result's sidecar was missing, and only it is written.
  bool sidecar_missing = false;
  // Another input of this run, as given, that proposed the same target first, and whether this
  // file's save replaced the result saved for it.
  std::filesystem::path collides_with;
  bool replaced_collision = false;
  // Once the file was processed. Its proposed name is the template's when --name-template
  // gave one, and its png is encoded when the picture is to be saved.
  std::optional<PictureResult> picture;
  // Why the name --name-template gave could not be used (the standard name was), or empty.
  std::string template_problem;
  // The PNG, and with --sidecar its sidecar, being written ahead when the target was free
  // then (see FileWriters); no future, or a null file, when not (the save writes them at its
  // turn).
  PreparedFile prepared_png;
  PreparedFile prepared_sidecar;
  // After a save: the sidecar was not written because a file not written by this tool has its
  // name (sidecar_kept), or writing it failed (sidecar_error, naming the file).
  bool sidecar_kept = false;
  std::string sidecar_error;
  // With --catalog: the input's stamp, taken before it was read, and the hash of the bytes read.
  std::optional<SourceFacts> source;
  // Up to date by its catalogue row, not decoded again: the picture holds the recorded facts
  // and no output; the output's size and hash are those of the saved PNG.
  bool from_catalog = false;
  int recorded_width = 0, recorded_height = 0;
  std::string recorded_output_hash;
};

// What became of one file, each file counted under exactly one.
enum class Fate {
  kSaved,
  kWouldSave,      // dry run
  kUnchanged,      // the proposal is the file's own name
  kDeclined,       // not saved: the target exists and was not to be replaced
  kKeptOriginal,   // not saved: the target is no result of this tool
  kUpToDate,       // not saved: the target is the tool's result, made since the input changed
  kCollided,       // not saved: an earlier input of this run took the target
  kWouldCollide,   // dry run: an earlier input of this run takes the target
  kUnreadLeft,     // --skip-unread: header not read, nothing saved
  kSkipped,        // not a picture the tool reads
  kAlreadyResult,  // a result of this tool, not taken again
  kFailed,
};

struct Counts {
  int seen = 0, saved = 0, would_save = 0, unchanged = 0, skipped = 0, failed = 0;
  int unread = 0;          // header not read, whatever then became of the file
  int unnamed = 0;         // header read, but it gave no name
  int doubtful = 0;        // header read too weakly to trust (named from or not)
  int results = 0;         // already results
  int originals_kept = 0;  // targets kept because this tool did not write them
  int sidecars_kept = 0;   // sidecars not written: a file of that name is not the tool's
  int up_to_date = 0;
  int sidecars_added = 0;  // missing sidecars written for up-to-date results
  int collided = 0;  // not saved, or in a dry run would collide: another input took the name
  // `picture`: the processed file's result; null for a file not processed.
  void Add(Fate fate, const PictureResult* picture);
  // Files whose header did not surely give their name (what --strict looks for).
  int Untrusted() const { return unread + unnamed + doubtful; }
};

// A header reading's confidence as --json and sidecars give it: to two decimals.
double RoundedConfidence(double confidence);

// The reading that gave the header, for --json and sidecars: "goes", "gms" or "meteosat".
std::string ReadingText(SatelliteType read_as);

// The full, plain form of a path for --json: absolute, without "." or ".." steps.
std::string FullPath(const std::filesystem::path& path);

class Reporter {
 public:
  Reporter(const Options& options, Terminal& terminal, std::size_t total);

  // The overwrite question for `target`, naming `input` too; y/yes, n/no (the
  // default), all (yes to this and every later question) or none (no to all).
  Answer Ask(const std::filesystem::path& input, const std::filesystem::path& target);

  void Progress(std::size_t done, const std::filesystem::path& next);
  void ClearProgress();
  // With --verbose: `again` is the same file as `first`, given earlier, and is taken once.
  void TakenOnce(const std::filesystem::path& again, const std::filesystem::path& first);
  void Report(const FileResult& r, Fate fate);
  // The summary of the files seen; after an interruption also what was left.
  void Summary(const Counts& counts, int signal, std::size_t left);
  // The hint to use --recursive for named folders that hold only subfolders.
  void RecursiveHint(const std::vector<std::filesystem::path>& folders);

 private:
  bool ReadAnswer(std::string& reply);
  void ReportJson(const FileResult& r, Fate fate);
  void ReportText(const FileResult& r, Fate fate);
  // The target as the report names it: the file name beside the input, or the path below an
  // output folder as that was given.
  std::string TargetText(const std::filesystem::path& target) const;

  const Options& options_;
  Terminal& terminal_;
  std::size_t total_;
  bool progress_;
  bool progress_shown_ = false;
  std::optional<Answer> answer_for_all_;
};

}  // namespace tessaly::cli
