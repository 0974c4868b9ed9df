// The header fields' characters and the judgement of a reading.
#include "naming/header_check.h"

#include <algorithm>

#include "base/text.h"

namespace tessaly {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsLetterOrDigit(char c) {
  return IsLetter(c) || IsDigit(c);
}

std::string_view WithoutTrailingBlanks(std::string_view field) {
  const std::size_t end = field.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view() : field.substr(0, end + 1);
}

// A left-aligned word of allowed characters followed by blanks: every other character breaks
// the field (a blank before or inside the word included).
template <typename Allowed>
int WordBreaks(std::string_view field, Allowed allowed) {
  const std::string_view word = WithoutTrailingBlanks(field);
  return static_cast<int>(
      std::count_if(word.begin(), word.end(), [&](char c) { return !allowed(c); }));
}

template <typename Allowed>
int CharacterBreaks(std::string_view field, Allowed allowed) {
  return static_cast<int>(
      std::count_if(field.begin(), field.end(), [&](char c) { return !allowed(c); }));
}

int PrimaryBreaks(std::string_view text) {
  const std::string_view satellite = ColumnsOf(text, kSatelliteColumns);
  const std::string_view kind = ColumnsOf(text, kKindColumns);
  int breaks = WordBreaks(satellite, [](char c) { return IsLetterOrDigit(c) || c == '-'; });
  // A header names its satellite.
  if (WithoutTrailingBlanks(satellite).empty()) ++breaks;
  breaks += WordBreaks(kind, IsLetterOrDigit);
  const std::string_view word = WithoutTrailingBlanks(kind);
  if (word == "ADM" || word == "TST") return breaks;
  breaks += CharacterBreaks(ColumnsOf(text, kDateColumns), IsDigit);
  breaks += WordBreaks(ColumnsOf(text, kCodeColumns), IsLetterOrDigit);
  return breaks;
}

int AlternativeBreaks(std::string_view text) {
  int breaks = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t column = i + 1;
    const char c = text[i];
    if (kAltYearColumns.Holds(column) || kAltDayColumns.Holds(column) ||
        kAltHourColumns.Holds(column)) {
      breaks += IsDigit(c) ? 0 : 1;
    } else if (kAltMonthColumns.Holds(column)) {
      breaks += IsLetter(c) ? 0 : 1;
    } else {
      breaks += IsLetterOrDigit(c) || c == ' ' || c == '-' || c == '.' ? 0 : 1;
    }
  }
  return breaks;
}

bool BeginsWithBlank(std::string_view field) {
  return !field.empty() && field.front() == ' ' && !WithoutTrailingBlanks(field).empty();
}

bool PrimaryDropoutBlanks(std::string_view text) {
  const std::string_view satellite = ColumnsOf(text, kSatelliteColumns);
  const std::string_view kind = ColumnsOf(text, kKindColumns);
  if (WithoutTrailingBlanks(satellite).empty() || satellite.front() == ' ') return true;
  if (BeginsWithBlank(kind)) return true;
  const std::string_view word = WithoutTrailingBlanks(kind);
  if (word == "ADM" || word == "TST") return false;
  return ColumnsOf(text, kDateColumns).find(' ') != std::string_view::npos ||
         BeginsWithBlank(ColumnsOf(text, kCodeColumns));
}

}  // namespace

bool HasDropoutBlanks(std::string_view header_text, NamedFrom form) {
  switch (form) {
    case NamedFrom::kPrimaryForm:
      return PrimaryDropoutBlanks(header_text);
    case NamedFrom::kAlternativeForm:
      for (const HeaderColumns digits : {kAltYearColumns, kAltDayColumns, kAltHourColumns}) {
        if (ColumnsOf(header_text, digits).find(' ') != std::string_view::npos) return true;
      }
      return false;
    case NamedFrom::kInputName:
      break;
  }
  return false;
}

int CountFieldBreaks(std::string_view header_text, NamedFrom form) {
  switch (form) {
    case NamedFrom::kPrimaryForm:
      return PrimaryBreaks(header_text);
    case NamedFrom::kAlternativeForm:
      return AlternativeBreaks(header_text);
    case NamedFrom::kInputName:
      break;
  }
  return 0;
}

HeaderJudgement JudgeHeader(double bit_margin, std::string_view header_text, NamedFrom form) {
  HeaderJudgement judgement;
  if (Trim(header_text).empty()) return judgement;
  judgement.confidence = bit_margin - kFieldBreakCost * CountFieldBreaks(header_text, form);
  if (HasDropoutBlanks(header_text, form))
    judgement.confidence = std::min(*judgement.confidence, 0.0);
  judgement.doubtful = !(*judgement.confidence >= kDoubtfulBelow);
  return judgement;
}

}  // namespace tessaly
