// JSON text for the batch tool's --json lines and sidecar files, and the words of the values
// they share with the catalogue's rows.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "decoder/satellite.h"

namespace tessaly::cli {

// Objects keep their keys in the order they were added.
using Json = nlohmann::ordered_json;

// The value as JSON text on one line; bytes of strings that are not UTF-8 (a
// Latin-1 file name) become U+FFFD, so the text is always valid.
std::string JsonText(const Json& value, int indent = -1);

// A header reading's confidence as --json and sidecars give it: to two decimals.
double RoundedConfidence(double confidence);

// The reading that gave the header: "goes", "gms" or "meteosat".
std::string ReadingText(SatelliteType read_as);

}  // namespace tessaly::cli
