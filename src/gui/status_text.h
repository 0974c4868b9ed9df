// The texts of the window's status line: progress through a run of files, what became of one
// file, and what became of a whole run, finished or cancelled. Used by the main form.
#pragma once

#include <string>

#include "app/processor.h"

namespace tessaly {

// "File 3 of 20: name".
std::string ProgressText(int index, int count, const std::string& name);

// What became of one file.
struct FileReport {
  std::string input_name;       // name part of the file
  std::string proposed_name;    // name part of the proposal
  bool skipped = false;         // neither .bmp nor .png: nothing was read
  bool already_result = false;  // in a run: a result of this tool, not taken again
  // What the header gave when it named nothing ("header not read", "header doubtful
  // (\"TEXT\")", "header read, but ..."); empty when the header named the file.
  std::string header_words = "header not read";
  std::string header_text;  // the header as read, trimmed (UTF-8); empty when none was read
  bool changed = false;     // the proposal differs from the file's own name
  bool auto_save = false;   // the file came by a drop, so a changed name is saved at once
  bool saved = false;
  bool declined = false;    // the proposed file exists and was not replaced
  bool up_to_date = false;  // in a run: the proposed file is this tool's, not older than the file
  bool looks_like_full_frame = false;  // read as data lines only, but it starts like a full frame
};
std::string ReportText(const FileReport& report);
// The status line's hint: the report, and on a line of its own the header that was read
// ("header \"GOES8   VIS9812241200D2\""; a doubtful one is in the report already), so that a
// name can be checked against it by eye.
std::string ReportHint(const FileReport& report);

// The report's header words and text for a file's result.
void SetHeader(FileReport& report, const PictureResult& result);

// A file a run could not read, process or save: "name: failed: reason".
std::string FailedText(const std::string& input_name, const std::string& reason);

// After Save was pressed.
std::string SaveText(const std::string& input_name, const std::string& proposed_name, bool saved);

// What became of the files of a run of several.
struct RunCounts {
  int files = 0;  // in the run
  int saved = 0;
  int up_to_date = 0;
  int declined = 0;   // not saved: the proposed file exists
  int unchanged = 0;  // the proposal is the file's own name
  int results = 0;    // results of this tool, not taken again
  int skipped = 0;    // neither .bmp nor .png
  int failed = 0;
  int doubtful = 0;  // also counted by what became of them: their header was read too weakly
};

// "120 files: 58 saved, 60 up to date, 1 not saved (exists), 1 failed"; outcomes no file had
// are left out.
std::string SummaryText(const RunCounts& counts);

// A run stopped by Cancel after `done` of its files: "Cancelled after 5 of 20 files; 15 were
// left untouched. Of the 5: 4 saved, 1 not saved (exists)".
std::string CancelledText(int done, const RunCounts& counts);

}  // namespace tessaly
