// The facts a decoded header states, as values: satellite, kind, picture code,
// picture time, and which form of header gave the name. Used by the batch tool's
// name templates, --json and sidecar files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessaly {

// Which rule named the file.
enum class NameForm {
  kHeader,       // the primary, fixed-column form
  kAlternative,  // the alternative form: the trimmed header text
  kInput,        // neither form read: the input's own name
};

// "header", "alternative" or "input".
const char* NameFormText(NameForm form);

struct PictureTime {
  int year = 0;  // four digits, after the century rule of the names
  int month = 0, day = 0;
  int hour = 0;  // as sent: 24 stands for midnight at the end of the day
  int minute = 0;
};

// "YYYY-MM-DDTHH:MMZ".
std::string IsoTime(const PictureTime& time);

struct HeaderFields {
  NameForm form = NameForm::kInput;
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
// gives the time to the hour; kInput gives nothing. A field that does not read
// is left empty.
HeaderFields FieldsOf(std::string_view header_text, NameForm form);

}  // namespace tessaly
