// Bits to characters: turns the data rows of a WEFAX picture into the header text through a
// software bit clock. Used by the data-line decoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoder/satellite.h"
#include "picture_store/ipl.h"

namespace tessaly {

// The header text is cut to this many characters.
inline constexpr int kMaxHeaderLength = 25;

// Below this many samples per bit the clock's phase correction, a twelfth of a sample per
// level change, cannot hold the clock on the bits (rows of about 814 to 911 pixels slip), so
// each column is split into as many parts as bring the clock to at least this many.
inline constexpr float kMinSamplesPerBit = 3.0f;

// The bit clock of a satellite type at a sample rate: a phase on a scale where 0x10000 is one
// bit period, advanced by `part_step` per part of a column, each column being read as
// `column_parts` parts. `step` is the advance per whole column. `usable` is false when the
// sample rate gives no sensible step (zero, negative or not a number).
struct BitClock {
  float bit_rate = 0;
  float samples_per_bit = 0;
  std::int64_t step = 0;
  std::int64_t initial_phase = 0;
  int column_parts = 1;
  std::int64_t part_step = 0;
  bool usable = false;
};

// GMS: 1800 bit/s from phase 0x4000; GOES: 1680 bit/s from 0x5000; every other type
// 1680 bit/s from 0x6000. The step is 65536 / samples per bit, rounded half to even; the
// part step likewise 65536 / (samples per bit x column parts). At kMinSamplesPerBit or more
// samples per bit a column is one part and the part step is the step.
BitClock MakeBitClock(SatelliteType type, float sample_rate);

// Decodes the `row_count` rows from `first_row` of the 16-bit working picture, the bits
// starting at `start_column`, into `text` (0 to 25 characters, Latin-1; bytes that are not
// printable become blanks). The rows are summed per column and cut at a threshold between
// the extremes of the sums; a column read as several parts takes each part's level from the
// sums interpolated between column centres. Rows and columns outside the picture read as 0.
// Throws Error for an image that is not a one-channel 16-bit picture.
void DecodeBits(const IplImage* image, int first_row, int row_count, std::string& text,
                SatelliteType satellite_type, float sample_rate, int start_column);

// DecodeBits that also keeps the bytes as they were read, before the character coding, for
// the measure of how sure the reading is (decoder/bit_confidence.h). `phase_shift` is added
// to the clock's initial phase: half a bit period (0x8000) more reads bits that start half a
// bit before the start column, as much less bits that start half a bit after it.
struct HeaderBits {
  std::string text;
  std::vector<std::uint8_t> bytes;  // one a character of `text`
  // The kFollowingBytes the clock reads after the 25 characters, where the row holds them:
  // the last character's bits are seen fully only beside the bits that follow them.
  std::vector<std::uint8_t> following;
};
inline constexpr int kFollowingBytes = 1;
HeaderBits ReadHeaderBits(const IplImage* image, int first_row, int row_count,
                          SatelliteType satellite_type, float sample_rate, int start_column,
                          std::int64_t phase_shift = 0);

// The header text of `bytes` as DecodeBits makes it.
std::string HeaderText(const std::vector<std::uint8_t>& bytes, SatelliteType satellite_type);

// How many of `bytes` are no character of the coding of `satellite_type`: outside printable
// ASCII, or for GMS EBCDIC codes that have no translation (the blank's code 0x40 has one).
int CountUnknownBytes(const std::vector<std::uint8_t>& bytes, SatelliteType satellite_type);

// EBCDIC (code page 037) to ASCII / ISO 8859-1 for the characters a GMS header uses; every
// other code becomes a blank.
std::uint8_t EbcdicToAscii(std::uint8_t code);

}  // namespace tessaly
