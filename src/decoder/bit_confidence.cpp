// The evidence for a header reading: the bits read, laid on the columns as cells of one bit
// period, fitted to the data rows and set against the readings one or two bits away.
#include "decoder/bit_confidence.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

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
// The readings set against the one read differ from it in up to this many neighbouring bits.
constexpr std::size_t kMaxSpan = 3;
// Rounds of refitting the edge and levels while refining a reading.
constexpr int kRefineRounds = 3;

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
    const double to = From(i + 1);
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
struct Line {
  double dark = 0.0;
  double contrast = 0.0;
  double residual_sum = std::numeric_limits<double>::infinity();  // sum of squares
};

Line FitLine(const std::vector<double>& values, const std::vector<double>& shares) {
  Line fit;
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

std::vector<std::uint8_t> BytesOf(const std::vector<int>& bits) {
  std::vector<std::uint8_t> bytes(bits.size() / 8, 0);
  for (std::size_t i = 0; i < bytes.size() * 8; ++i) {
    bytes[i / 8] = static_cast<std::uint8_t>((bytes[i / 8] << 1) | bits[i]);
  }
  return bytes;
}

// The data rows of one reading and the model of its bits fitted to them.
class BitModel {
 public:
  BitModel(const IplImage* image, int first_row, int row_count, SatelliteType satellite_type,
           float sample_rate, int start_column, std::int64_t phase_shift)
      : picture_(image), first_row_(first_row), row_count_(row_count) {
    const BitClock clock = MakeBitClock(satellite_type, sample_rate);
    usable_ = clock.usable && row_count > 0;
    if (!usable_) return;
    period_ = static_cast<double>(sample_rate) / clock.bit_rate;
    // The clock's first sample lies in bit 0 when the bits start within a period before it.
    const double first_phase = static_cast<double>(clock.initial_phase + phase_shift) / 65536.0;
    low_ = start_column - (first_phase + kEdgeSlack) * period_;
    high_ = start_column + (1.0 - first_phase + kEdgeSlack) * period_;
    sums_.assign(static_cast<std::size_t>(picture_.width()), 0.0);
    for (int r = first_row; r < first_row + row_count; ++r) {
      const std::uint16_t* row = picture_.Row(r);
      if (row == nullptr) continue;
      for (int c = 0; c < picture_.width(); ++c) sums_[c] += row[c];
    }
  }

  // Fits `bits` (kept by reference until the next Fit): the first edge, dark level and
  // contrast that explain the row sums best. False when nothing fits.
  bool Fit(const std::vector<int>& bits) {
    if (!usable_ || bits.empty()) return false;
    Line best;
    double best_edge = low_;
    const auto try_edge = [&](double edge) {
      const Cells cells = CellsAt(bits, edge);
      if (cells.last - cells.first < kMinColumns) return;
      const Line line = FitLine(ValuesOf(cells, sums_), cells.Shares());
      if (line.contrast > 0.0 && line.residual_sum < best.residual_sum) {
        best = line;
        best_edge = edge;
      }
    };
    const double coarse = (high_ - low_) / kCoarseSteps;
    for (int i = 0; i <= kCoarseSteps; ++i) try_edge(low_ + i * coarse);
    const double centre = best_edge;
    for (int i = -kFineSteps; i <= kFineSteps; ++i) try_edge(centre + i * coarse / kFineSteps);
    if (!(best.contrast > 0.0)) return false;

    cells_.emplace(CellsAt(bits, best_edge));
    line_ = best;
    shares_ = cells_->Shares();
    const std::vector<double> values = ValuesOf(*cells_, sums_);
    residual_.resize(values.size());
    for (std::size_t k = 0; k < values.size(); ++k) {
      residual_[k] = values[k] - line_.dark - line_.contrast * shares_[k];
    }
    change_.assign(values.size(), 0.0);
    const auto columns = static_cast<double>(values.size());
    rms_ = std::sqrt(line_.residual_sum / std::max(columns - 2.0, 1.0));
    return true;
  }

  // Every reading one bit or two neighbouring bits away from the fitted one: `visit(i, span,
  // gain, distance)`, where the bits i to i + span - 1 are flipped, `gain` is what the sum of
  // squares grows by and `distance` how far the two readings lie apart in the columns.
  template <typename Visit>
  void ForEachNeighbour(Visit visit) {
    const Cells& cells = *cells_;
    const std::size_t count = cells.bits.size();
    for (std::size_t i = 0; i < count; ++i) {
      for (std::size_t span = 1; span <= kMaxSpan && i + span <= count; ++span) {
        const auto [k0, k1] = Flip(i, span);
        double distance2 = 0.0;
        double gain = 0.0;
        for (std::int64_t k = k0; k < k1; ++k) {
          distance2 += change_[k] * change_[k];
          gain += change_[k] * change_[k] - 2.0 * residual_[k] * change_[k];
          change_[k] = 0.0;
        }
        visit(i, span, gain, std::sqrt(distance2));
      }
    }
  }

  // Flips bits i to i + span - 1 of the fitted reading in the model, keeping the fit.
  void Apply(std::vector<int>& bits, std::size_t i, std::size_t span) {
    const auto [k0, k1] = Flip(i, span);
    for (std::int64_t k = k0; k < k1; ++k) {
      residual_[k] -= change_[k];
      change_[k] = 0.0;
    }
    for (std::size_t j = i; j < i + span; ++j) bits[j] = 1 - bits[j];
  }

  // The noise per column: the fit's residual, and at least kNoiseFloor of the contrast.
  double Sigma() const { return std::max(rms_, kNoiseFloor * line_.contrast); }
  double Contrast() const { return line_.contrast; }
  double Noise() const { return rms_ / line_.contrast; }
  double Edge() const { return cells_->edge; }
  double Period() const { return period_; }

  // The weakest data row's contrast against the rows' mean, each row fitted alone.
  double RowAgreement() const {
    const int width = picture_.width();
    double weakest = std::numeric_limits<double>::infinity();
    std::vector<double> values(static_cast<std::size_t>(width));
    for (int r = first_row_; r < first_row_ + row_count_; ++r) {
      const std::uint16_t* row = picture_.Row(r);
      for (int c = 0; c < width; ++c) values[c] = PictureView::At(row, width, c);
      weakest = std::min(weakest, FitLine(ValuesOf(*cells_, values), shares_).contrast);
    }
    return weakest / (line_.contrast / row_count_);
  }

 private:
  Cells CellsAt(const std::vector<int>& bits, double edge) const {
    Cells cells{bits, period_, edge, 0, 0};
    // From the column the first edge falls in to the last one wholly covered by the bits
    // read (what follows them is not known).
    cells.first = std::max<std::int64_t>(static_cast<std::int64_t>(std::floor(edge)), 0);
    cells.last = std::min<std::int64_t>(
        static_cast<std::int64_t>(std::floor(edge + period_ * static_cast<double>(bits.size()))),
        picture_.width());
    return cells;
  }

  static std::vector<double> ValuesOf(const Cells& cells, const std::vector<double>& row) {
    return std::vector<double>(row.begin() + cells.first, row.begin() + cells.last);
  }

  // Puts the change in the columns that flipping bits i to i + span - 1 makes into change_,
  // and returns the columns they lie in.
  std::pair<std::int64_t, std::int64_t> Flip(std::size_t i, std::size_t span) {
    const Cells& cells = *cells_;
    for (std::size_t j = i; j < i + span; ++j) {
      const double step = (cells.bits[j] != 0 ? -1.0 : 1.0) * line_.contrast;
      cells.ForEachColumn(j, [&](std::int64_t k, double w) { change_[k] += step * w; });
    }
    const auto k0 =
        std::max<std::int64_t>(static_cast<std::int64_t>(std::floor(cells.From(i))), cells.first);
    const auto k1 = std::min<std::int64_t>(
        static_cast<std::int64_t>(std::ceil(cells.From(i + span))), cells.last);
    return {k0 - cells.first, k1 - cells.first};
  }

  const PictureView picture_;
  int first_row_;
  int row_count_;
  bool usable_ = false;
  double period_ = 0.0;
  double low_ = 0.0;
  double high_ = 0.0;
  std::vector<double> sums_;
  std::optional<Cells> cells_;
  Line line_;
  std::vector<double> shares_;
  std::vector<double> residual_;
  std::vector<double> change_;
  double rms_ = 0.0;
};

}  // namespace

