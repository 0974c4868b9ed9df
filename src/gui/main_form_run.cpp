// The window's runs: the names of a drop, one file alone or several read ahead on worker
// threads, then shown, asked about and saved one at a time in the order given.
#include <QPushButton>

#include <algorithm>
#include <string>
#include <thread>

#include "app/fate.h"
#include "app/results.h"
#include "base/errors.h"
#include "gui/main_form.h"
#include "gui/read_ahead.h"
#include "gui/status_text.h"
#include "gui/window_dialogs.h"
#include "settings/kov_radio_group.h"

namespace tessaly {

// A run of files: while it lasts new drops are refused and the source choice holds still; a run
// of several files offers Cancel.
class TFormQuillet::Run {
 public:
  Run(TFormQuillet& form, bool several)
      : form_(form), several_(several), dragtypes_(form.dropFileTarget_.Dragtypes) {
    form_.running_ = true;
    form_.cancelRequested_ = false;
    form_.dropFileTarget_.Dragtypes = {};
    form_.buttonDetails_->hide();
    if (several_) {
      form_.buttonCancel_->setEnabled(true);
      form_.buttonCancel_->show();
      form_.radioGroupSourceID_->setEnabled(false);
    }
  }
  ~Run() {
    form_.running_ = false;
    form_.dropFileTarget_.Dragtypes = dragtypes_;
    if (several_) {
      form_.buttonCancel_->hide();
      form_.radioGroupSourceID_->setEnabled(true);
    }
  }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

