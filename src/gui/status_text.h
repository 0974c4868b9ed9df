// The texts of the window's status line: progress through a run of files, what became of the
// last file, a cancelled run, and the note an error report gets when it stops a run. Used by the
// main form.
#pragma once

#include <string>

namespace tessaly {

// "File 3 of 20: name".
std::string ProgressText(int index, int count, const std::string& name);

// What became of one processed file.
struct FileReport {
  std::string input_name;     // name part of the file
  std::string proposed_name;  // name part of the proposal
  bool skipped = false;       // neither .bmp nor .png: nothing was read
  bool header_read = false;
  bool changed = false;    // the proposal differs from the file's own name
  bool auto_save = false;  // the file came by a drop, so a changed name is saved at once
  bool saved = false;
  bool declined = false;               // the proposed file exists and was not replaced
  bool looks_like_full_frame = false;  // read as data lines only, but it starts like a full frame
};
std::string ReportText(const FileReport& report);

// After Save was pressed.
std::string SaveText(const std::string& input_name, const std::string& proposed_name, bool saved);

// A run stopped by Cancel after `done` of `count` files.
std::string CancelledText(int done, int count);

// Appended to the error report of a run that an error stopped with `left` of `count` files to go.
std::string LeftUnprocessedText(int left, int count);

}  // namespace tessaly
