// What a header reading gave the file it came from, and the words for one that named nothing:
// kept below the front ends and the catalogue, so that each can tell them alike.
#pragma once

#include <string>
#include <string_view>

#include "naming/header_fields.h"

namespace tessaly {

enum class HeaderState {
  kNamed,     // a name (its form in named_from), possibly from an accepted doubtful reading
  kNotRead,   // no header text was read at all (nothing but blanks)
  kDoubtful,  // text was read, but too weakly to be trusted; it names nothing
  kNoName,    // text was read surely, but no form of it gives a name (HeaderProblem says why)
};

// The state of a reading whose text is `header_text` (Latin-1, as decoded), whose file was named
// from `named_from`, and which JudgeHeader found `doubtful` or not.
HeaderState HeaderStateOf(std::string_view header_text, NamedFrom named_from, bool doubtful);

// What the header gave a file it did not name (UTF-8): "header not read", "header doubtful
// ("TEXT")" or "header read, but 31-02-99 is not a date".
std::string UnnamedHeaderWords(std::string_view header_text, NamedFrom named_from, bool doubtful);

}  // namespace tessaly
