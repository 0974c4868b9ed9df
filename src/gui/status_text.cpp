// Status line texts.
#include "gui/status_text.h"

#include <utility>

#include "base/text.h"

namespace tessaly {

namespace {

// "58 saved, 60 up to date, 1 failed": the outcomes that came up, in a fixed order. Only the
// doubtful headers are counted apart: a run of the window never names from a doubtful one.
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

// What the header gave a file it did not name; empty when it named the file.
std::string HeaderWords(const PictureResult& result) {
  return result.named_from == NamedFrom::kInputName ? UnnamedHeaderWords(result) : std::string();
}

}  // namespace

std::string ProgressText(int index, int count, const std::string& name) {
  return "File " + std::to_string(index) + " of " + std::to_string(count) + ": " + name;
}

std::string ReportText(const std::string& input_name, Fate fate, const PictureResult& result) {
  std::string text = input_name + ": ";
  const std::string header_words = HeaderWords(result);
  if (!header_words.empty()) text += header_words + ": kept its own name";
  auto add = [&text](const std::string& part) {
    if (!text.ends_with(": ")) text += "; ";
    text += part;
  };
  const std::string proposed = result.proposed_name.filename().string();
  switch (fate) {
    case Fate::kSaved:
      add("saved as " + proposed);
      break;
    case Fate::kUpToDate:
      add(proposed + " is up to date");
      break;
    case Fate::kDeclined:
      add("not saved: the file exists");
      break;
    case Fate::kWouldSave:
      add("proposed " + proposed + ": Save saves it");
      break;
    default:
      if (header_words.empty()) add("already named " + proposed);
  }
  if (result.looks_like_full_frame) add("it looks like a full frame, not data lines only");
  return text;
}

std::string ReportHint(const std::string& input_name, Fate fate, const PictureResult& result) {
  std::string hint = ReportText(input_name, fate, result);
  const std::string header_text = Latin1ToUtf8(Trim(result.header_text));
  if (!header_text.empty() && StateOf(result) != HeaderState::kDoubtful) {
    hint += "\nheader \"" + header_text + "\"";
  }
  return hint;
}

std::string SkippedText(const std::string& input_name, const std::string& why) {
  return input_name + ": skipped: " + why;
}

std::string AlreadyResultText(const std::string& input_name) {
  return input_name + ": already a result of this tool: not taken again";
}

std::string FailedText(const std::string& input_name, const std::string& reason) {
  return input_name + ": failed: " + reason;
}

std::string SaveText(const std::string& input_name, const std::string& proposed_name, bool saved) {
  return input_name + ": " + (saved ? "saved as " + proposed_name : "not saved: the file exists");
}

std::string SummaryText(int files, const RunCounts& counts) {
  const std::string outcomes = Outcomes(counts);
  return std::to_string(files) + (files == 1 ? " file" : " files") +
         (outcomes.empty() ? "" : ": " + outcomes);
}

std::string CancelledText(int done, int files, const RunCounts& counts) {
  const int left = files - done;
  std::string text = "Cancelled after " + std::to_string(done) + " of " + std::to_string(files) +
                     " files; " + std::to_string(left) + (left == 1 ? " was" : " were") +
                     " left untouched";
  const std::string outcomes = Outcomes(counts);
  if (!outcomes.empty()) text += ". Of the " + std::to_string(done) + ": " + outcomes;
  return text;
}

}  // namespace tessaly
