// The WEFAX header parser: primary and alternative header forms, fixed names for
// administrative and test messages, and the file-name check behind every proposal. The readers
// answer "does not read" as an empty optional, so the fallback from one form to the other is
// a plain test, not a caught exception.
#include "naming/header_name.h"

#include <array>
#include <chrono>
#include <optional>
#include <string>

#include "base/text.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// A header shorter than satellite plus kind holds nothing to name a file by.
constexpr std::size_t kMinHeaderLength = kSatelliteLength + kKindLength;

// Two blanks first, so that "JAN" sits at 1-based position 3 and position / 3 is the month.
constexpr std::string_view kMonthNames = "  JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC";

// Characters the file systems we write to cannot hold in a name, besides control characters.
constexpr std::string_view kForbiddenNameChars = "/\\:*?\"<>|";

// The characters of `text` from 1-based position `first`, at most `count` of them; a field
// running past the end is cut short, one wholly beyond it is empty.
std::string_view Field(std::string_view text, std::size_t first, std::size_t count) {
  if (first > text.size()) return {};
  return text.substr(first - 1, count);
}

// Leading blanks, then one or two digits, nothing else: header digits are plain, and a
// sign or a trailing blank means the field was not decoded as a number.
std::optional<int> FieldValue(std::string_view field) {
  std::size_t i = 0;
  while (i < field.size() && field[i] == ' ') ++i;
  const std::string_view digits = field.substr(i);
  if (digits.empty() || digits.size() > 2) return std::nullopt;
  int value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The first two characters of `text` as a number, removed; nothing removed when they are none.
std::optional<int> TakeTwoDigits(std::string& text) {
  const std::optional<int> value = FieldValue(Field(text, 1, 2));
  if (value) text.erase(0, 2);
  return value;
}

// Month 1-12 from three letters; 0 when there are fewer, nothing when they name no month.
std::optional<int> MonthNumber(std::string_view text) {
  const std::string letters = AsciiUpper(text.substr(0, 3));
  if (letters.size() != 3) return 0;
  const std::size_t found = kMonthNames.find(letters);
  const std::size_t month = found == std::string_view::npos ? 0 : (found + 1) / 3;
  if (month < 1 || month > 12) return std::nullopt;
  return static_cast<int>(month);
}

bool IsValidDate(int year, int month, int day) {
  const std::chrono::year_month_day date{std::chrono::year{year},
                                         std::chrono::month{static_cast<unsigned>(month)},
                                         std::chrono::day{static_cast<unsigned>(day)}};
  return year >= 1 && year <= 9999 && month >= 1 && day >= 1 && date.ok();
}

bool IsValidTime(int hour, int minute) {
  return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59;
}

std::string TwoDigits(int value) {
  const std::array<char, 2> digits{static_cast<char>('0' + value / 10 % 10),
                                   static_cast<char>('0' + value % 10)};
  return std::string(digits.begin(), digits.end());
}

// Folder (with its trailing separator) and extension (with its dot) of the input name;
// every proposal is built between the two.
struct NameFrame {
  std::string folder;
  std::string extension;

  explicit NameFrame(const fs::path& input)
      : folder(input.native().substr(0, input.native().size() - input.filename().native().size())),
        extension(input.extension().native()) {}

  fs::path Compose(std::string_view name_part) const {
    return fs::path(folder + std::string(name_part) + extension);
  }
};

bool IsStorableNamePart(std::string_view part) {
  // A leading dot would hide the picture (and "." and ".." leave the file); none is proposed.
  if (part.empty() || part.front() == '.') return false;
  for (char c : part) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || kForbiddenNameChars.find(c) != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

// The name part of the primary form, in Latin-1; nothing when a field does not read.
std::optional<std::string> PrimaryName(std::string_view header) {
  const std::string satellite(Trim(Field(header, 1, kSatelliteLength)));
  std::string kind(Trim(Field(header, kSatelliteLength + 1, kKindLength)));
  if (kind == "ADM") return "ADMIN";
  if (kind == "TST") return "TEST";

  std::string text(header.substr(kMinHeaderLength));
  const std::optional<int> year = TakeTwoDigits(text);
  const std::optional<int> month = year ? TakeTwoDigits(text) : std::nullopt;
  const std::optional<int> day = month ? TakeTwoDigits(text) : std::nullopt;
  const std::optional<int> hour = day ? TakeTwoDigits(text) : std::nullopt;
  const std::optional<int> minute = hour ? TakeTwoDigits(text) : std::nullopt;
  if (!minute || !IsValidDate(FullYear(*year), *month, *day)) return std::nullopt;
  // Midnight may be sent as 24: valid, and the name keeps it as sent.
  if (!IsValidTime(*hour == 24 ? 0 : *hour, *minute)) return std::nullopt;

  std::string code(Field(text, 1, kCodeLength));
  if (Trim(code).empty()) code = satellite;
  std::string stamp = code + " " + TwoDigits(*day) + "-" + TwoDigits(*month) + "-" +
                      TwoDigits(*year % 100) + " " + TwoDigits(*hour) + TwoDigits(*minute);

  if (IsKnownSatellite(satellite)) return stamp;
  if (satellite.starts_with("GOES-I")) {
    kind = "G8" + kind.substr(0, 2);
  } else if (satellite.starts_with("GOES-K")) {
    kind = "G10" + kind.substr(0, 2);
  }
  return stamp + " " + std::string(Trim(kind));
}

// The alternative form names the file after the whole header, once its date reads.
std::optional<std::string> AlternativeName(std::string_view header) {
  const std::optional<int> year = FieldValue(Field(header, 10, 2));
  const std::optional<int> month = MonthNumber(Field(header, 13, 3));
  const std::optional<int> day = FieldValue(Field(header, 17, 2));
  const std::optional<int> hour = FieldValue(Field(header, 20, 2));
  if (!year || !month || !day || !hour) return std::nullopt;
  if (!IsValidDate(FullYear(*year), *month, *day) || !IsValidTime(*hour, 0)) return std::nullopt;
  return std::string(Trim(header));
}

// The proposal from a name part in Latin-1; nothing when the part is no storable name.
std::optional<fs::path> ProposalFrom(const NameFrame& frame, const fs::path& file_name,
                                     const std::optional<std::string>& name_part) {
  if (!name_part) return std::nullopt;
  fs::path proposal = frame.Compose(Latin1ToUtf8(*name_part));
  if (!IsValidFileName(proposal, file_name)) return std::nullopt;
  return proposal;
}

}  // namespace

NameProposal HeaderToFileName(const fs::path& file_name, std::string_view header_text) {
  if (header_text.size() < kMinHeaderLength) return {file_name, NamedFrom::kInputName, {}};
  const NameFrame frame(file_name);
  if (auto primary = ProposalFrom(frame, file_name, PrimaryName(header_text))) {
    return {std::move(*primary), NamedFrom::kPrimaryForm, {}};
  }
  if (auto alternative = ProposalFrom(frame, file_name, AlternativeName(header_text))) {
    return {std::move(*alternative), NamedFrom::kAlternativeForm, {}};
  }
  return {file_name, NamedFrom::kInputName, "Bad WEFAX header: " + Latin1ToUtf8(header_text)};
}

int FullYear(int two_digit_year) {
  return two_digit_year < kCenturyPivot ? 2000 + two_digit_year : 1900 + two_digit_year;
}

int ReadTwoDigits(std::string& text) {
  const std::optional<int> value = TakeTwoDigits(text);
  if (!value) {
    throw ConversionError("'" + Latin1ToUtf8(Field(text, 1, 2)) + "' is not a valid integer value");
  }
  return *value;
}

int MonthFromName(std::string_view text) {
  const std::optional<int> month = MonthNumber(text);
  if (!month) throw RangeError("Bad month");
  return *month;
}

bool IsKnownSatellite(std::string_view name) {
  for (std::string_view known : {"MET5", "MET7", "GMSN", "GMSS", "GOES8"}) {
    if (name.starts_with(known)) return true;
  }
  return false;
}

bool IsValidFileName(const fs::path& name, const fs::path& input_name) {
  const NameFrame frame(input_name);
  const std::string& text = name.native();
  if (text.size() < frame.folder.size() + frame.extension.size()) return false;
  if (!text.starts_with(frame.folder) || !text.ends_with(frame.extension)) return false;
  const std::size_t part_length = text.size() - frame.folder.size() - frame.extension.size();
  return IsStorableNamePart(std::string_view(text).substr(frame.folder.size(), part_length));
}

}  // namespace tessaly
