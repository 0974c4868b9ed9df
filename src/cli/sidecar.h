// The sidecar file beside a saved picture (--sidecar): NAME.json holding what the
// header said and how the picture was made, for archives that keep more than names.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "cli/json.h"
#include "cli/reporter.h"
#include "naming/header_fields.h"

namespace tessaly::cli {

// NAME.json for the picture saved as NAME.png.
std::filesystem::path SidecarName(const std::filesystem::path& picture);

// Throws Error naming the picture when its sidecar's name would be longer than a file name may
// be (a picture name of 252 bytes or more): such a picture is not saved, rather than saved
// without its sidecar.
void CheckSidecarName(const std::filesystem::path& picture);

// The sidecar object of one processed file.
Json SidecarObject(const FileResult& r);

// The parsed header fields as JSON: satellite, kind, code, time (and message),
// or null when the header gave no name.
Json ParsedFields(const std::optional<HeaderFields>& fields);

// The sidecar file's text, as bytes.
std::vector<std::uint8_t> SidecarBytes(const FileResult& r);

// True when `file` is a sidecar this tool wrote: a JSON object whose tool name is the tool's.
bool IsToolSidecar(const std::filesystem::path& file);

// Gives the saved picture its sidecar: the one r.prepared_sidecar holds, or one written now;
// the caller flushes the folder afterwards.
// An existing file of that name is replaced when it is a sidecar of this tool or when
// `replace_any` is set; otherwise it is kept and false returned. Write failures throw Error
// naming the sidecar file.
bool PublishSidecar(FileResult& r, bool replace_any);

}  // namespace tessaly::cli
