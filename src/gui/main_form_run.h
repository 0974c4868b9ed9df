// The state of the window while it handles a run of files, shared by the form's two files:
// the run's guard of the controls, and what a run of several files keeps.
#pragma once

#include <QPushButton>

#include <string>

#include "app/fate.h"
#include "app/results.h"
#include "gui/main_form.h"
#include "gui/read_ahead.h"
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

}  // namespace tessaly
