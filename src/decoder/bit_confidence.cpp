// The evidence for a header reading: the bits read, laid on the columns as cells of one bit
// period, fitted to the data rows and set against the readings one or two bits away.
#include "decoder/bit_confidence.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "decoder/bit_decoder.h"
#include "decoder/picture_view.h"

namespace tessaly {
namespace {

// The first edge is searched over the bit period in which the clock's first sample lies
// (a little beyond it on both sides), first in kCoarseSteps steps, then finer around the best.
constexpr int kCoarseSteps = 24;
constexpr int kFineSteps = 8;
constexpr double kEdgeSlack = 0.1;  // bit periods beyond the clock's first bit
// Fewer columns than this fit nothing worth a margin.
constexpr int kMinColumns = 16;

// Share of column c (covering [c, c + 1)) that lies in [from, to).
double Overlap(std::int64_t c, double from, double to) {
  return std::max(
      0.0, std::min(static_cast<double>(c + 1), to) - std::max(static_cast<double>(c), from));
}

// The bits laid on the columns [first, last) with the first edge at `edge`: the share of each
// column that lies in 1 bits. The columns before the edge count as dark.
struct Cells {
  const std::vector<int>& bits;
  double period = 0.0;
  double edge = 0.0;
  std::int64_t first = 0;
  std::int64_t last = 0;

  double From(std::size_t i) const { return edge + static_cast<double>(i) * period; }

  // Adds `weight` x the overlap of bit i's cell with each column to `shares`.
  template <typename Add>
  void ForEachColumn(std::size_t i, Add add) const {
    const double from = From(i);
    const double to = from + period;
    const auto c0 = std::max(static_cast<std::int64_t>(std::floor(from)), first);
    const auto c1 = std::min(static_cast<std::int64_t>(std::ceil(to)), last);
    for (std::int64_t c = c0; c < c1; ++c) add(c - first, Overlap(c, from, to));
  }

