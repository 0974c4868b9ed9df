// Bits laid on a line as cells of one period whose edges may stray by a few tenths of a column:
// each column's value is taken as anything between the shares the edge's positions give.
#include "decoder/line_evidence.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace tessaly {
namespace {

// Positions of an edge tried on each side of the grid, for the range of a column's share.
constexpr int kShiftSteps = 4;
// The first edge is searched half a period either side of the grid's start.
constexpr int kEdgeSteps = 24;
// Fewer columns untouched by any edge than this measure no noise worth a margin.
constexpr int kMinSureColumns = 16;
// The readings set against the one read differ from it in up to this many neighbouring bits.
constexpr std::size_t kMaxSpan = 3;

// The bits on the columns [first, last) of the line, the first bit from `edge`.
struct Cells {
  const std::vector<int>& bits;
  double edge;
  double period;
  std::int64_t first;
  std::int64_t last;

  Cells(const std::vector<int>& b, double e, double p, std::size_t columns)
      : bits(b), edge(e), period(p) {
    first = std::max<std::int64_t>(static_cast<std::int64_t>(std::floor(edge)), 0);
    last = std::min<std::int64_t>(
        static_cast<std::int64_t>(std::floor(edge + period * static_cast<double>(bits.size()))),
        static_cast<std::int64_t>(columns));
  }

  // The share of column c (covering [c, c + 1)) in 1 bits with every edge moved by `shift`.
  double Share(std::int64_t c, double shift) const {
    const double from = static_cast<double>(c);
    const double origin = edge + shift;
    const auto n = static_cast<std::int64_t>(bits.size());
    const auto i0 =
        std::max<std::int64_t>(static_cast<std::int64_t>(std::floor((from - origin) / period)), 0);
    const auto i1 = std::min<std::int64_t>(
        static_cast<std::int64_t>(std::floor((from + 1.0 - origin) / period)), n - 1);
    double share = 0.0;
    for (std::int64_t i = i0; i <= i1; ++i) {
      if (bits[static_cast<std::size_t>(i)] == 0) continue;
      const double a = origin + static_cast<double>(i) * period;
      share += std::max(0.0, std::min(from + 1.0, a + period) - std::max(from, a));
    }
    return share;
  }

  // The least and greatest share of column c over the edge's positions within `slack`.
  std::pair<double, double> Band(std::int64_t c, double slack) const {
    double lo = Share(c, 0.0);
    double hi = lo;
    for (int k = 1; slack > 0.0 && k <= kShiftSteps; ++k) {
      for (const double shift : {-slack * k / kShiftSteps, slack * k / kShiftSteps}) {
        const double s = Share(c, shift);
        lo = std::min(lo, s);
        hi = std::max(hi, s);
      }
    }
    return {lo, hi};
  }
};

// The first edge near `start` that the plain model of the cells fits best (least squares).
double FitEdge(const std::vector<float>& line, const std::vector<int>& bits, double start,
               double period) {
  double best_edge = start;
  double least = std::numeric_limits<double>::infinity();
  for (int k = -kEdgeSteps / 2; k <= kEdgeSteps / 2; ++k) {
    const Cells cells(bits, start + period * k / kEdgeSteps, period, line.size());
    double n = 0, s = 0, v = 0, ss = 0, sv = 0, vv = 0;
    for (std::int64_t c = cells.first; c < cells.last; ++c) {
      const double share = cells.Share(c, 0.0);
      const double value = line[static_cast<std::size_t>(c)];
      n += 1;
      s += share;
      v += value;
      ss += share * share;
      sv += share * value;
      vv += value * value;
    }
    const double variance = ss - s * s / std::max(n, 1.0);
    if (n < kMinSureColumns || variance <= 0.0) continue;
    const double covariance = sv - s * v / n;
    const double residual = (vv - v * v / n) - covariance * covariance / variance;
    if (residual < least) {
      least = residual;
      best_edge = cells.edge;
    }
  }
  return best_edge;
}

double Outside(double value, double lo, double hi) {
  return value < lo ? lo - value : (value > hi ? value - hi : 0.0);
}

}  // namespace

