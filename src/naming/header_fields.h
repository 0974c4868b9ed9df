// The one reading of a decoded header: the facts it states (satellite, kind, picture code,
// picture time, or the message of an administrative or test header) as one value, and the
// standard name that value gives. The proposed names, the batch tool's name templates, --json
// and the sidecar files all format this value.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tessaly {

// Where a field lies in the header text: its first column, counted from 1 as the header's
// layout counts them, and how many columns it takes.
struct HeaderColumns {
  std::size_t first = 1;
  std::size_t count = 0;
  constexpr std::size_t End() const { return first + count; }  // the column after it
  constexpr bool Holds(std::size_t column) const { return column >= first && column < End(); }
};

// The primary form: satellite and kind blank-padded, the date and time as ten digits
// (YYMMDDHHMI), then the picture code.
inline constexpr HeaderColumns kSatelliteColumns{1, 8};
inline constexpr HeaderColumns kKindColumns{kSatelliteColumns.End(), 3};
inline constexpr HeaderColumns kDateColumns{kKindColumns.End(), 10};
inline constexpr HeaderColumns kCodeColumns{kDateColumns.End(), 4};
// A shorter text holds nothing to name a file by: it is not read, and no message says so.
inline constexpr std::size_t kMinHeaderLength = kKindColumns.End() - 1;

// The alternative form's date and hour; its other columns are free text.
inline constexpr HeaderColumns kAltYearColumns{10, 2};
inline constexpr HeaderColumns kAltMonthColumns{13, 3};
inline constexpr HeaderColumns kAltDayColumns{17, 2};
inline constexpr HeaderColumns kAltHourColumns{20, 2};

// The characters of `text` in `columns`: a field running past the end is cut short, one wholly
// beyond it is empty.
constexpr std::string_view ColumnsOf(std::string_view text, HeaderColumns columns) {
  if (columns.first > text.size()) return {};
  return text.substr(columns.first - 1, columns.count);
}

// Two-digit years below this belong to the 2000s, the others to the 1900s.
inline constexpr int kCenturyPivot = 57;

// The four-digit year of a two-digit header year, by the century rule of the names.
int FullYear(int two_digit_year);

// Where a proposed name came from.
enum class NamedFrom {
  kPrimaryForm,      // the header's primary form (satellite, kind, date digits, code)
  kAlternativeForm,  // the header's alternative form (the whole header, once its date reads)
  kInputName,        // neither form read, or the header was too short: the input's own name
};

// "header", "alternative" or "input": the name of the rule that named the file, as --json
// and the sidecar files give it.
const char* NamedFromText(NamedFrom form);

struct PictureTime {
  int year = 0;  // four digits, after the century rule of the names
  int month = 0, day = 0;
  int hour = 0;  // as sent: 24 stands for midnight at the end of the day
  int minute = 0;
};

// "YYYY-MM-DDTHH:MMZ".
std::string IsoTime(const PictureTime& time);

// What a header states, in the form that reads. Texts are UTF-8.
struct HeaderFields {
  NamedFrom form = NamedFrom::kPrimaryForm;  // kPrimaryForm or kAlternativeForm
  // Primary form only, trimmed; empty in the alternative form.
  std::string satellite;
  std::string kind;
  std::string code;  // the satellite when the header's code is blank
  // The code's columns as sent, blanks kept (the satellite when they are blank): the
  // standard name begins with them.
  std::string code_columns;
  std::string message;  // "ADMIN" or "TEST" for those messages (which carry no time), else empty
  // The primary form's date and minute, or the alternative form's date and hour (minute 0).
  std::optional<PictureTime> time;
  std::string trimmed_header;  // the alternative form: the whole header, trimmed
};

// Reads `header_text` (Latin-1, one character per decoded byte, untrimmed) in the primary form,
// or else in the alternative form; a form whose standard name could not be stored does not
// read. Nothing when neither form reads or the text is too short to be a header.
std::optional<HeaderFields> ReadHeader(std::string_view header_text);

// Why a header text that was read gives no name, in words that follow "header read, but "
// (for example "30-02-01 is not a date"), told of the primary form; empty when the text reads
// or holds nothing but blanks (no header was read at all).
std::string HeaderProblem(std::string_view header_text);

// The standard name the fields give, without folder and extension.
std::string StandardName(const HeaderFields& fields);

// True for the satellites whose names carry no kind suffix (prefix match, case-sensitive).
bool IsKnownSatellite(std::string_view name);

// True when `part` can stand as a file name between a folder and an extension: not empty, no
// leading dot (which would hide the picture, and "." and ".." leave the folder), and free of
// control characters and of / \ : * ? " < > |.
bool IsStorableName(std::string_view part);

}  // namespace tessaly
