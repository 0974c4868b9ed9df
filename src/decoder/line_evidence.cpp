// Bits laid on a line as cells of one period whose edges may stray by a few tenths of a column:
// each column's value is taken as anything between the shares the edge's positions give.
#include "decoder/line_evidence.h"

#include <algorithm>
#include <array>
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
  ColumnMap map;
  std::int64_t first;
  std::int64_t last;

  Cells(const std::vector<int>& b, double e, double p, std::size_t columns, const ColumnMap& m)
      : bits(b), edge(e), period(p), map(m) {
    first = std::max<std::int64_t>(static_cast<std::int64_t>(std::floor(edge)), 0);
    last = std::min<std::int64_t>(
        static_cast<std::int64_t>(std::floor(edge + period * static_cast<double>(bits.size()))),
        static_cast<std::int64_t>(columns));
  }

  // The share of column c (covering [c, c + 1) on the plain map) in 1 bits with every edge
  // moved by `shift`.
  double Share(std::int64_t c, double shift) const {
    const double from = map.From(c);
    const double to = from + map.scale;
    const double origin = edge + shift;
    const auto n = static_cast<std::int64_t>(bits.size());
    const auto i0 =
        std::max<std::int64_t>(static_cast<std::int64_t>(std::floor((from - origin) / period)), 0);
    const auto i1 = std::min<std::int64_t>(
        static_cast<std::int64_t>(std::floor((to - origin) / period)), n - 1);
    double share = 0.0;
    for (std::int64_t i = i0; i <= i1; ++i) {
      if (bits[static_cast<std::size_t>(i)] == 0) continue;
      const double a = origin + static_cast<double>(i) * period;
      share += std::max(0.0, std::min(to, a + period) - std::max(from, a));
    }
    if (map.scale == 1.0) return share;
    // Whole original columns inside a bit are sure columns: no rounding may say otherwise.
    return std::min(share / map.scale, 1.0) > 1.0 - 1e-9 ? 1.0 : share / map.scale;
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
               double period, const ColumnMap& map) {
  double best_edge = start;
  double least = std::numeric_limits<double>::infinity();
  for (int k = -kEdgeSteps / 2; k <= kEdgeSteps / 2; ++k) {
    const Cells cells(bits, start + period * k / kEdgeSteps, period, line.size(), map);
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

// The bits read through a column map: for each column the one or two bits it overlaps (an
// original column is never wider than a bit) and its share of each.
struct MappedColumn {
  std::size_t column;
  std::int64_t bit;  // the last bit it overlaps
  double earlier;    // its share of the bit before that
  double last;       // its share of that bit
};

// Column c through the map, for `count` bits of `period` from `edge`; nothing where it lies on
// none of them.
std::optional<MappedColumn> MapColumn(std::int64_t c, double edge, double period,
                                      const ColumnMap& map, std::int64_t count) {
  const double a = map.From(c) - edge;
  const double b = a + map.scale;
  const auto i0 = static_cast<std::int64_t>(std::floor(a / period));
  const auto i1 = static_cast<std::int64_t>(std::floor((b - 1e-9) / period));
  if (i1 < 0 || i0 >= count) return std::nullopt;
  const double boundary = static_cast<double>(i1) * period;
  const double last = i1 == i0 ? 1.0 : (b - boundary) / map.scale;
  const double earlier = i1 == i0 || i0 < 0 ? 0.0 : (boundary - a) / map.scale;
  // Past the last bit only its earlier part lies on the bits read.
  if (i1 >= count) return MappedColumn{static_cast<std::size_t>(c), i0, 0.0, earlier};
  return MappedColumn{static_cast<std::size_t>(c), i1, earlier, last};
}

// The columns [from, to) of a line of `columns` through the map.
std::vector<MappedColumn> MapColumns(std::size_t columns, std::int64_t from, std::int64_t to,
                                     double edge, double period, const ColumnMap& map,
                                     std::size_t count) {
  std::vector<MappedColumn> mapped;
  for (std::int64_t c = std::max<std::int64_t>(from, 0);
       c < std::min<std::int64_t>(to, static_cast<std::int64_t>(columns)); ++c) {
    if (const auto m = MapColumn(c, edge, period, map, static_cast<std::int64_t>(count)))
      mapped.push_back(*m);
  }
  return mapped;
}

// The likeliest bits under the model of the cells (each column dark + contrast x its share in
// 1 bits, Gaussian noise), by dynamic programming over each bit and the one before it: for each
// value of the current bit, the least sum of squares of the columns so far, and where asked
// the way back. Columns come in the order of their last bit.
class Trellis {
 public:
  Trellis(double dark, double contrast, bool keep_way)
      : dark_(dark), contrast_(contrast), keep_way_(keep_way) {}

  void Add(const MappedColumn& m, double value) {
    while (bit_ < m.bit) Advance();
    for (int p = 0; p < 2; ++p) {
      for (int b = 0; b < 2; ++b) {
        const double d = value - dark_ - contrast_ * (m.earlier * p + m.last * b);
        step_[p][b] += d * d;
      }
    }
  }

  // The least sum of squares once the bits before `count` are closed.
  double Close(std::int64_t count) {
    while (bit_ < count) Advance();
    return std::min(cost_[0], cost_[1]);
  }

  // The bits closed, the likeliest first.
  std::vector<int> Bits() const {
    std::vector<int> bits(ways_.size(), 0);
    int b = cost_[1] < cost_[0] ? 1 : 0;
    for (std::size_t i = ways_.size(); i-- > 0;) {
      bits[i] = b;
      b = ways_[i][b];
    }
    return bits;
  }

 private:
  void Advance() {
    const std::array<double, 2> was = cost_;
    std::array<std::uint8_t, 2> way{0, 0};
    for (int b = 0; b < 2; ++b) {
      if (bit_ == 0) {
        cost_[b] = step_[0][b];  // nothing before the first bit is bright
        continue;
      }
      const double via0 = was[0] + step_[0][b];
      const double via1 = was[1] + step_[1][b];
      cost_[b] = std::min(via0, via1);
      way[b] = via1 < via0 ? 1 : 0;
    }
    if (keep_way_) ways_.push_back(way);
    step_ = {};
    ++bit_;
  }

  double dark_;
  double contrast_;
  bool keep_way_;
  std::int64_t bit_ = 0;
  std::array<double, 2> cost_{0.0, 0.0};
  std::array<std::array<double, 2>, 2> step_{};  // the current bit's columns, [before][bit]
  std::vector<std::array<std::uint8_t, 2>> ways_;
};

// The sum of squares the likeliest bits leave over the columns [from, to), with dark 0 and
// contrast 1, for the search of the maps.
double LeastSquares(const std::vector<float>& line, std::int64_t from, std::int64_t to, double edge,
                    double period, const ColumnMap& map, std::int64_t count) {
  Trellis trellis(0.0, 1.0, false);
  std::int64_t last = 0;
  for (std::int64_t c = std::max<std::int64_t>(from, 0);
       c < std::min<std::int64_t>(to, static_cast<std::int64_t>(line.size())); ++c) {
    if (const auto m = MapColumn(c, edge, period, map, count)) {
      trellis.Add(*m, line[m->column]);
      last = m->bit;
    }
  }
  return trellis.Close(last + 1);
}

// The likeliest `count` bits with the columns mapped.
std::vector<int> LikeliestBits(const std::vector<float>& line,
                               const std::vector<MappedColumn>& mapped, std::size_t count,
                               double dark, double contrast) {
  Trellis trellis(dark, contrast, true);
  for (const MappedColumn& m : mapped) trellis.Add(m, line[m.column]);
  trellis.Close(static_cast<std::int64_t>(count));
  return trellis.Bits();
}

// Dark and contrast that fit the columns best with `bits` read through the map.
std::pair<double, double> FitLevels(const std::vector<float>& line,
                                    const std::vector<MappedColumn>& mapped,
                                    const std::vector<int>& bits) {
  double n = 0, s = 0, v = 0, ss = 0, sv = 0;
  for (const MappedColumn& m : mapped) {
    const auto i = static_cast<std::size_t>(m.bit);
    const double share = m.last * bits[i] + (i > 0 ? m.earlier * bits[i - 1] : 0.0);
    n += 1;
    s += share;
    v += line[m.column];
    ss += share * share;
    sv += share * line[m.column];
  }
  const double variance = ss - s * s / std::max(n, 1.0);
  if (n < 2 || !(variance > 0.0)) return {0.0, 1.0};
  const double contrast = (sv - s * v / n) / variance;
  return {(v - contrast * s) / n, contrast};
}

// One map tried: its edge, and the sum of squares the likeliest bits leave over the columns
// searched.
struct MapTrial {
  ColumnMap map;
  double edge;
  double least;
};

// Maps are first tried on this many of the line's columns from the first bit; each round
// doubles the stretch and keeps the best kMapsKept maps, trying each with its scale, phase and
// edge moved half the last round's steps.
constexpr double kFirstStretch = 32.0;
constexpr std::size_t kMapsKept = 48;
constexpr int kPhaseSteps = 12;
constexpr int kEdgeTrials = 8;
// The scales tried: copies that leave columns out and copies that show some twice.
constexpr std::array<std::pair<double, double>, 2> kMapScales{{{0.5, 0.99}, {1.01, 2.0}}};

}  // namespace

BitEvidence WeighLine(const std::vector<float>& line, double start, double period,
                      const std::vector<int>& input_bits, std::size_t weighed, double slack,
                      const ColumnMap& map) {
  BitEvidence evidence;
  if (input_bits.empty() || !(period > 0.0)) return evidence;
  std::vector<int> bits = input_bits;
  const Cells cells(bits, FitEdge(line, bits, start, period, map), period, line.size(), map);
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
      // A mapped column may show what lies up to one and a half columns from it (scale 2).
      const std::int64_t reach = map.scale == 1.0 ? 1 : 2;
      const auto k0 = std::max<std::int64_t>(
          static_cast<std::int64_t>(std::floor(cells.edge + i * period - slack)) - reach,
          cells.first);
      const auto k1 = std::min<std::int64_t>(
          static_cast<std::int64_t>(std::ceil(cells.edge + (i + span) * period + slack)) + reach,
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

std::optional<MapFit> FitColumnMap(const std::vector<float>& line, double start, double period,
                                   std::size_t count) {
  const double end = start + period * static_cast<double>(count);
  if (count == 0 || !(period > 1.0) || end > static_cast<double>(line.size()) ||
      end - start < 2 * kFirstStretch) {
    return std::nullopt;
  }
  const auto trial = [&](const ColumnMap& map, double edge, double stretch) {
    return MapTrial{map, edge,
                    LeastSquares(line, static_cast<std::int64_t>(std::floor(edge)) - 1,
                                 static_cast<std::int64_t>(std::ceil(edge + stretch)) + 1, edge,
                                 period, map, static_cast<std::int64_t>(count))};
  };
  const auto keep_best = [](std::vector<MapTrial>& trials) {
    const std::size_t kept = std::min(kMapsKept, trials.size());
    std::partial_sort(trials.begin(), trials.begin() + static_cast<std::ptrdiff_t>(kept),
                      trials.end(),
                      [](const MapTrial& a, const MapTrial& b) { return a.least < b.least; });
    trials.resize(kept);
  };

  // A scale off by d moves the original's columns d / scale^2 of a column per column: the
  // steps keep that under a tenth of a column over the stretch.
  double stretch = kFirstStretch;
  const double edge_step = period / kEdgeTrials;
  std::vector<MapTrial> trials;
  for (const auto& [least, greatest] : kMapScales) {
    for (double scale = least; scale <= std::min(greatest, period);
         scale += 0.1 * scale * scale / stretch) {
      for (int p = 0; p < kPhaseSteps; ++p) {
        for (int e = -kEdgeTrials / 2; e < kEdgeTrials - kEdgeTrials / 2; ++e) {
          trials.push_back(trial({scale, scale * p / kPhaseSteps}, start + e * edge_step, stretch));
        }
      }
    }
  }
  if (trials.empty()) return std::nullopt;
  keep_best(trials);
  double scale_step = 0.1 / stretch;      // as a share of scale^2
  double phase_step = 1.0 / kPhaseSteps;  // as a share of the scale
  double edge_move = edge_step;
  while (stretch < end - start) {
    stretch = std::min(2 * stretch, end - start);
    scale_step /= 2;
    phase_step /= 2;
    edge_move /= 2;
    std::vector<MapTrial> next;
    for (const MapTrial& t : trials) {
      for (const int ds : {-1, 0, 1}) {
        const double scale = t.map.scale + ds * scale_step * t.map.scale * t.map.scale;
        for (const int dp : {-1, 0, 1}) {
          const double phase = std::fmod(t.map.phase + dp * phase_step * scale + scale, scale);
          for (const int de : {-1, 0, 1}) {
            next.push_back(trial({scale, phase}, t.edge + de * edge_move, stretch));
          }
        }
      }
    }
    trials = std::move(next);
    keep_best(trials);
  }
  return MapFit{trials.front().map, trials.front().edge};
}

std::vector<int> ReadThroughMap(const std::vector<float>& line, double edge, double period,
                                const ColumnMap& map, std::size_t count) {
  const std::vector<MappedColumn> mapped = MapColumns(
      line.size(), static_cast<std::int64_t>(std::floor(edge)) - 1,
      static_cast<std::int64_t>(std::ceil(edge + period * count)) + 1, edge, period, map, count);
  const std::vector<int> first = LikeliestBits(line, mapped, count, 0.0, 1.0);
  const auto [dark, contrast] = FitLevels(line, mapped, first);
  if (!(contrast > 0.0)) return first;
  return LikeliestBits(line, mapped, count, dark, contrast);
}

}  // namespace tessaly