BitEvidence WeighLine(const std::vector<float>& line, double start, double period,
                      const std::vector<int>& input_bits, std::size_t weighed, double slack) {
  BitEvidence evidence;
  if (input_bits.empty() || !(period > 0.0)) return evidence;
  std::vector<int> bits = input_bits;
  const Cells cells(bits, FitEdge(line, bits, start, period), period, line.size());
  if (cells.last - cells.first < kMinSureColumns) return evidence;
  const auto columns = static_cast<std::size_t>(cells.last - cells.first);
  const auto value = [&](std::int64_t c) { return line[static_cast<std::size_t>(c)]; };

  // Dark and contrast from the columns no edge reaches (their share is 0 or 1).
  std::vector<std::pair<double, double>> band(columns);
  double sums[2] = {0.0, 0.0};
  int counts[2] = {0, 0};
  for (std::int64_t c = cells.first; c < cells.last; ++c) {
    band[static_cast<std::size_t>(c - cells.first)] = cells.Band(c, slack);
    const auto [lo, hi] = band[static_cast<std::size_t>(c - cells.first)];
    if (lo == hi && (lo == 0.0 || lo == 1.0)) {
      sums[lo == 1.0] += value(c);
      ++counts[lo == 1.0];
    }
  }
  if (counts[0] < 2 || counts[1] < 2 || counts[0] + counts[1] < kMinSureColumns) return evidence;
  const double dark = sums[0] / counts[0];
  const double contrast = sums[1] / counts[1] - dark;
  if (!(contrast > 0.0)) return evidence;
  const auto level = [&](double share) { return dark + contrast * share; };

  std::vector<double> residual(columns);
  double sure_sum = 0.0;
  double sum = 0.0;
  for (std::size_t k = 0; k < columns; ++k) {
    const double v = value(cells.first + static_cast<std::int64_t>(k));
    residual[k] = Outside(v, level(band[k].first), level(band[k].second));
    sum += residual[k] * residual[k];
    if (band[k].first == band[k].second) sure_sum += residual[k] * residual[k];
  }
  // Columns near edges that lie outside every position of the edge (a ringing filter) count
  // in the noise too.
  const double rms = std::max(std::sqrt(sure_sum / std::max(counts[0] + counts[1] - 2, 1)),
                              std::sqrt(sum / static_cast<double>(columns - 2)));
  const double sigma = std::max(rms, kNoiseFloor * contrast);

  double margin = std::numeric_limits<double>::infinity();
  const std::size_t count = std::min(weighed, bits.size());
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t span = 1; span <= kMaxSpan && i + span <= bits.size(); ++span) {
      for (std::size_t j = i; j < i + span; ++j) bits[j] = 1 - bits[j];
      const auto k0 = std::max<std::int64_t>(
          static_cast<std::int64_t>(std::floor(cells.edge + i * period - slack)) - 1, cells.first);
      const auto k1 = std::min<std::int64_t>(
          static_cast<std::int64_t>(std::ceil(cells.edge + (i + span) * period + slack)) + 1,
          cells.last);
      double gain = 0.0;
      double distance2 = 0.0;
      for (std::int64_t c = k0; c < k1; ++c) {
        const auto k = static_cast<std::size_t>(c - cells.first);
        const auto [lo, hi] = cells.Band(c, slack);
        const double v = value(c);
        const double now = Outside(v, level(lo), level(hi));
        gain += now * now - residual[k] * residual[k];
        // How far the best explanation of the column by the reading lies from the other's.
        const double explained = std::clamp(v, level(band[k].first), level(band[k].second));
        const double apart = Outside(explained, level(lo), level(hi));
        distance2 += apart * apart;
      }
      for (std::size_t j = i; j < i + span; ++j) bits[j] = 1 - bits[j];
      const double distance = std::sqrt(distance2);
      const double z = distance > 1e-9 * contrast ? gain / (2.0 * sigma * distance) : 0.0;
      if (z < margin) {
        margin = z;
        evidence.weakest_bit = static_cast<int>(i);
      }
    }
  }
  evidence.margin = period < kMinSamplesPerBitToWeigh ? std::min(margin, 0.0) : margin;
  evidence.noise = rms / contrast;
  evidence.row_agreement = 1.0;
  evidence.bit_edge = cells.edge;
  return evidence;
}

}  // namespace tessaly
