// JSON text that stays valid UTF-8 whatever bytes a path holds.
#include "cli/json.h"

#include <cctype>
#include <cmath>

namespace tessaly::cli {

std::string JsonText(const Json& value, int indent) {
  return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

double RoundedConfidence(double confidence) {
  return std::round(confidence * 100.0) / 100.0;
}

std::string ReadingText(SatelliteType read_as) {
  std::string text(SatelliteTypeName(read_as));
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace tessaly::cli
