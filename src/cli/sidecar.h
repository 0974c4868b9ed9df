// The sidecar file beside a saved picture (--sidecar): NAME.json (SidecarName) holding what the
// header said and how the picture was made, for archives that keep more than names.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/run_step.h"
#include "cli/json.h"
#include "cli/options.h"
#include "naming/header_fields.h"

namespace tessaly::cli {

// The sidecar object of one processed file, made from `source` (--source).
Json SidecarObject(const FileWork& work, Source source);

// The parsed header fields as JSON: satellite, kind, code, time (and message),
// or null when the header gave no name.
Json ParsedFields(const std::optional<HeaderFields>& fields);

// The sidecar file's text, as bytes.
std::vector<std::uint8_t> SidecarBytes(const FileWork& work, Source source);

// Why the result beside its sidecar is not up to date for a run with `source`: the sidecar
// records another --source ("its result was made with --source data-lines"). Empty when it
// does not, or there is no sidecar of this tool to tell.
std::string SidecarAgainstResult(const FileWork& work, Source source);

// True when `file` is a sidecar this tool wrote: a JSON object whose tool name is the tool's.
bool IsToolSidecar(const std::filesystem::path& file);

// Gives the saved picture its sidecar: the one work.prepared_sidecar holds, or one written now;
// the caller flushes the folder afterwards.
// An existing file of that name is replaced when it is a sidecar of this tool or when
// `replace_any` is set; otherwise it is kept and false returned. Write failures throw Error
// naming the sidecar file.
bool PublishSidecar(FileWork& work, Source source, bool replace_any);

}  // namespace tessaly::cli
