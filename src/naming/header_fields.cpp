// Header fields as values, read by the same field readers as the names.
#include "naming/header_fields.h"

#include <cstdio>
#include <ctime>

#include "base/errors.h"
#include "base/text.h"
#include "naming/header_name.h"

namespace tessaly {
namespace {

// Header columns (1-based) of the two forms, as the naming reads them; the field widths and
// the century rule are the naming's own (header_name.h).
constexpr std::size_t kDateColumn = kSatelliteLength + kKindLength + 1;
constexpr std::size_t kCodeColumn = kDateColumn + 10;
constexpr std::size_t kAltYear = 10, kAltMonth = 13, kAltDay = 17, kAltHour = 20;

std::string Field(std::string_view text, std::size_t first, std::size_t count) {
  if (first > text.size()) return {};
  return std::string(text.substr(first - 1, count));
}

int Number(std::string field) {
  return ReadTwoDigits(field);
}

std::string Trimmed(std::string_view latin1) {
  return Latin1ToUtf8(Trim(latin1));
}

void ReadPrimary(std::string_view header, HeaderFields& f) {
  f.satellite = Trimmed(Field(header, 1, kSatelliteLength));
  f.kind = Trimmed(Field(header, kSatelliteLength + 1, kKindLength));
  if (f.kind == "ADM" || f.kind == "TST") {
    f.message = f.kind == "ADM" ? "ADMIN" : "TEST";
    return;
  }
  const std::string code = Trimmed(Field(header, kCodeColumn, kCodeLength));
  f.code = code.empty() ? f.satellite : code;
  PictureTime t;
  t.year = FullYear(Number(Field(header, kDateColumn, 2)));
  t.month = Number(Field(header, kDateColumn + 2, 2));
  t.day = Number(Field(header, kDateColumn + 4, 2));
  t.hour = Number(Field(header, kDateColumn + 6, 2));
  t.minute = Number(Field(header, kDateColumn + 8, 2));
  f.time = t;
}

void ReadAlternative(std::string_view header, HeaderFields& f) {
  PictureTime t;
  t.year = FullYear(Number(Field(header, kAltYear, 2)));
  t.month = MonthFromName(Field(header, kAltMonth, 3));
  t.day = Number(Field(header, kAltDay, 2));
  t.hour = Number(Field(header, kAltHour, 2));
  f.time = t;
}

}  // namespace

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

HeaderFields FieldsOf(std::string_view header_text, NamedFrom form) {
  HeaderFields f;
  f.form = form;
  try {
    if (form == NamedFrom::kPrimaryForm) ReadPrimary(header_text, f);
    if (form == NamedFrom::kAlternativeForm) ReadAlternative(header_text, f);
  } catch (const Error&) {
    // Only a form that did not name the file fails here; its time stays unknown.
    f.time.reset();
  }
  return f;
}

}  // namespace tessaly
