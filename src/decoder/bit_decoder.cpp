// The bit decoder: column sums, threshold, bit clock with phase correction, characters.
#include "decoder/bit_decoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "decoder/picture_view.h"

namespace tessaly {
namespace {

constexpr std::int64_t kBitPeriod = 0x10000;
constexpr std::int64_t kHalfBit = 0x8000;
// A level change pulls the phase toward mid-bit by this fraction of a step.
constexpr std::int64_t kCorrectionDivisor = 12;
// Rates so low that a bit takes a small fraction of a column decode nothing sensible; this
// bounds the work of splitting columns for them.
constexpr int kMaxColumnParts = 16;

struct EbcdicRun {
  std::uint8_t first;
  std::uint8_t last;
  std::uint8_t ascii;  // translation of `first`; the run counts up from it
};

constexpr std::array<EbcdicRun, 34> kEbcdicRuns = {{
    {0x40, 0x40, 0x20}, {0x4A, 0x4A, 0xA2}, {0x4B, 0x4B, 0x2E}, {0x4C, 0x4C, 0x3C},
    {0x4D, 0x4D, 0x28}, {0x4E, 0x4E, 0x2B}, {0x4F, 0x4F, 0x7C}, {0x50, 0x50, 0x26},
    {0x5A, 0x5A, 0x21}, {0x5B, 0x5B, 0x24}, {0x5C, 0x5C, 0x2A}, {0x5D, 0x5D, 0x29},
    {0x5E, 0x5E, 0x3B}, {0x5F, 0x5F, 0xAC}, {0x60, 0x60, 0x2D}, {0x61, 0x61, 0x2F},
    {0x6B, 0x6B, 0x2C}, {0x6C, 0x6C, 0x25}, {0x6D, 0x6D, 0x5F}, {0x6E, 0x6E, 0x3E},
    {0x6F, 0x6F, 0x3F}, {0x7A, 0x7A, 0x3A}, {0x7B, 0x7B, 0x23}, {0x7C, 0x7C, 0x40},
    {0x7D, 0x7D, 0x27}, {0x7E, 0x7E, 0x3D}, {0x7F, 0x7F, 0x22}, {0x81, 0x89, 0x61},
    {0x91, 0x99, 0x6A}, {0xA2, 0xA9, 0x73}, {0xC1, 0xC9, 0x41}, {0xD1, 0xD9, 0x4A},
    {0xE2, 0xE9, 0x53}, {0xF0, 0xF9, 0x30},
}};

constexpr std::array<std::uint8_t, 256> MakeEbcdicTable() {
  std::array<std::uint8_t, 256> table{};
  for (auto& entry : table) entry = 0x20;
  for (const EbcdicRun& run : kEbcdicRuns) {
    for (int code = run.first; code <= run.last; ++code) {
      table[code] = static_cast<std::uint8_t>(run.ascii + (code - run.first));
    }
  }
  return table;
}

constexpr std::array<std::uint8_t, 256> kEbcdicToAscii = MakeEbcdicTable();

// Sums of the data rows per column; 64-bit so that no picture height can overflow them.
std::vector<std::int64_t> ColumnSums(const PictureView& picture, int first_row, int row_count) {
  std::vector<std::int64_t> sums(static_cast<std::size_t>(picture.width()), 0);
  const std::int64_t last_row = std::int64_t{first_row} + row_count;
  for (std::int64_t r = std::max<std::int64_t>(first_row, 0);
       r < std::min<std::int64_t>(last_row, picture.height()); ++r) {
    const std::uint16_t* row = picture.Row(static_cast<int>(r));
    for (int c = 0; c < picture.width(); ++c) sums[c] += row[c];
  }
  return sums;
}

// Midway between the extremes of a running average of the sums along the row.
std::int64_t Threshold(const std::vector<std::int64_t>& sums) {
  std::int64_t v = sums.empty() ? 0 : sums[0];
  std::int64_t smallest = std::numeric_limits<std::int32_t>::max();
  std::int64_t largest = -std::numeric_limits<std::int32_t>::max();
  for (const std::int64_t sum : sums) {
    v = (sum + v) / 2;
    smallest = std::min(smallest, v);
    largest = std::max(largest, v);
  }
  return (smallest + largest) / 2;
}

char MakeCharacter(std::uint8_t byte, SatelliteType type) {
  if (type == SatelliteType::GMS) return static_cast<char>(EbcdicToAscii(byte));
  return static_cast<char>(byte >= 0x20 && byte <= 0x7F ? byte : 0x20);
}

// Levels of the parts of the columns: part j of a row split `parts` ways is centred at
// (2j + 1 - parts) / (2 x parts) in column units, between columns a and a + 1, and its sum
// is interpolated there. The comparison is scaled by 2 x parts to stay in integers, so with
// one part per column a level is exactly "sum above the threshold".
class PartLevels {
 public:
  PartLevels(const std::vector<std::int64_t>& sums, std::int64_t threshold, int parts)
      : sums_(sums), threshold_(threshold), parts_(parts) {}

  std::int64_t count() const { return static_cast<std::int64_t>(sums_.size()) * parts_; }

