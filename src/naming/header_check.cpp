// The header fields' characters and the judgement of a reading.
#include "naming/header_check.h"

#include <algorithm>

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

// Characters 1-based `first` to `first + count - 1` that exist.
std::string_view Columns(std::string_view text, std::size_t first, std::size_t count) {
  if (first > text.size()) return {};
  return text.substr(first - 1, count);
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
  const std::string_view satellite = Columns(text, 1, kSatelliteLength);
  const std::string_view kind = Columns(text, kSatelliteLength + 1, kKindLength);
  int breaks = WordBreaks(satellite, [](char c) { return IsLetterOrDigit(c) || c == '-'; });
  // A header names its satellite.
  if (WithoutTrailingBlanks(satellite).empty()) ++breaks;
  breaks += WordBreaks(kind, IsLetterOrDigit);
  const std::string_view word = WithoutTrailingBlanks(kind);
  if (word == "ADM" || word == "TST") return breaks;
  constexpr std::size_t kDateColumn = kSatelliteLength + kKindLength + 1;
  breaks += CharacterBreaks(Columns(text, kDateColumn, 10), IsDigit);
  breaks += WordBreaks(Columns(text, kDateColumn + 10, kCodeLength), IsLetterOrDigit);
  return breaks;
}

int AlternativeBreaks(std::string_view text) {
  int breaks = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t column = i + 1;
    const char c = text[i];
    if (column == 10 || column == 11 || column == 17 || column == 18 || column == 20 ||
        column == 21) {
      breaks += IsDigit(c) ? 0 : 1;
    } else if (column >= 13 && column <= 15) {
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
  const std::string_view satellite = Columns(text, 1, kSatelliteLength);
  const std::string_view kind = Columns(text, kSatelliteLength + 1, kKindLength);
  if (WithoutTrailingBlanks(satellite).empty() || satellite.front() == ' ') return true;
  if (BeginsWithBlank(kind)) return true;
  const std::string_view word = WithoutTrailingBlanks(kind);
  if (word == "ADM" || word == "TST") return false;
  constexpr std::size_t kDateColumn = kSatelliteLength + kKindLength + 1;
  const std::string_view date = Columns(text, kDateColumn, 10);
  return date.find(' ') != std::string_view::npos ||
         BeginsWithBlank(Columns(text, kDateColumn + 10, kCodeLength));
}

}  // namespace

bool HasDropoutBlanks(std::string_view header_text, NamedFrom form) {
  switch (form) {
    case NamedFrom::kPrimaryForm:
      return PrimaryDropoutBlanks(header_text);
    case NamedFrom::kAlternativeForm:
      for (const std::size_t column : {10, 11, 17, 18, 20, 21}) {
        if (Columns(header_text, column, 1) == " ") return true;
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
  if (header_text.empty()) return judgement;
  judgement.confidence = bit_margin - kFieldBreakCost * CountFieldBreaks(header_text, form);
  if (HasDropoutBlanks(header_text, form))
    judgement.confidence = std::min(judgement.confidence, 0.0);
  judgement.doubtful = !(judgement.confidence >= kDoubtfulBelow);
  return judgement;
}

}  // namespace tessaly