std::vector<int> BitsOf(const std::vector<std::uint8_t>& bytes,
                        const std::vector<std::uint8_t>& following) {
  std::vector<int> bits;
  bits.reserve((bytes.size() + following.size()) * 8);
  for (const auto* part : {&bytes, &following}) {
    for (const std::uint8_t byte : *part) {
      for (int b = 7; b >= 0; --b) bits.push_back((byte >> b) & 1);
    }
  }
  return bits;
}

BitEvidence WeighHeaderBits(const IplImage* image, int first_row, int row_count,
                            SatelliteType satellite_type, float sample_rate, int start_column,
                            std::int64_t phase_shift, const HeaderBits& read) {
  BitEvidence evidence;
  if (read.bytes.empty() || row_count < 1) return evidence;
  BitModel model(image, first_row, row_count, satellite_type, sample_rate, start_column,
                 phase_shift);
  const std::vector<int> bits = BitsOf(read.bytes, read.following);
  if (!model.Fit(bits)) return evidence;
  const std::size_t weighed = read.bytes.size() * 8;
  const double sigma = model.Sigma();
  double margin = std::numeric_limits<double>::infinity();
  model.ForEachNeighbour([&](std::size_t i, std::size_t, double gain, double distance) {
    if (i >= weighed) return;
    // A bit that no column sees is not read at all.
    const double z = distance > 1e-9 * model.Contrast() ? gain / (2.0 * sigma * distance) : 0.0;
    if (z < margin) {
      margin = z;
      evidence.weakest_bit = static_cast<int>(i);
    }
  });
  // With fewer samples than bits the columns do not tell the bits apart: readings that swap
  // bits within a column explain them alike, whatever the nearest ones say.
  evidence.margin = model.Period() < kMinSamplesPerBitToWeigh ? std::min(margin, 0.0) : margin;
  evidence.noise = model.Noise();
  evidence.bit_edge = model.Edge();
  evidence.row_agreement = model.RowAgreement();
  return evidence;
}

