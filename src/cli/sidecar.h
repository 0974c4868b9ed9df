// The sidecar file beside a saved picture (--sidecar): NAME.json holding what the
// header said and how the picture was made, for archives that keep more than names.
#pragma once

#include <filesystem>

#include "cli/json.h"
#include "cli/reporter.h"

namespace tessaly::cli {

// NAME.json for the picture saved as NAME.png.
std::filesystem::path SidecarName(const std::filesystem::path& picture);

// The sidecar object of one processed file.
Json SidecarObject(const FileResult& r);

// The parsed header fields as JSON: satellite, kind, code, time (and message),
// or null when the header gave no name.
Json ParsedFields(const HeaderFields& fields);

// Writes the sidecar beside the saved picture, replacing it as a whole.
void WriteSidecar(const FileResult& r);

}  // namespace tessaly::cli
