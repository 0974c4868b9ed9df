// The characters and the runs of bits a header can hold.
#include "decoder/header_bytes.h"

#include <vector>

#include "decoder/bit_decoder.h"

namespace tessaly {

bool CouldBeHeaderBytes(std::span<const std::uint8_t> bytes, SatelliteType satellite_type) {
  if (CountUnknownBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), satellite_type) >
      0) {
    return false;
  }
  const int longest_ones =
      satellite_type == SatelliteType::GMS ? kLongestEbcdicOneRun : kLongestAsciiOneRun;
  int run = 0;
  int previous = -1;
  for (const std::uint8_t byte : bytes) {
    for (int b = 7; b >= 0; --b) {
      const int bit = (byte >> b) & 1;
      run = bit == previous ? run + 1 : 1;
      previous = bit;
      if (run > (bit == 0 ? kLongestZeroRun : longest_ones)) return false;
    }
  }
  return true;
}

}  // namespace tessaly
