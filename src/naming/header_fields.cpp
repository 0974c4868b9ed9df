// The header reader: both header forms read once into a HeaderFields value, and the standard
// name formatted from it. A field that does not read is an empty optional, so the fall-back
// from one form to the other is a plain test, not a caught exception.
#include "naming/header_fields.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "base/text.h"

namespace tessaly {
namespace {

// The primary form's date and time: year, month, day, hour and minute, two digits each.
constexpr int kDateNumbers = 5;
constexpr HeaderColumns DateNumberColumns(int index) {
  return {kDateColumns.first + 2 * static_cast<std::size_t>(index), 2};
}

// Two blanks first, so that "JAN" sits at 1-based position 3 and position / 3 is the month.
constexpr std::string_view kMonthNames = "  JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC";

// Characters the file systems we write to cannot hold in a name, besides control characters.
constexpr std::string_view kForbiddenNameChars = "/\\:*?\"<>|";

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

std::string Utf8(std::string_view latin1) {
  return Latin1ToUtf8(latin1);
}

// The first `count` characters of a UTF-8 text.
std::string FirstCharacters(std::string_view utf8, std::size_t count) {
  std::size_t end = 0;
  for (std::size_t n = 0; n < count && end < utf8.size(); ++n) {
    ++end;
    while (end < utf8.size() && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) ++end;
  }
  return std::string(utf8.substr(0, end));
}

// The last two decimal digits of a value from 0 up.
std::string TwoDigits(int value) {
  return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

std::optional<HeaderFields> ReadPrimary(std::string_view header) {
  HeaderFields f;
  f.form = NamedFrom::kPrimaryForm;
  f.satellite = Utf8(Trim(ColumnsOf(header, kSatelliteColumns)));
  f.kind = Utf8(Trim(ColumnsOf(header, kKindColumns)));
  if (f.kind == "ADM" || f.kind == "TST") {
    // Nothing else of such a header is read.
    f.message = f.kind == "ADM" ? "ADMIN" : "TEST";
    return f;
  }
  const std::optional<int> year = FieldValue(ColumnsOf(header, DateNumberColumns(0)));
  const std::optional<int> month = FieldValue(ColumnsOf(header, DateNumberColumns(1)));
  const std::optional<int> day = FieldValue(ColumnsOf(header, DateNumberColumns(2)));
  const std::optional<int> hour = FieldValue(ColumnsOf(header, DateNumberColumns(3)));
  const std::optional<int> minute = FieldValue(ColumnsOf(header, DateNumberColumns(4)));
  if (!year || !month || !day || !hour || !minute) return std::nullopt;
  if (!IsValidDate(FullYear(*year), *month, *day)) return std::nullopt;
  // Midnight may be sent as 24: valid, and the name keeps it as sent.
  if (!IsValidTime(*hour == 24 ? 0 : *hour, *minute)) return std::nullopt;
  f.time = PictureTime{FullYear(*year), *month, *day, *hour, *minute};

  const std::string_view code = ColumnsOf(header, kCodeColumns);
  const bool blank = Trim(code).empty();
  f.code = blank ? f.satellite : Utf8(Trim(code));
  f.code_columns = blank ? f.satellite : Utf8(code);
  return f;
}

std::optional<HeaderFields> ReadAlternative(std::string_view header) {
  const std::optional<int> year = FieldValue(ColumnsOf(header, kAltYearColumns));
  const std::optional<int> month = MonthNumber(ColumnsOf(header, kAltMonthColumns));
  const std::optional<int> day = FieldValue(ColumnsOf(header, kAltDayColumns));
  const std::optional<int> hour = FieldValue(ColumnsOf(header, kAltHourColumns));
  if (!year || !month || !day || !hour) return std::nullopt;
  if (!IsValidDate(FullYear(*year), *month, *day) || !IsValidTime(*hour, 0)) return std::nullopt;
  HeaderFields f;
  f.form = NamedFrom::kAlternativeForm;
  f.time = PictureTime{FullYear(*year), *month, *day, *hour, 0};
  f.trimmed_header = Utf8(Trim(header));
  return f;
}

// A reading counts only when the name it gives can be stored.
std::optional<HeaderFields> Storable(std::optional<HeaderFields> fields) {
  if (fields && !IsStorableName(StandardName(*fields))) return std::nullopt;
  return fields;
}

}  // namespace

int FullYear(int two_digit_year) {
  return two_digit_year < kCenturyPivot ? 2000 + two_digit_year : 1900 + two_digit_year;
}

const char* NamedFromText(NamedFrom form) {
  switch (form) {
    case NamedFrom::kPrimaryForm:
      return "header";
    case NamedFrom::kAlternativeForm:
      return "alternative";
    case NamedFrom::kInputName:
      break;
  }
  return "input";
}

std::string IsoTime(const PictureTime& t) {
  PictureTime when = t;
  if (when.hour == 24) {
    // The names keep hour 24 as sent; ISO 8601 readers want 00 of the next day.
    std::tm next{};
    next.tm_year = when.year - 1900;
    next.tm_mon = when.month - 1;
    next.tm_mday = when.day + 1;
    timegm(&next);
    when.year = next.tm_year + 1900;
    when.month = next.tm_mon + 1;
    when.day = next.tm_mday;
    when.hour = 0;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02dZ", when.year, when.month, when.day,
                when.hour, when.minute);
  return text;
}

std::optional<HeaderFields> ReadHeader(std::string_view header_text) {
  if (header_text.size() < kMinHeaderLength) return std::nullopt;
  if (auto primary = Storable(ReadPrimary(header_text))) return primary;
  return Storable(ReadAlternative(header_text));
}

std::string HeaderProblem(std::string_view header_text) {
  const std::string shown = "\"" + Utf8(Trim(header_text)) + "\"";
  if (Trim(header_text).empty() || ReadHeader(header_text)) return {};
  if (header_text.size() < kMinHeaderLength) return shown + " is too short to be a header";
  const std::optional<HeaderFields> primary = ReadPrimary(header_text);
  if (primary) return "\"" + StandardName(*primary) + "\" cannot be a file name";
  const std::string_view date = ColumnsOf(header_text, kDateColumns);
  int value[kDateNumbers];
  for (int i = 0; i < kDateNumbers; ++i) {
    const std::optional<int> v = FieldValue(ColumnsOf(header_text, DateNumberColumns(i)));
    if (!v && Trim(date).empty()) return shown + " has no date and time";
    if (!v) return "its date and time \"" + Utf8(date) + "\" are not digits";
    value[i] = *v;
  }
  const auto [year, month, day, hour, minute] = value;
  if (!IsValidDate(FullYear(year), month, day)) {
    return TwoDigits(day) + "-" + TwoDigits(month) + "-" + TwoDigits(year) + " is not a date";
  }
  return TwoDigits(hour) + ":" + TwoDigits(minute) + " is not a time";
}

std::string StandardName(const HeaderFields& f) {
  if (f.form == NamedFrom::kAlternativeForm) return f.trimmed_header;
  if (!f.message.empty()) return f.message;
  const PictureTime& t = f.time.value();
  const std::string stamp = f.code_columns + " " + TwoDigits(t.day) + "-" + TwoDigits(t.month) +
                            "-" + TwoDigits(t.year) + " " + TwoDigits(t.hour) + TwoDigits(t.minute);
  if (IsKnownSatellite(f.satellite)) return stamp;
  std::string suffix = f.kind;
  if (f.satellite.starts_with("GOES-I")) {
    suffix = "G8" + FirstCharacters(f.kind, 2);
  } else if (f.satellite.starts_with("GOES-K")) {
    suffix = "G10" + FirstCharacters(f.kind, 2);
  }
  return stamp + " " + std::string(Trim(suffix));
}

bool IsStorableName(std::string_view part) {
  if (part.empty() || part.front() == '.') return false;
  for (char c : part) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || kForbiddenNameChars.find(c) != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

bool IsKnownSatellite(std::string_view name) {
  for (std::string_view known : {"MET5", "MET7", "GMSN", "GMSS", "GOES8"}) {
    if (name.starts_with(known)) return true;
  }
  return false;
}

}  // namespace tessaly
