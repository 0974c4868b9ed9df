// The facts a decoded header states, as values: satellite, kind, picture code,
// picture time, and which form of header gave the name. Used by the batch tool's
// name templates, --json and sidecar files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "naming/header_name.h"

namespace tessaly {

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

struct HeaderFields {
  NamedFrom form = NamedFrom::kInputName;
  // UTF-8, trimmed; empty when the form does not carry them.
  std::string satellite;
  std::string kind;
  std::string code;  // the satellite when the header's code is blank
  std::optional<PictureTime> time;
  std::string message;  // "ADMIN" or "TEST" for those messages, else empty
};

// What `header_text` states when read in `form`, the form that named its file:
// the primary form gives satellite, kind, code and time (or the message of an
// administrative or test header, whose date is not read); the alternative form
// gives the time to the hour; kInputName gives nothing. A field that does not read
// is left empty.
HeaderFields FieldsOf(std::string_view header_text, NamedFrom form);

}  // namespace tessaly
