// The WEFAX header parser: turns decoded header text into the proposed output file name.
// Used by the per-file processing and by the front ends.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "base/errors.h"
#include "base/messages.h"
#include "naming/header_fields.h"

namespace tessaly {

// A header field that is not a number.
class ConversionError : public Error {
 public:
  using Error::Error;
};

// A value outside its table, such as a month name that is not one ("Bad month").
class RangeError : public Error {
 public:
  using Error::Error;
};

// Proposes the name for a picture whose decoded header is `header_text` (Latin-1, one
// character per decoded byte, untrimmed): a name in the folder of `file_name`, with its
// extension. An unreadable header gives `file_name` itself; then, when `show_error` is
// set and `messages` is given, "Bad WEFAX header: " plus the header text is shown.
// Never throws an error of its own.
std::filesystem::path HeaderToFileName(const std::filesystem::path& file_name,
                                       std::string_view header_text, bool show_error,
                                       MessageService* messages = nullptr);

// A proposal and the rule that made it.
struct NameProposal {
  std::filesystem::path name;
  NameForm form = NameForm::kInput;
};

// HeaderToFileName without a message, telling which form named the file.
NameProposal ProposeFileName(const std::filesystem::path& file_name, std::string_view header_text);

// Reads the first two characters of `text` (leading blanks, then one or two decimal
// digits; a text of one character is read as it stands) and removes them. Throws
// ConversionError, leaving `text` unchanged, for anything else.
int ReadTwoDigits(std::string& text);

// Month 1-12 from the first three letters of `text`, any case; 0 when `text` is shorter
// than three characters. Throws RangeError("Bad month") when the letters are no month.
int MonthFromName(std::string_view text);

// True for the satellites whose names carry no kind suffix (prefix match, case-sensitive).
bool IsKnownSatellite(std::string_view name);

// True when `name` lies in the folder of `input_name`, ends in its extension, and the part
// between is a storable file name: not empty, not "." or "..", and free of control
// characters and of / \ : * ? " < > |. Only inspects the strings.
bool IsValidFileName(const std::filesystem::path& name, const std::filesystem::path& input_name);

}  // namespace tessaly
