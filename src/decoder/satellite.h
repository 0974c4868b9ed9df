// The satellite-type enumeration shared by the data-line decoder, the bit decoder and the
// frame generator, with its table of names.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tessaly {

enum class SatelliteType : std::uint8_t {
  Meteor,
  Meteor221,
  Resurs,
  NOAA,
  Okean,
  Sich,
  Sich600,
  OkeanO,
  OkeanO37,
  Meteosat,
  GMS,
  GOES,
  WEFAX,
};

inline constexpr int kSatelliteTypeCount = 13;

inline constexpr std::array<std::string_view, kSatelliteTypeCount> kSatelliteTypeNames = {
    "Meteor", "Meteor221", "Resurs",   "NOAA", "Okean", "Sich",  "Sich600",
    "OkeanO", "OkeanO37",  "Meteosat", "GMS",  "GOES",  "WEFAX",
};

// The table's name of `type`; an empty view for a value outside the enumeration.
constexpr std::string_view SatelliteTypeName(SatelliteType type) {
  const auto index = static_cast<std::size_t>(type);
  return index < kSatelliteTypeNames.size() ? kSatelliteTypeNames[index] : std::string_view();
}

}  // namespace tessaly
