// The WEFAX header parser: turns decoded header text into the proposed output file name.
// Used by the per-file processing and by the front ends.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "naming/header_fields.h"

namespace tessaly {

struct NameProposal {
  std::filesystem::path name;
  NamedFrom named_from = NamedFrom::kInputName;
  // "Bad WEFAX header: " and the header in UTF-8 when a header long enough to be one reads in
  // neither form; empty otherwise. The parser shows nothing: a front end that reports bad
  // headers shows this text.
  std::string bad_header_message;
};

// Proposes the name for a picture whose decoded header is `header_text` (Latin-1, one
// character per decoded byte, untrimmed): a name in the folder of `file_name`, with its
// extension, from the primary form or else the alternative form; `file_name` itself when
// neither reads. Never throws an error of its own.
NameProposal HeaderToFileName(const std::filesystem::path& file_name, std::string_view header_text);

// HeaderToFileName for a header already read: `fields` is ReadHeader(header_text).
NameProposal ProposeName(const std::filesystem::path& file_name, std::string_view header_text,
                         const std::optional<HeaderFields>& fields);

// True when `name` lies in the folder of `input_name`, ends in its extension, and the part
// between is a storable file name (IsStorableName). Only inspects the strings.
bool IsValidFileName(const std::filesystem::path& name, const std::filesystem::path& input_name);

}  // namespace tessaly
