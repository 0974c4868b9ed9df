// What the bytes of a header reading can be: the characters its fields are written in, and the
// runs of equal bits those characters leave. Used by the data-line decoder to tell a reading of
// damaged data rows (a dropout's clean zeros) from a header.
#pragma once

#include <cstdint>
#include <span>

#include "decoder/satellite.h"

namespace tessaly {

// A header's characters are printable, so their bits never stay 0 for this many bits in a row
// (a blank followed by a blank or a digit leaves 7; the ASCII "@" before one, which no field
// holds, 8), however the characters follow one another. A dropout over a character leaves 8
// or more.
inline constexpr int kLongestZeroRun = 7;

// Nor do they stay 1 this long: ASCII bytes all begin with a 0 bit; in EBCDIC a quotation mark
// before a 9 leaves 11 ones.
inline constexpr int kLongestAsciiOneRun = 7;
inline constexpr int kLongestEbcdicOneRun = 11;

// True when `bytes` could be a header's characters in the coding of `satellite_type`: every
// byte a character of the coding (CountUnknownBytes) and no run of equal bits longer than the
// runs above. A reading of bytes no header holds names nothing, however clearly its bits stand
// out of the noise.
bool CouldBeHeaderBytes(std::span<const std::uint8_t> bytes, SatelliteType satellite_type);

}  // namespace tessaly
