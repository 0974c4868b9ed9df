// The state of a header reading and the words for a header that named nothing.
#include "naming/header_state.h"

#include "base/text.h"

namespace tessaly {

HeaderState HeaderStateOf(std::string_view header_text, NamedFrom named_from, bool doubtful) {
  if (named_from != NamedFrom::kInputName) return HeaderState::kNamed;
  if (Trim(header_text).empty()) return HeaderState::kNotRead;
  return doubtful ? HeaderState::kDoubtful : HeaderState::kNoName;
}

std::string UnnamedHeaderWords(std::string_view header_text, NamedFrom named_from, bool doubtful) {
  switch (HeaderStateOf(header_text, named_from, doubtful)) {
    case HeaderState::kDoubtful:
      return "header doubtful (\"" + Latin1ToUtf8(Trim(header_text)) + "\")";
    case HeaderState::kNoName:
      if (const std::string problem = HeaderProblem(header_text); !problem.empty()) {
        return "header read, but " + problem;
      }
      break;
    case HeaderState::kNamed:
    case HeaderState::kNotRead:
      break;
  }
  return "header not read";
}

}  // namespace tessaly
