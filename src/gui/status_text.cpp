// Status line texts.
#include "gui/status_text.h"

namespace tessaly {

std::string ProgressText(int index, int count, const std::string& name) {
  return "File " + std::to_string(index) + " of " + std::to_string(count) + ": " + name;
}

std::string ReportText(const FileReport& report) {
  std::string text = report.input_name + ": ";
  if (report.skipped) return text + "skipped: only .bmp and .png files are read";
  if (!report.header_read) text += "header not read: kept its own name";
  auto add = [&text](const std::string& part) {
    if (!text.ends_with(": ")) text += "; ";
    text += part;
  };
  if (report.saved) {
    add("saved as " + report.proposed_name);
  } else if (report.declined) {
    add("not saved: the file exists");
  } else if (report.changed) {
    add("proposed " + report.proposed_name + ": Save saves it");
  } else if (report.header_read) {
    add("already named " + report.proposed_name);
  }
  if (report.looks_like_full_frame) add("it looks like a full frame, not data lines only");
  return text;
}

std::string SaveText(const std::string& input_name, const std::string& proposed_name, bool saved) {
  return input_name + ": " + (saved ? "saved as " + proposed_name : "not saved: the file exists");
}

std::string CancelledText(int done, int count) {
  const int left = count - done;
  return "Cancelled after " + std::to_string(done) + " of " + std::to_string(count) + " files; " +
         std::to_string(left) + (left == 1 ? " was" : " were") + " left untouched";
}

std::string LeftUnprocessedText(int left, int count) {
  return std::to_string(left) + " of the " + std::to_string(count) +
         " files were left unprocessed.";
}

}  // namespace tessaly
