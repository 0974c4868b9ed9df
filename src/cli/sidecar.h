// The sidecar file beside a saved picture (--sidecar): NAME.json (SidecarName) holding what the
// header said and how the picture was made, for archives that keep more than names.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "app/run_step.h"
#include "cli/json.h"
#include "naming/header_fields.h"

namespace tessaly::cli {

// The sidecar object of one processed file.
Json SidecarObject(const FileWork& work);

// The parsed header fields as JSON: satellite, kind, code, time (and message),
// or null when the header gave no name.
Json ParsedFields(const std::optional<HeaderFields>& fields);

// The sidecar file's text, as bytes.
std::vector<std::uint8_t> SidecarBytes(const FileWork& work);

// True when `file` is a sidecar this tool wrote: a JSON object whose tool name is the tool's.
bool IsToolSidecar(const std::filesystem::path& file);

// Gives the saved picture its sidecar: the one work.prepared_sidecar holds, or one written now;
// the caller flushes the folder afterwards.
// An existing file of that name is replaced when it is a sidecar of this tool or when
// `replace_any` is set; otherwise it is kept and false returned. Write failures throw Error
// naming the sidecar file.
bool PublishSidecar(FileWork& work, bool replace_any);

}  // namespace tessaly::cli
