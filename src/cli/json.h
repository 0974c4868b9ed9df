// JSON text for the batch tool's --json lines and sidecar files.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace tessaly::cli {

// Objects keep their keys in the order they were added.
using Json = nlohmann::ordered_json;

// The value as JSON text on one line; bytes of strings that are not UTF-8 (a
// Latin-1 file name) become U+FFFD, so the text is always valid.
std::string JsonText(const Json& value, int indent = -1);

}  // namespace tessaly::cli
