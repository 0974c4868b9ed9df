// The texts of the window's status line: progress through a run of files, what became of one
// file, and what became of a whole run, finished or cancelled. Used by the main form.
#pragma once

#include <string>

#include "app/fate.h"
#include "app/processor.h"

namespace tessaly {

// "File 3 of 20: name".
std::string ProgressText(int index, int count, const std::string& name);

// What became of a processed file (`fate`: saved, up to date, declined, unchanged, or
// kWouldSave for a changed name Save has yet to save), with what its header gave when it named
// nothing and whether it looks like a full frame.
std::string ReportText(const std::string& input_name, Fate fate, const PictureResult& result);
// The status line's hint: the report, and on a line of its own the header that was read
// ("header \"GOES8   VIS9812241200D2\""; a doubtful one is in the report already), so that a
// name can be checked against it by eye.
std::string ReportHint(const std::string& input_name, Fate fate, const PictureResult& result);

// A file that was not read: "name: skipped: only .bmp and .png files are read".
std::string SkippedText(const std::string& input_name, const std::string& why);

// A result of this tool in a run, not taken again.
std::string AlreadyResultText(const std::string& input_name);

// A file a run could not read, process or save: "name: failed: reason".
std::string FailedText(const std::string& input_name, const std::string& reason);

// After Save was pressed.
std::string SaveText(const std::string& input_name, const std::string& proposed_name, bool saved);

// "120 files: 58 saved, 60 up to date, 1 not saved (exists), 1 failed"; outcomes no file had
// are left out.
std::string SummaryText(int files, const RunCounts& counts);

// A run of `files` stopped by Cancel after `done` of them: "Cancelled after 5 of 20 files; 15
// were left untouched. Of the 5: 4 saved, 1 not saved (exists)".
std::string CancelledText(int done, int files, const RunCounts& counts);

}  // namespace tessaly