  int operator()(std::int64_t part) const {
    if (part < 0 || part >= count()) return 0 > threshold_ ? 1 : 0;
    const std::int64_t scale = 2 * std::int64_t{parts_};
    const std::int64_t centre = 2 * part + 1 - parts_;
    // Floor division: the first part of column 0 lies left of its centre.
    const std::int64_t a = centre >= 0 ? centre / scale : -((-centre + scale - 1) / scale);
    const std::int64_t weight = centre - a * scale;
    const std::int64_t value = Sum(a) * (scale - weight) + Sum(a + 1) * weight;
    return value > threshold_ * scale ? 1 : 0;
  }

 private:
  // The row's end columns stand for the half column beyond them.
  std::int64_t Sum(std::int64_t column) const {
    const auto last = static_cast<std::int64_t>(sums_.size()) - 1;
    return sums_[static_cast<std::size_t>(std::clamp<std::int64_t>(column, 0, last))];
  }

  const std::vector<std::int64_t>& sums_;
  std::int64_t threshold_;
  int parts_;
};

}  // namespace

BitClock MakeBitClock(SatelliteType type, float sample_rate) {
  BitClock clock;
  clock.bit_rate = type == SatelliteType::GMS ? 1800.0f : 1680.0f;
  clock.initial_phase = type == SatelliteType::GMS    ? 0x4000
                        : type == SatelliteType::GOES ? 0x5000
                                                      : 0x6000;
  clock.samples_per_bit = sample_rate / clock.bit_rate;
  const double step = std::nearbyint(65536.0 / static_cast<double>(clock.samples_per_bit));
  clock.usable = clock.samples_per_bit > 0 && std::isfinite(step) &&
                 step <= std::numeric_limits<std::int32_t>::max();
  if (!clock.usable) return clock;
  clock.step = static_cast<std::int64_t>(step);
  if (clock.samples_per_bit < kMinSamplesPerBit) {
    const double parts = std::ceil(static_cast<double>(kMinSamplesPerBit / clock.samples_per_bit));
    clock.column_parts = static_cast<int>(std::min<double>(parts, kMaxColumnParts));
  }
  clock.part_step =
      clock.column_parts == 1
          ? clock.step
          : static_cast<std::int64_t>(std::nearbyint(
                65536.0 / (static_cast<double>(clock.samples_per_bit) * clock.column_parts)));
  return clock;
}

void DecodeBits(const IplImage* image, int first_row, int row_count, std::string& text,
                SatelliteType satellite_type, float sample_rate, int start_column) {
  text =
      ReadHeaderBits(image, first_row, row_count, satellite_type, sample_rate, start_column).text;
}

HeaderBits ReadHeaderBits(const IplImage* image, int first_row, int row_count,
                          SatelliteType satellite_type, float sample_rate, int start_column,
                          std::int64_t phase_shift) {
  HeaderBits read;
  std::string& text = read.text;
  if (row_count < 1) return read;
  const PictureView picture(image);
  const BitClock clock = MakeBitClock(satellite_type, sample_rate);
  if (picture.width() < 1 || !clock.usable) return read;
  const std::vector<std::int64_t> sums = ColumnSums(picture, first_row, row_count);
  const PartLevels level(sums, Threshold(sums), clock.column_parts);

  // The clock starts with the first part of the start column. At column 0 there is nothing
  // before the start; its own level serves.
  const std::int64_t start = std::int64_t{start_column} * clock.column_parts;
  int previous = level(start_column != 0 ? start - 1 : 0);
  std::int64_t phase = clock.initial_phase + phase_shift;
  unsigned byte = 0;
  int missing = 8;
  const auto wanted = static_cast<std::size_t>(kMaxHeaderLength + kFollowingBytes);
  for (std::int64_t p = start;
       p < level.count() && read.bytes.size() + read.following.size() < wanted; ++p) {
    const int current = level(p);
    if (current != previous) {
      previous = current;
      const std::int64_t correction = clock.part_step / kCorrectionDivisor;
      phase += phase > kHalfBit ? -correction : correction;
    }
    phase += clock.part_step;
    if (phase > kBitPeriod) {
      phase &= 0xFFFF;
      byte = ((byte << 1) | static_cast<unsigned>(current)) & 0xFFu;
      --missing;
    }
    if (missing == 0) {
      if (text.size() < static_cast<std::size_t>(kMaxHeaderLength)) {
        read.bytes.push_back(static_cast<std::uint8_t>(byte));
        text.push_back(MakeCharacter(static_cast<std::uint8_t>(byte), satellite_type));
      } else {
        read.following.push_back(static_cast<std::uint8_t>(byte));
      }
      missing = 8;
    }
  }
  return read;
}

std::string HeaderText(const std::vector<std::uint8_t>& bytes, SatelliteType satellite_type) {
  std::string text;
  for (const std::uint8_t byte : bytes) text.push_back(MakeCharacter(byte, satellite_type));
  return text;
}

int CountUnknownBytes(const std::vector<std::uint8_t>& bytes, SatelliteType satellite_type) {
  return static_cast<int>(std::count_if(bytes.begin(), bytes.end(), [&](std::uint8_t byte) {
    if (satellite_type == SatelliteType::GMS) return byte != 0x40 && EbcdicToAscii(byte) == 0x20;
    return byte < 0x20 || byte > 0x7E;
  }));
}

std::uint8_t EbcdicToAscii(std::uint8_t code) {
  return kEbcdicToAscii[code];
}

}  // namespace tessaly