  std::vector<double> Shares() const {
    std::vector<double> shares(static_cast<std::size_t>(last - first), 0.0);
    for (std::size_t i = 0; i < bits.size(); ++i) {
      if (bits[i] != 0) ForEachColumn(i, [&](std::int64_t k, double w) { shares[k] += w; });
    }
    return shares;
  }
};

// Least-squares dark level and contrast of `values` against `shares`, and what is left.
struct Fit {
  double dark = 0.0;
  double contrast = 0.0;
  double residual_sum = std::numeric_limits<double>::infinity();  // sum of squares
};

Fit FitLine(const std::vector<double>& values, const std::vector<double>& shares) {
  Fit fit;
  const auto n = static_cast<double>(values.size());
  if (values.empty()) return fit;
  double mean_v = 0.0;
  double mean_s = 0.0;
  for (std::size_t k = 0; k < values.size(); ++k) {
    mean_v += values[k];
    mean_s += shares[k];
  }
  mean_v /= n;
  mean_s /= n;
  double covariance = 0.0;
  double variance = 0.0;
  double spread = 0.0;
  for (std::size_t k = 0; k < values.size(); ++k) {
    const double dv = values[k] - mean_v;
    const double ds = shares[k] - mean_s;
    covariance += dv * ds;
    variance += ds * ds;
    spread += dv * dv;
  }
  if (variance <= 0.0) return fit;
  fit.contrast = covariance / variance;
  fit.dark = mean_v - fit.contrast * mean_s;
  fit.residual_sum = std::max(spread - covariance * fit.contrast, 0.0);
  return fit;
}

std::vector<int> BitsOf(const std::vector<std::uint8_t>& bytes) {
  std::vector<int> bits;
  bits.reserve(bytes.size() * 8);
  for (const std::uint8_t byte : bytes) {
    for (int b = 7; b >= 0; --b) bits.push_back((byte >> b) & 1);
  }
  return bits;
}

}  // namespace

BitEvidence WeighHeaderBits(const IplImage* image, int first_row, int row_count,
                            SatelliteType satellite_type, float sample_rate, int start_column,
                            std::int64_t phase_shift, const std::vector<std::uint8_t>& bytes) {
  BitEvidence evidence;
  if (bytes.empty() || row_count < 1) return evidence;
  const PictureView picture(image);
  const BitClock clock = MakeBitClock(satellite_type, sample_rate);
  if (!clock.usable) return evidence;
  const std::vector<int> bits = BitsOf(bytes);
  const double period = static_cast<double>(sample_rate) / clock.bit_rate;
  const double first_phase = static_cast<double>(clock.initial_phase + phase_shift) / 65536.0;
  const int width = picture.width();

  std::vector<double> sums(static_cast<std::size_t>(width), 0.0);
  for (int r = first_row; r < first_row + row_count; ++r) {
    const std::uint16_t* row = picture.Row(r);
    if (row == nullptr) continue;
    for (int c = 0; c < width; ++c) sums[c] += row[c];
  }

  // The columns of the reading: from the one the first edge falls in to the last one wholly
  // covered by the bits read (what follows them is not known).
  const auto cells_at = [&](double edge) {
    Cells cells{bits, period, edge, 0, 0};
    cells.first = std::max<std::int64_t>(static_cast<std::int64_t>(std::floor(edge)), 0);
    cells.last = std::min<std::int64_t>(
        static_cast<std::int64_t>(std::floor(edge + period * static_cast<double>(bits.size()))),
        width);
    return cells;
  };
  const auto values_of = [&](const Cells& cells, const std::vector<double>& row) {
    return std::vector<double>(row.begin() + cells.first, row.begin() + cells.last);
  };
  const auto fit_at = [&](double edge) {
    const Cells cells = cells_at(edge);
    if (cells.last - cells.first < kMinColumns) return Fit();
    return FitLine(values_of(cells, sums), cells.Shares());
  };

  // The clock's first sample lies in bit 0 when the bits start within a period before it.
  const double low = start_column - (first_phase + kEdgeSlack) * period;
  const double high = start_column + (1.0 - first_phase + kEdgeSlack) * period;
  double best_edge = low;
  Fit best;
  const auto try_edge = [&](double edge) {
    const Fit fit = fit_at(edge);
    if (fit.contrast > 0.0 && fit.residual_sum < best.residual_sum) {
      best = fit;
      best_edge = edge;
    }
  };
  const double coarse = (high - low) / kCoarseSteps;
  for (int i = 0; i <= kCoarseSteps; ++i) try_edge(low + i * coarse);
  const double centre = best_edge;
  for (int i = -kFineSteps; i <= kFineSteps; ++i) try_edge(centre + i * coarse / kFineSteps);
  if (!(best.contrast > 0.0)) return evidence;

  const Cells cells = cells_at(best_edge);
  const std::vector<double> values = values_of(cells, sums);
  const std::vector<double> shares = cells.Shares();
  const auto columns = static_cast<double>(values.size());
  const double sigma = std::max(std::sqrt(best.residual_sum / std::max(columns - 2.0, 1.0)),
                                kNoiseFloor * best.contrast);
  evidence.noise = std::sqrt(best.residual_sum / std::max(columns - 2.0, 1.0)) / best.contrast;
  evidence.bit_edge = best_edge;

  std::vector<double> residual(values.size());
  for (std::size_t k = 0; k < values.size(); ++k) {
    residual[k] = values[k] - best.dark - best.contrast * shares[k];
  }
  // Readings one bit or two neighbouring bits away: the change each makes in the columns.
  double margin = std::numeric_limits<double>::infinity();
  std::vector<double> change(values.size(), 0.0);
  std::vector<std::int64_t> touched;
  for (std::size_t i = 0; i < bits.size(); ++i) {
    for (std::size_t span = 1; span <= 2 && i + span <= bits.size(); ++span) {
      touched.clear();
      for (std::size_t j = i; j < i + span; ++j) {
        const double sign = bits[j] != 0 ? -1.0 : 1.0;
        cells.ForEachColumn(j, [&](std::int64_t k, double w) {
          if (change[k] == 0.0) touched.push_back(k);
          change[k] += sign * w * best.contrast;
        });
      }
      double distance2 = 0.0;
      double gain = 0.0;
      for (const std::int64_t k : touched) {
        distance2 += change[k] * change[k];
        gain += change[k] * change[k] - 2.0 * residual[k] * change[k];
        change[k] = 0.0;
      }
      // A bit that no column sees is not read at all.
      const double distance = std::sqrt(distance2);
      const double z = distance > 1e-9 * best.contrast ? gain / (2.0 * sigma * distance) : 0.0;
      if (z < margin) {
        margin = z;
        evidence.weakest_bit = static_cast<int>(i);
      }
    }
  }
  evidence.margin = margin;

  // Each data row fitted alone to the same cells.
  double weakest = std::numeric_limits<double>::infinity();
  int rows = 0;
  std::vector<double> row_values(static_cast<std::size_t>(width));
  for (int r = first_row; r < first_row + row_count; ++r) {
    const std::uint16_t* row = picture.Row(r);
    for (int c = 0; c < width; ++c) row_values[c] = PictureView::At(row, width, c);
    const double contrast = FitLine(values_of(cells, row_values), shares).contrast;
    weakest = std::min(weakest, contrast);
    ++rows;
  }
  evidence.row_agreement = rows > 0 ? weakest / (best.contrast / rows) : 0.0;
  return evidence;
}

}  // namespace tessaly
