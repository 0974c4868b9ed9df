// The batch tool's archive catalogue (--catalog): the row each handled input leaves, the
// recorded picture a rerun takes instead of decoding a file again, and the reports.
#pragma once

#include <atomic>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>

#include "app/fate.h"
#include "catalog/catalog.h"
#include "cli/file_result.h"
#include "cli/options.h"
#include "cli/reporter.h"

namespace tessaly::cli {

// The catalogue's word for what became of a file; nothing for a fate that leaves no row (a dry
// run's, or a result found in a folder, which its input's row describes).
const char* OutcomeWord(Fate fate);

// What in a file's handling wants the user's attention, in the summary's words (the catalogue's
// `problem`): a failure; or a header not read, doubtful (also when it named the file) or giving
// no name, then a target not replaced ("header doubtful, collided"). Empty for none.
std::string ProblemOf(Fate fate, const PictureResult* picture);

// The picture as its row recorded it, for an input that is not decoded again: the header and
// the standard name it gives in the input's folder (as the pipeline proposes it), the reading,
// levels, cut and the doubt (a doubtful reading names nothing unless `accept_doubtful`). Its
// output is empty. Nothing when the row holds no header text.
std::optional<PictureResult> RecordedPicture(const FrameRow& row,
                                             const std::filesystem::path& input,
                                             bool accept_doubtful);

// The width and height a PNG file's header gives; nothing when it is no PNG that can be read.
std::optional<std::pair<int, int>> PngSize(const std::filesystem::path& file);

// Why the row shows the decoded file's result, which its own checks passed, as not up to date
// after all: the input's content changed since (its size and last change may have been put
// back), the result was made from another --source, or it is no longer the recorded one and
// not sound when read whole. Empty when nothing speaks against it.
std::string RowAgainstResult(const FrameRow& row, const PictureResult& p, const SourceFacts* now,
                             Source source);

// The row of a handled file, once its fate (one OutcomeWord words) is settled. The target of an
// up-to-date file that was decoded, or of a save that encoded its own PNG, is read for its hash.
FrameRow RowOf(const FileResult& r, Fate fate);

// The catalogue of a batch run: opened before any file, a row recorded for each file once its
// save returned, committed at the end. A dry run only reads it, and only when it exists.
class RunCatalog {
 public:
  // Opens the catalogue the options name, if any; a wait for another run that holds it ends
  // once `interrupted` is set. Error naming the file.
  void Open(const Options& options, const std::atomic<int>* interrupted);
  // For the workers' lookups; null without a catalogue.
  Catalog* catalog() { return catalog_ ? &*catalog_ : nullptr; }
  // Records the file (not in a dry run). The first failure to commit is told on `err`, and no
  // row is recorded after it.
  void Record(const FileResult& r, Fate fate, std::ostream& err);
  // Commits the rows still waiting; false when the catalogue failed in this run.
  bool Finish(std::ostream& err);

 private:
  void Failed(const std::exception& e, std::ostream& err);

  std::optional<Catalog> catalog_;
  const Options* options_ = nullptr;
  bool writes_ = false;
  bool failed_ = false;
};

// tessaly-cli --catalog FILE --report KIND: prints the report; the exit status.
int RunReport(const Options& options, Terminal& terminal);

// tessaly-cli --catalog FILE --acknowledge|--unacknowledge PATH... or --acknowledge-all: marks
// the problems recorded as known, or open again, and tells how many; a PATH whose row has no
// such problem is named on standard error and makes the exit status 1.
int RunAcknowledge(const Options& options, Terminal& terminal);

}  // namespace tessaly::cli