 private:
  TFormQuillet& form_;
  bool several_;
  TDragTypes dragtypes_;
};

// The state of a run of several files.
struct TFormQuillet::Several {
  Several(ReadAhead& read_ahead, int count) : ahead(read_ahead), files(count) {}
  ReadAhead& ahead;
  int files;  // in the run
  RunCounts counts;
  WrittenFiles written;
  bool yes_to_all = false;
  bool no_to_all = false;
  std::string problems;  // a line for each file that failed, was skipped or read doubtfully
};

void TFormQuillet::ProcessDroppedNames(const std::vector<std::string>& names) {
  if (running_) return;
  const std::vector<ExpandedName> files =
      ExpandNames(std::vector<std::filesystem::path>(names.begin(), names.end()));
  if (files.size() > 1) {
    RunSeveral(files);
    return;
  }
  if (files.empty()) return;
  const Run run(*this, false);
  const ExpandedName& file = files.front();
  try {
    if (!file.error.empty()) throw Error(file.error);
    ProcessFile(file.path, true);
  } catch (const std::exception&) {
    SetStatus(file.path.filename().string() + ": stopped by an error");
    throw;
  }
}

void TFormQuillet::RequestCancel() {
  if (!running_) return;
  cancelRequested_ = true;
  if (!several_) return;
  several_->ahead.Stop();
  // The files under way on the workers are finished and dropped before the run ends.
  buttonCancel_->setEnabled(false);
}

void TFormQuillet::RunSeveral(const std::vector<ExpandedName>& names) {
  const Run run(*this, true);
  // The tool's own results are left out before the run, so that its progress counts only the
  // files it works on.
  std::vector<ExpandedName> files;
  RunCounts left_out;
  for (const ExpandedName& name : names) {
    if (IsResultLeftOut(name, ToolResults::kLeftOut)) {
      left_out.Add(Fate::kAlreadyResult, nullptr);
    } else {
      files.push_back(name);
    }
  }
  ProcessingOptions options;
  options.source = SourceOfItem(radioGroupSourceID_->ItemIndex());
  // As many workers as the batch tool takes by default: one for each core.
  const int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  FileWriters writers(2 * jobs);
  ReadAhead ahead(files.size(), jobs, [&files, &writers, options](std::size_t i) {
    return ReadRunItem(files[i], options, writers);
  });
  Several several(ahead, static_cast<int>(files.size()));
  several.counts = left_out;
  several_ = &several;
  std::size_t handled = 0;
  try {
    handled = ahead.HandEach(
        [this](std::size_t index, RunItem&& item) { HandleRunItem(index, std::move(item)); });
  } catch (...) {
    several_ = nullptr;
    ShowState();
    throw;
  }
  several_ = nullptr;
  const int all = static_cast<int>(names.size());
  const int done = static_cast<int>(handled) + left_out.results;
  SetStatus(cancelRequested_ ? CancelledText(done, all, several.counts)
                             : SummaryText(all, several.counts));
  ShowState();
  runSummary_ = statusText_;
  runProblems_ = several.problems;
  buttonDetails_->setVisible(!runProblems_.empty());
}

void TFormQuillet::HandleRunItem(std::size_t index, RunItem&& item) {
  Several& run = *several_;
  FileWork& work = item.work;
  const std::string input_name = work.input.filename().string();
  // Read ahead, an input that an earlier save of this run replaced was read as it was before;
  // it is now one of the run's results.
  if (work.already_result || (work.picture && run.written.Holds(work.input))) {
    run.counts.Add(Fate::kAlreadyResult, nullptr);
    RunStatus(index, AlreadyResultText(input_name));
    return;
  }
  if (!work.picture) {
    ClearCurrent(work.input);
    const bool skipped = !work.skipped.empty();
    NoteProblem(work.input, skipped ? work.skipped : work.error);
    run.counts.Add(skipped ? Fate::kSkipped : Fate::kFailed, nullptr);
    RunStatus(index, skipped ? SkippedText(input_name, work.skipped_words)
                             : FailedText(input_name, work.error));
    return;
  }
  inputPicture_ = std::move(item.input);
  outputPicture_ = std::move(item.output);
  SetCurrent(work.input, std::move(*work.picture));
  ShowRunItem(index);
  const Fate fate = SaveRunItem(index, work);
  run.counts.Add(fate, &current_);
  if (fate == Fate::kFailed) {
    NoteProblem(work.input, work.error);
    RunStatus(index, FailedText(input_name, work.error));
    return;
  }
  NoteUnsaved(fate);
  RunStatus(index, ReportText(input_name, fate, current_), ReportHint(input_name, fate, current_));
}

void TFormQuillet::ShowRunItem(std::size_t index) {
  SetStatus(
      ProgressText(static_cast<int>(index) + 1, several_->files, currentFile_.filename().string()));
  if (current_.naming_failed) {
    ShowState();
    dialogs_->ShowMessage(kHeaderFailureMessage + labelHelpText_);
  }
}

Fate TFormQuillet::SaveRunItem(std::size_t index, FileWork& work) {
  if (!current_.changed) return Fate::kUnchanged;
  // Checked again at the file's turn: an earlier save of the run may have made the target.
  if (IsUpToDate(current_.proposed_name, work.input)) return Fate::kUpToDate;
  return SaveInRun(
      current_, work.prepared_png,
      [this, index](const std::filesystem::path&, const std::filesystem::path& target) {
        return AskInRun(index, target);
      },
      several_->written, work.error);
}

void TFormQuillet::NoteUnsaved(Fate fate) {
  // A doubtful header is listed even when its file was saved under its own name, so that the
  // text can be checked by eye after the run.
  const HeaderState header = StateOf(current_);
  if (header == HeaderState::kDoubtful ||
      (header != HeaderState::kNamed && fate == Fate::kUnchanged)) {
    NoteProblem(currentFile_, UnnamedHeaderWords(current_) + ", kept its own name");
  }
  if (fate == Fate::kDeclined) {
    NoteProblem(currentFile_,
                "not saved: \"" + current_.proposed_name.filename().string() + "\" exists");
  }
}

void TFormQuillet::RunStatus(std::size_t index, const std::string& text, const std::string& hint) {
  const int files = several_->files;
  SetStatus(ProgressText(static_cast<int>(index) + 1, files, text),
            hint.empty() ? std::string() : ProgressText(static_cast<int>(index) + 1, files, hint));
  ShowSoon();
}

void TFormQuillet::NoteProblem(const std::filesystem::path& file, const std::string& reason) {
  several_->problems += NamingFile(file, reason) + "\n";
}

Answer TFormQuillet::AskInRun(std::size_t index, const std::filesystem::path& target) {
  Several& run = *several_;
  if (run.no_to_all) return Answer::kNo;
  // Consent for all covers the tool's own results; an original of that name is still asked
  // about.
  if (run.yes_to_all && IsToolResult(target)) return Answer::kYes;
  // The question is about the file at hand: the user sees its pictures and names.
  ShowState();
  const std::string text = OverwriteQuestionText(target);
  if (static_cast<int>(index) + 1 == run.files) {
    return dialogs_->AskYesNo(kOverwriteCaption, text);
  }
  switch (dialogs_->AskInRun(kOverwriteCaption, text)) {
    case RunAnswer::kYes:
      return Answer::kYes;
    case RunAnswer::kYesToAll:
      run.yes_to_all = true;
      return Answer::kYes;
    case RunAnswer::kNoToAll:
      run.no_to_all = true;
      return Answer::kNo;
    case RunAnswer::kStop:
      RequestCancel();
      return Answer::kNo;
    case RunAnswer::kNo:
      break;
  }
  return Answer::kNo;
}

}  // namespace tessaly
