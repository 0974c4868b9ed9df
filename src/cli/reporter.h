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

#include "app/fate.h"
#include "base/messages.h"
#include "cli/file_result.h"
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
  void Summary(const RunCounts& counts, int signal, std::size_t left);
  // The run stopped at a destination that cannot be written (`why`, naming it), leaving `left`
  // files.
  void DestinationRefused(const std::string& why, std::size_t left);
  // The hint to use --recursive for named folders that hold only subfolders.
  void RecursiveHint(const std::vector<std::filesystem::path>& folders);

 private:
  bool ReadAnswer(std::string& reply);
  void ReportJson(const FileResult& r, Fate fate);
  void ReportText(const FileResult& r, Fate fate);
  // The line that says what became of a file.
  std::string FateLine(const FileResult& r, Fate fate) const;
  void PrintNotes(const FileResult& r);
  void PrintError(const std::string& error);
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
