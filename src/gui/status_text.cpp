// Status line texts.
#include "gui/status_text.h"

#include <utility>

#include "base/text.h"

namespace tessaly {

namespace {

// "58 saved, 60 up to date, 1 failed": the outcomes that came up, in a fixed order.
std::string Outcomes(const RunCounts& c) {
  const std::pair<int, std::string> parts[] = {
      {c.saved, "saved"},
      {c.up_to_date, "up to date"},
      {c.declined, "not saved (exists)"},
      {c.unchanged, c.unchanged == 1 ? "kept its name" : "kept their names"},
      {c.results, c.results == 1 ? "already a result" : "already results"},
      {c.skipped, "skipped"},
      {c.failed, "failed"},
      {c.doubtful, "header doubtful"},
  };
  std::string text;
  for (const auto& [count, words] : parts) {
    if (count == 0) continue;
    if (!text.empty()) text += ", ";
    text += std::to_string(count) + " " + words;
  }
  return text;
}

}  // namespace

std::string ProgressText(int index, int count, const std::string& name) {
  return "File " + std::to_string(index) + " of " + std::to_string(count) + ": " + name;
}

std::string ReportText(const FileReport& report) {
  std::string text = report.input_name + ": ";
  if (report.skipped) return text + "skipped: only .bmp and .png files are read";
  if (report.already_result) return text + "already a result of this tool: not taken again";
  const bool header_read = report.header_words.empty();
  if (!header_read) text += report.header_words + ": kept its own name";
  auto add = [&text](const std::string& part) {
    if (!text.ends_with(": ")) text += "; ";
    text += part;
  };
  if (report.saved) {
    add("saved as " + report.proposed_name);
  } else if (report.up_to_date) {
    add(report.proposed_name + " is up to date");
  } else if (report.declined) {
    add("not saved: the file exists");
  } else if (report.changed) {
    add("proposed " + report.proposed_name + ": Save saves it");
  } else if (header_read) {
    add("already named " + report.proposed_name);
  }
  if (report.looks_like_full_frame) add("it looks like a full frame, not data lines only");
  return text;
}

std::string ReportHint(const FileReport& report) {
  std::string hint = ReportText(report);
  if (!report.header_text.empty() && !report.header_words.starts_with("header doubtful")) {
    hint += "\nheader \"" + report.header_text + "\"";
  }
  return hint;
}

void SetHeader(FileReport& report, const PictureResult& result) {
  report.header_words =
      result.named_from == NamedFrom::kInputName ? UnnamedHeaderWords(result) : std::string();
  report.header_text = Latin1ToUtf8(Trim(result.header_text));
}

std::string FailedText(const std::string& input_name, const std::string& reason) {
  return input_name + ": failed: " + reason;
}

std::string SaveText(const std::string& input_name, const std::string& proposed_name, bool saved) {
  return input_name + ": " + (saved ? "saved as " + proposed_name : "not saved: the file exists");
}

std::string SummaryText(const RunCounts& counts) {
  const std::string outcomes = Outcomes(counts);
  return std::to_string(counts.files) + (counts.files == 1 ? " file" : " files") +
         (outcomes.empty() ? "" : ": " + outcomes);
}

std::string CancelledText(int done, const RunCounts& counts) {
  const int left = counts.files - done;
  std::string text = "Cancelled after " + std::to_string(done) + " of " +
                     std::to_string(counts.files) + " files; " + std::to_string(left) +
                     (left == 1 ? " was" : " were") + " left untouched";
  const std::string outcomes = Outcomes(counts);
  if (!outcomes.empty()) text += ". Of the " + std::to_string(done) + ": " + outcomes;
  return text;
}

}  // namespace tessaly