HeaderBits RefineHeaderBits(const IplImage* image, int first_row, int row_count,
                            SatelliteType satellite_type, float sample_rate, int start_column,
                            std::int64_t phase_shift, const HeaderBits& read) {
  if (read.bytes.empty() || row_count < 1) return read;
  BitModel model(image, first_row, row_count, satellite_type, sample_rate, start_column,
                 phase_shift);
  if (model.Period() < kMinSamplesPerBitToWeigh) return read;
  std::vector<int> bits = BitsOf(read.bytes, read.following);
  for (int round = 0; round < kRefineRounds && model.Fit(bits); ++round) {
    int flips = 0;
    for (; flips < static_cast<int>(bits.size()); ++flips) {
      double best_gain = 0.0;
      std::size_t best_i = 0;
      std::size_t best_span = 0;
      model.ForEachNeighbour([&](std::size_t i, std::size_t span, double gain, double) {
        if (gain < best_gain) {
          best_gain = gain;
          best_i = i;
          best_span = span;
        }
      });
      if (best_span == 0) break;
      model.Apply(bits, best_i, best_span);
    }
    if (flips == 0) break;
  }
  HeaderBits refined;
  const std::vector<std::uint8_t> bytes = BytesOf(bits);
  refined.bytes.assign(bytes.begin(),
                       bytes.begin() + static_cast<std::ptrdiff_t>(read.bytes.size()));
  refined.following.assign(bytes.begin() + static_cast<std::ptrdiff_t>(read.bytes.size()),
                           bytes.end());
  refined.text = HeaderText(refined.bytes, satellite_type);
  return refined;
}

}  // namespace tessaly
