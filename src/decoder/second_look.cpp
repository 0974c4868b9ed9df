// The second look: the band's dark edge row by row, the data rows after it aligned on that
// edge and laid over one another with weights for their noise and their dropouts, then the bit
// start and period fitted and the line read.
#include "decoder/second_look.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>

#include "base/doubt.h"
#include "decoder/bit_decoder.h"
#include "decoder/header_bytes.h"
#include "decoder/line_evidence.h"
#include "decoder/picture_view.h"
#include "picture_store/samples.h"

namespace tessaly {
namespace {

// Rows looked at from the top, the longest band taken, and rows after it that may be data
// rows: enough for a frame stored at twice its size.
constexpr int kTopRows = 160;
constexpr int kMaxBandRows = 120;
constexpr int kDataRowsScanned = 12;
// The band's dark stretch (the phasing part of the row) is at most this share of the row.
constexpr double kMaxDarkShare = 0.2;
// Band and data rows are told apart from a band whose bright and dark lie at least this far
// apart, in grey levels.
constexpr double kMinBandContrast = 20.0;
// A data row's bits correlate with the first data row's at least this much.
constexpr double kMinRowCorrelation = 0.4;
// The header's bits, and the bits of the line laid out before and after them.
constexpr int kHeaderBits = 8 * kMaxHeaderLength;
constexpr double kLineBitsBefore = 2.0;
constexpr double kLineBitsAfter = 8.0 * (kMaxHeaderLength + 2);
// Each data row's noise is measured over stretches of this many bits.
constexpr double kNoiseStretchBits = 16.0;
// The bit period may be longer than the row's width gives by up to kMaxPeriodScale (a frame
// cut at the left) or a little shorter (a rescaled one, its width rounded).
constexpr double kMinPeriodScale = 0.996;
constexpr double kMaxPeriodScale = 1.065;
// The line is written into the working picture's sample range between these.
constexpr double kLineDark = 2000.0;
constexpr double kLineContrast = 12000.0;

double Median(std::vector<float> values) {
  if (values.empty()) return 0.0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

double Quantile(std::vector<float> values, double q) {
  if (values.empty()) return 0.0;
  const auto at = values.begin() + static_cast<std::ptrdiff_t>(q * (values.size() - 1));
  std::nth_element(values.begin(), at, values.end());
  return *at;
}

// The top rows in grey levels, turned round for a negative frame.
class TopRows {
 public:
  TopRows(const PictureView& picture, bool negative)
      : width_(picture.width()), count_(std::min(picture.height(), kTopRows)) {
    values_.resize(static_cast<std::size_t>(width_) * count_);
    for (int y = 0; y < count_; ++y) {
      const std::uint16_t* row = picture.Row(y);
      for (int x = 0; x < width_; ++x) {
        const double grey = static_cast<double>(row[x]) / kSamplesPerGrey;
        Row(y)[x] = static_cast<float>(negative ? 255.0 - grey : grey);
      }
    }
  }
  int width() const { return width_; }
  int count() const { return count_; }
  float* Row(int y) { return values_.data() + static_cast<std::ptrdiff_t>(y) * width_; }
  const float* Row(int y) const { return values_.data() + static_cast<std::ptrdiff_t>(y) * width_; }
  std::vector<float> Copy(int y) const { return {Row(y), Row(y) + width_}; }

 private:
  int width_;
  int count_;
  std::vector<float> values_;
};

// Impulse noise sets single samples to black or white. Where a bit spans more than two samples,
// such a sample that stands out of both neighbours in its row is no bit, and where it stands
// out of the row above or below too it is no edge of the band or the data rows either (the
// data rows carry the same bits one below another): it takes the median of its four neighbours.
constexpr double kImpulseLow = 5.0;
constexpr double kImpulseHigh = 250.0;
constexpr double kImpulseStep = 60.0;
constexpr double kMinSamplesPerBitForImpulses = 2.5;

void TakeOutImpulses(TopRows& rows) {
  const int width = rows.width();
  std::vector<std::vector<float>> before;
  for (int y = 0; y < rows.count(); ++y) before.push_back(rows.Copy(y));
  for (int y = 1; y + 1 < rows.count(); ++y) {
    for (int x = 0; x < width; ++x) {
      const float v = before[y][x];
      if (v > kImpulseLow && v < kImpulseHigh) continue;
      std::array<float, 4> around = {before[y][(x + width - 1) % width], before[y][(x + 1) % width],
                                     before[y - 1][x], before[y + 1][x]};
      const auto apart = [&](float n) { return std::fabs(n - v) > kImpulseStep; };
      if (!apart(around[0]) || !apart(around[1]) || !(apart(around[2]) || apart(around[3]))) {
        continue;
      }
      std::sort(around.begin(), around.end());
      rows.Row(y)[x] = (around[1] + around[2]) / 2.0f;
    }
  }
}

// A row averaged over `half` columns each side, taken round.
std::vector<float> Smoothed(const float* row, int width, int half) {
  std::vector<float> out(static_cast<std::size_t>(width));
  double sum = 0.0;
  const auto at = [&](int x) { return row[((x % width) + width) % width]; };
  for (int x = -half; x <= half; ++x) sum += at(x);
  for (int x = 0; x < width; ++x) {
    out[x] = static_cast<float>(sum / (2 * half + 1));
    sum += at(x + half + 1) - at(x - half);
  }
  return out;
}

// Where the longest stretch below `mid` ends, taken round the row, between columns; nothing
// when the row has no such stretch or one too long for the band's dark part.
std::optional<double> DarkStretchEnd(const std::vector<float>& row, double mid) {
  const int width = static_cast<int>(row.size());
  const auto bright = std::find_if(row.begin(), row.end(), [&](float v) { return v >= mid; });
  if (bright == row.end()) return std::nullopt;
  const int from = static_cast<int>(bright - row.begin());
  int best_length = 0;
  int best_end = 0;
  int length = 0;
  for (int k = 1; k <= width; ++k) {
    const int x = (from + k) % width;
    if (row[x] < mid) {
      ++length;
    } else {
      if (length > best_length) {
        best_length = length;
        best_end = from + k;
      }
      length = 0;
    }
  }
  if (best_length < 2 || best_length > kMaxDarkShare * width) return std::nullopt;
  const float below = row[(best_end - 1) % width];
  const float above = row[best_end % width];
  return best_end - 1 + (mid - below) / std::max(above - below, 1e-3f);
}

// The band of rows like row 0 at the top, its levels, and its dark part's end row by row as a
// line: end = edge + slope x row (phasing turns every row alike, slant each a little more).
struct Band {
  int rows = 0;
  double bright = 0.0;
  double dark = 0.0;
  double edge = 0.0;
  double slope = 0.0;
  double EdgeAt(int y) const { return edge + slope * y; }
};

// The line through the band's edges, robust to a few rows that lost their edge to noise.
void FitEdgeLine(const std::vector<std::pair<int, double>>& edges, int width, Band& band) {
  std::vector<double> unwrapped;
  for (std::size_t i = 0; i < edges.size(); ++i) {
    double e = edges[i].second;
    if (i > 0) e += width * std::round((unwrapped.back() - e) / width);
    unwrapped.push_back(e);
  }
  const std::size_t step = std::max<std::size_t>(edges.size() / 2, 1);
  std::vector<float> slopes;
  for (std::size_t i = 0; i + step < edges.size(); ++i) {
    slopes.push_back(static_cast<float>((unwrapped[i + step] - unwrapped[i]) /
                                        (edges[i + step].first - edges[i].first)));
  }
  band.slope = Median(slopes);
  std::vector<float> intercepts;
  for (std::size_t i = 0; i < edges.size(); ++i) {
    intercepts.push_back(static_cast<float>(unwrapped[i] - band.slope * edges[i].first));
  }
  band.edge = Median(intercepts);
}

// A row of the band is evenly bright over nearly all of it, measured against its own darkest
// stretch and brightest parts (a fade dims some rows more than others); a data row's zero bits
// darken a quarter of it or more, and a row that a rescaled copy blended from the band and a
// data row is half as bright there.
bool LikeTheBand(const std::vector<float>& smoothed) {
  const double dark = *std::min_element(smoothed.begin(), smoothed.end());
  const double bright = Quantile(smoothed, 0.95);
  return bright - dark >= kMinBandContrast / 2 &&
         Quantile(smoothed, 0.25) - dark >= 0.75 * (bright - dark);
}

std::optional<Band> FindBand(const TopRows& rows, double period) {
  const int half = std::max(1, static_cast<int>(period / 2));
  std::vector<std::vector<float>> smoothed;
  smoothed.push_back(Smoothed(rows.Row(0), rows.width(), half));
  Band band;
  band.bright = Median(smoothed[0]);
  band.dark = *std::min_element(smoothed[0].begin(), smoothed[0].end());
  if (band.bright - band.dark < kMinBandContrast || !LikeTheBand(smoothed[0])) return std::nullopt;
  for (int y = 1; y < std::min(rows.count(), kMaxBandRows); ++y) {
    std::vector<float> row = Smoothed(rows.Row(y), rows.width(), half);
    if (!LikeTheBand(row)) break;
    smoothed.push_back(std::move(row));
  }
  band.rows = static_cast<int>(smoothed.size());
  // The band's first and last rows may be blurred into what lies beyond them.
  const int from = band.rows > 2 ? 1 : 0;
  const int to = band.rows > 2 ? band.rows - 1 : band.rows;
  std::vector<std::pair<int, double>> edges;
  for (int y = from; y < to; ++y) {
    const std::vector<float>& row = smoothed[static_cast<std::size_t>(y)];
    const double mid = (Median(row) + *std::min_element(row.begin(), row.end())) / 2.0;
    if (const auto end = DarkStretchEnd(row, mid)) edges.emplace_back(y, *end);
  }
  if (edges.empty()) return std::nullopt;
  FitEdgeLine(edges, rows.width(), band);
  return band;
}

// Where a row's line begins: the whole column kLineBitsBefore bits before its band edge, so
// that the line holds the row's own samples (a shift between columns would blur the bits).
std::int64_t LineStart(const Band& band, int y, double period) {
  return std::llround(band.EdgeAt(y) - kLineBitsBefore * period);
}

// One row along the line from `first`, taken round the row (a phasing error turns it).
std::vector<float> AlongTheLine(const TopRows& rows, int y, std::int64_t first, double period) {
  const auto length =
      static_cast<std::size_t>((kLineBitsBefore + kLineBitsAfter) * period * kMaxPeriodScale);
  std::vector<float> line(length);
  const float* row = rows.Row(y);
  const std::int64_t width = rows.width();
  for (std::size_t i = 0; i < length; ++i) {
    const std::int64_t x = (first + static_cast<std::int64_t>(i)) % width;
    line[i] = row[x < 0 ? x + width : x];
  }
  return line;
}

double Correlation(const std::vector<float>& a, const std::vector<float>& b, std::size_t from,
                   std::size_t to) {
  const double n = static_cast<double>(to - from);
  double ma = 0.0;
  double mb = 0.0;
  for (std::size_t i = from; i < to; ++i) {
    ma += a[i];
    mb += b[i];
  }
  ma /= n;
  mb /= n;
  double ab = 0.0;
  double aa = 0.0;
  double bb = 0.0;
  for (std::size_t i = from; i < to; ++i) {
    ab += (a[i] - ma) * (b[i] - mb);
    aa += (a[i] - ma) * (a[i] - ma);
    bb += (b[i] - mb) * (b[i] - mb);
  }
  return aa > 0.0 && bb > 0.0 ? ab / std::sqrt(aa * bb) : 0.0;
}

// Which samples of each row count: a row's samples where it dropped out do not.
using Dropped = std::vector<std::vector<char>>;

// The rows' mean where they count; 0.5 (between dark and bright) where none does.
std::vector<float> MeanOf(const std::vector<std::vector<float>>& rows, const Dropped& dropped) {
  std::vector<float> mean(rows.front().size(), 0.5f);
  for (std::size_t i = 0; i < mean.size(); ++i) {
    double sum = 0.0;
    int count = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      if (dropped.empty() || dropped[r][i] == 0) {
        sum += rows[r][i];
        ++count;
      }
    }
    if (count > 0) mean[i] = static_cast<float>(sum / count);
  }
  return mean;
}

// Where the header's bits surely lie along the line, in samples, whatever period fits them.
struct BitSpan {
  std::size_t from;
  std::size_t to;
};

BitSpan HeaderSpan(double period) {
  return {static_cast<std::size_t>((kLineBitsBefore + 1.0) * period),
          static_cast<std::size_t>((kLineBitsBefore + kHeaderBits - 4.0) * period)};
}

// The rows after the band whose bits are those of the first dark one: data rows carry the same
// bits; a row hidden in part by static or a dropout still carries most of them.
struct DataLine {
  std::vector<std::vector<float>> rows;
  // Samples black or white in the picture and far from a neighbour in their row (a row clipped
  // at black or white stays near its neighbours): what impulse noise leaves.
  Dropped suspect;
  std::vector<char> noisy;  // rows whose samples are no impulses, see kMaxImpulseShare
  Dropped impulses;         // of the suspect samples, those taken for impulse noise
  double edge = 0.0;        // the band edge along the line, for the first data row
};

// A row with this share of its samples black or white or more is noisy, clipped or has few
// grey levels: its samples are no impulses, and all count (weighed by the row's noise).
constexpr double kMaxImpulseShare = 1.0 / 3.0;

void MarkSuspects(DataLine& found) {
  for (const std::vector<float>& row : found.rows) {
    std::vector<char>& marks = found.suspect.emplace_back(row.size(), 0);
    const auto rail = [](float v) { return v <= kImpulseLow || v >= kImpulseHigh; };
    found.noisy.push_back(std::count_if(row.begin(), row.end(), rail) >=
                          kMaxImpulseShare * static_cast<double>(row.size()));
    if (found.noisy.back() != 0) continue;
    for (std::size_t i = 0; i < row.size(); ++i) {
      const float v = row[i];
      if (!rail(v)) continue;
      marks[i] = (i > 0 && std::fabs(row[i - 1] - v) > kImpulseStep) ||
                 (i + 1 < row.size() && std::fabs(row[i + 1] - v) > kImpulseStep);
    }
  }
}

DataLine DataRows(const TopRows& rows, const Band& band, double period) {
  const BitSpan span = HeaderSpan(period);
  DataLine found;
  std::vector<std::vector<float>>& data = found.rows;
  int misses = 0;
  for (int y = band.rows; y < std::min(rows.count(), band.rows + kDataRowsScanned); ++y) {
    const std::int64_t first = LineStart(band, y, period);
    std::vector<float> line = AlongTheLine(rows, y, first, period);
    // The edge found between two samples lies half a column further on where a column
    // covers [c, c + 1), as the bit grids have it.
    if (data.empty()) found.edge = band.EdgeAt(y) + 0.5 - static_cast<double>(first);
    const std::vector<float> bits(line.begin() + static_cast<std::ptrdiff_t>(span.from),
                                  line.begin() + static_cast<std::ptrdiff_t>(span.to));
    // Zero bits leave a data row dark over a good part of it (an EBCDIC header, over less
    // than half), against its own levels (a fade dims some rows more than others).
    const double low = Quantile(bits, 0.02);
    const double high = Quantile(bits, 0.98);
    const bool dark = high - low >= kMinBandContrast / 2 && Quantile(bits, 0.25) < (low + high) / 2;
    const bool same =
        !data.empty() && Correlation(line, data.front(), span.from, span.to) >= kMinRowCorrelation;
    if (dark && (data.empty() || same)) {
      data.push_back(std::move(line));
      misses = 0;
    } else if (!data.empty() && ++misses == 2) {
      break;
    }
  }
  MarkSuspects(found);
  return found;
}

// Least-squares offset and gain of `row` against `model` over the span, `skip`ped samples left
// out.
std::pair<double, double> FitRow(const std::vector<float>& row, const std::vector<char>& skip,
                                 const std::vector<float>& model, const BitSpan& span) {
  double n = 0.0;
  double mr = 0.0;
  double mm = 0.0;
  for (std::size_t i = span.from; i < span.to; ++i) {
    if (skip[i] != 0) continue;
    n += 1.0;
    mr += row[i];
    mm += model[i];
  }
  if (n < 2.0) return {0.0, 0.0};
  mr /= n;
  mm /= n;
  double rm = 0.0;
  double m2 = 0.0;
  for (std::size_t i = span.from; i < span.to; ++i) {
    if (skip[i] != 0) continue;
    rm += (row[i] - mr) * (model[i] - mm);
    m2 += (model[i] - mm) * (model[i] - mm);
  }
  const double gain = m2 > 0.0 ? rm / m2 : 0.0;
  return {mr - gain * mm, gain};
}

// The data rows brought to the scale of their mean's dark (0) and bright (1), each by its own
// offset and gain (fading, rows blurred into the band); rows that carry a fifth of the
// contrast or less are left out. No rows when the rows show no bits.
DataLine OnTheLineScale(DataLine data, double period) {
  const BitSpan span = HeaderSpan(period);
  const std::vector<float> mean = MeanOf(data.rows, {});
  const std::vector<float> bits(mean.begin() + static_cast<std::ptrdiff_t>(span.from),
                                mean.begin() + static_cast<std::ptrdiff_t>(span.to));
  const double dark = Quantile(bits, 0.1);
  const double bright = Quantile(bits, 0.9);
  DataLine scaled;
  scaled.edge = data.edge;
  if (bright - dark < kMinBandContrast / 2) return scaled;
  std::vector<float> scale = mean;
  for (float& v : scale) v = static_cast<float>((v - dark) / (bright - dark));
  for (std::size_t r = 0; r < data.rows.size(); ++r) {
    std::vector<float>& row = data.rows[r];
    const auto [offset, gain] = FitRow(row, data.suspect[r], scale, span);
    if (gain < 0.2 * (bright - dark)) continue;
    for (float& v : row) v = static_cast<float>((v - offset) / gain);
    scaled.rows.push_back(std::move(row));
    scaled.suspect.push_back(std::move(data.suspect[r]));
    scaled.noisy.push_back(data.noisy[r]);
  }
  return scaled;
}

// Impulse noise sets single samples to black or white. A suspect sample (see DataLine) that
// another data row's sample lies far from (in a row that is not noisy) cannot carry the same bit:
// it does not count (both do not where both are suspect). Where the rows agree on it, it may still
// be impulse noise in each. Where a bit spans two samples or more, even a copy by nearest-neighbour
// sampling leaves it two whole samples, so a bright sample and its two neighbours hold two samples'
// worth of it: a bright sample whose neighbours (in the rows where they count) add much less
// is no bit, nor a dark one. Where bits span under kMinSamplesPerBitForImpulses samples, this
// is all that is taken out.
constexpr double kMinSamplesPerBitForNarrowImpulses = 2.0;

void MarkImpulses(DataLine& line, double shortest) {
  const std::vector<std::vector<float>>& rows = line.rows;
  line.impulses = line.suspect;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t i = 0; i < rows[r].size(); ++i) {
      bool apart = false;
      for (std::size_t other = 0; other < rows.size(); ++other) {
        apart = apart || (line.noisy[other] == 0 && std::fabs(rows[other][i] - rows[r][i]) > 0.5f);
      }
      line.impulses[r][i] = line.suspect[r][i] != 0 && apart;
    }
  }
  if (shortest < kMinSamplesPerBitForNarrowImpulses) return;
  const std::vector<float> mean = MeanOf(rows, line.impulses);
  const double least = kMinSamplesPerBitForNarrowImpulses - 0.4;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t i = 1; i + 1 < mean.size(); ++i) {
      if (line.suspect[r][i] == 0 || line.impulses[r][i] != 0) continue;
      const auto share = [&](float v) {
        const double clamped = std::clamp(static_cast<double>(v), 0.0, 1.0);
        return rows[r][i] > 0.5f ? clamped : 1.0 - clamped;
      };
      if (share(rows[r][i]) + share(mean[i - 1]) + share(mean[i + 1]) < least) {
        line.impulses[r][i] = 1;
      }
    }
  }
}

// A header's zero bits never run longer than kLongestZeroRun: where a row stays dark longer
// while another row is bright there, it dropped out, and its samples there (and a bit either
// side) do not count. `shortest` is the shortest bit period the frame may have. Where every row
// is dark, nothing tells a dropout from zero bits; a reading of bytes no header holds is
// doubtful then (CouldBeHeaderBytes).
Dropped DroppedSamples(const std::vector<std::vector<float>>& rows, double shortest) {
  const int half = static_cast<int>(shortest / 2);
  std::vector<std::vector<float>> smooth;
  for (const std::vector<float>& row : rows) {
    smooth.push_back(Smoothed(row.data(), static_cast<int>(row.size()), half));
  }
  const auto longest = static_cast<std::size_t>((kLongestZeroRun + 1.5) * shortest);
  const auto margin = static_cast<std::size_t>(std::ceil(shortest));
  Dropped dropped(rows.size(), std::vector<char>(rows.front().size(), 0));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const std::size_t length = smooth[r].size();
    for (std::size_t i = 0; i < length;) {
      std::size_t end = i;
      while (end < length && smooth[r][end] < 0.5f) ++end;
      const auto bright = [&](const std::vector<float>& other) {
        return std::count_if(other.begin() + static_cast<std::ptrdiff_t>(i),
                             other.begin() + static_cast<std::ptrdiff_t>(end),
                             [](float v) { return v > 0.75f; }) >= 2;
      };
      bool elsewhere = false;
      for (std::size_t other = 0; other < rows.size(); ++other) {
        elsewhere = elsewhere || (other != r && bright(smooth[other]));
      }
      if (end - i >= longest && elsewhere) {
        std::fill(dropped[r].begin() + static_cast<std::ptrdiff_t>(i > margin ? i - margin : 0),
                  dropped[r].begin() + static_cast<std::ptrdiff_t>(std::min(end + margin, length)),
                  1);
      }
      i = end + 1;
    }
  }
  return dropped;
}

double Sample(const std::vector<float>& line, double x) {
  const double clamped = std::clamp(x, 0.0, static_cast<double>(line.size() - 1));
  const auto c = static_cast<std::size_t>(clamped);
  const double part = clamped - static_cast<double>(c);
  return c + 1 < line.size() ? (1.0 - part) * line[c] + part * line[c + 1] : line[c];
}

// How clearly the line's samples at the bit centres of a grid fall into two levels: the
// squared distance of the levels over their spread. A grid whose period is off drifts onto the
// bit edges and blurs them.
double Clarity(const std::vector<float>& line, double start, double period) {
  std::array<double, kHeaderBits> v{};
  double mean = 0.0;
  for (int i = 0; i < kHeaderBits; ++i) {
    v[i] = Sample(line, start + (i + 0.5) * period);
    mean += v[i] / kHeaderBits;
  }
  double threshold = mean;
  double low = 0.0;
  double high = 0.0;
  for (int round = 0; round < 4; ++round) {
    double sums[2] = {0.0, 0.0};
    int counts[2] = {0, 0};
    for (const double x : v) {
      sums[x > threshold] += x;
      ++counts[x > threshold];
    }
    if (counts[0] < kHeaderBits / 10 || counts[1] < kHeaderBits / 10) return 0.0;
    low = sums[0] / counts[0];
    high = sums[1] / counts[1];
    threshold = (low + high) / 2.0;
  }
  double spread = 0.0;
  for (const double x : v)
    spread += x > threshold ? (x - high) * (x - high) : (x - low) * (x - low);
  return (high - low) * (high - low) / (spread / kHeaderBits + 1e-6);
}

// The bit grid that reads the line most clearly: the bits' start near the band edge (a
// quarter bit before it in the GOES and GMS layouts, a whole bit in the Meteosat one) and the
// period from the row's own to one the width of a frame cut at the left gives.
struct Grid {
  double start = 0.0;
  double period = 0.0;
  double clarity = 0.0;
};

Grid FitGrid(const std::vector<float>& line, double edge, double nominal) {
  Grid best;
  const auto search = [&](double scale_from, double scale_to, double scale_step, double start_from,
                          double start_to, double start_step) {
    for (double scale = scale_from; scale <= scale_to + 1e-9; scale += scale_step) {
      const double period = nominal * scale;
      for (double start = start_from; start <= start_to + 1e-9; start += start_step * period) {
        const double clarity = Clarity(line, start, period);
        if (clarity > best.clarity) best = {start, period, clarity};
      }
    }
  };
  search(kMinPeriodScale, kMaxPeriodScale, 0.002, edge - 1.4 * nominal, edge + 0.5 * nominal,
         1.0 / 6.0);
  if (best.clarity <= 0.0) return best;
  const Grid coarse = best;
  const double scale = coarse.period / nominal;
  search(scale - 0.002, scale + 0.002, 0.0004, coarse.start - nominal / 6.0,
         coarse.start + nominal / 6.0, 1.0 / 24.0);
  return best;
}

// Where the line crosses the middle level between the centres of bits i and i + 1, samples
// standing for the middle of their columns; nothing when it does not cross there once.
std::optional<double> Crossing(const std::vector<float>& line, double from, double to) {
  const auto first = static_cast<std::int64_t>(std::floor(from - 0.5));
  const auto last = static_cast<std::int64_t>(std::ceil(to - 0.5));
  std::optional<double> found;
  for (std::int64_t j = std::max<std::int64_t>(first, 0);
       j < last && j + 1 < static_cast<std::int64_t>(line.size()); ++j) {
    const double a = line[static_cast<std::size_t>(j)] - 0.5;
    const double b = line[static_cast<std::size_t>(j + 1)] - 0.5;
    if ((a < 0.0) == (b < 0.0)) continue;
    if (found) return std::nullopt;
    found = static_cast<double>(j) + 0.5 + a / (a - b);
  }
  return found;
}

// The grid refined on the bit edges: where the line changes level between two bits read on
// the grid, the crossing lies a whole number of periods after the bits' start; start and
// period are fitted to those crossings by least squares, crossings far off the fit left out.
// Centres alone leave the period loose when a bit spans many samples.
Grid FitEdges(const std::vector<float>& line, const Grid& grid) {
  std::vector<std::pair<double, double>> edges;  // bit boundary, crossing
  int previous = Sample(line, grid.start + 0.5 * grid.period) > 0.5 ? 1 : 0;
  for (int i = 1; i < kHeaderBits; ++i) {
    const double centre = grid.start + (i + 0.5) * grid.period;
    const int bit = Sample(line, centre) > 0.5 ? 1 : 0;
    if (bit != previous) {
      if (const auto x = Crossing(line, centre - grid.period, centre)) edges.emplace_back(i, *x);
    }
    previous = bit;
  }
  Grid fitted = grid;
  for (int round = 0; round < 3; ++round) {
    double n = 0, sk = 0, sx = 0, skk = 0, skx = 0;
    for (const auto& [k, x] : edges) {
      if (round > 0 && std::fabs(x - fitted.start - k * fitted.period) > 0.3 * grid.period)
        continue;
      n += 1;
      sk += k;
      sx += x;
      skk += k * k;
      skx += k * x;
    }
    if (n < 20 || n * skk - sk * sk <= 0.0) return grid;
    fitted.period = (n * skx - sk * sx) / (n * skk - sk * sk);
    fitted.start = (sx - fitted.period * sk) / n;
  }
  // A fit that moved far from the grid it started from followed noise.
  if (std::fabs(fitted.period / grid.period - 1.0) > 0.01 ||
      std::fabs(fitted.start - grid.start) > 0.5 * grid.period) {
    return grid;
  }
  return fitted;
}

// The line as a working picture of one row, dark near kLineDark and bright kLineContrast above.
IplImagePtr LineImage(const std::vector<float>& line) {
  IplImagePtr image = MakeGray16Image(static_cast<int>(line.size()), 1);
  std::uint16_t* row = IplRow16(image.get(), 0);
  for (std::size_t i = 0; i < line.size(); ++i) {
    row[i] = static_cast<std::uint16_t>(
        std::clamp(std::lround(kLineDark + line[i] * kLineContrast), 0L, 65535L));
  }
  return image;
}

// A copy made by nearest-neighbour sampling moves each bit edge by up to half of one of its
// columns, at random: a reading is weighed both by the plain model of the cells and by one
// whose edges may stray a quarter of a bit (at most half a column), and the surer counts.
// Where a bit spans under kMinSamplesPerBitForSlack samples, nearly every column lies near an
// edge, and the few that do not say too little of the noise where the bits are told apart.
constexpr double kEdgeSlackShare = 0.25;
constexpr double kMaxEdgeSlack = 0.5;
constexpr double kMinSamplesPerBitForSlack = 1.5;

// The bit clock of `type` on the grid: its rate, start column and the shift of its phase
// that puts its first sample in the middle of the first bit.
struct ClockSetting {
  float rate;
  int start;
  std::int64_t shift;
};

ClockSetting ClockOn(const Grid& grid, SatelliteType type) {
  const auto rate = static_cast<float>(grid.period * MakeBitClock(type, 1.0f).bit_rate);
  const int start = static_cast<int>(std::floor(grid.start));
  const double first_phase = 0.5 - (grid.start - start) / grid.period;
  return {rate, start,
          std::llround(first_phase * 65536.0) - MakeBitClock(type, rate).initial_phase};
}

// Reads the line on the grid with the bit clock of `type`, its first sample in the middle of
// the first bit, and refines a reading the decoder does not stand by.
HeaderLook ReadLine(const std::vector<float>& line, const Grid& grid, SatelliteType type) {
  const IplImagePtr image = LineImage(line);
  // Plain names, not a structured binding: the lambda below takes them.
  const ClockSetting clock = ClockOn(grid, type);
  const float rate = clock.rate;
  const int start = clock.start;
  const std::int64_t shift = clock.shift;
  HeaderLook look;
  look.decoded_as = type;
  const auto weigh = [&](const HeaderBits& bits) {
    HeaderLook read = look;
    read.header_text = bits.text;
    read.header_bytes = bits.bytes;
    read.unknown_characters = CountUnknownBytes(bits.bytes, type);
    read.evidence = WeighHeaderBits(image.get(), 0, 1, type, rate, start, shift, bits);
    // The line's samples stand for the middle of their columns.
    const BitEvidence loose =
        grid.period < kMinSamplesPerBitForSlack
            ? BitEvidence{}
            : WeighLine(line, grid.start + 0.5, grid.period, BitsOf(bits.bytes, bits.following),
                        8 * bits.bytes.size(),
                        std::min(kMaxEdgeSlack, kEdgeSlackShare * grid.period));
    if (loose.margin > read.evidence.margin) read.evidence = loose;
    read.confidence = CouldBeHeaderBytes(bits.bytes, type) ? read.evidence.margin
                                                           : std::min(read.evidence.margin, 0.0);
    read.doubtful = !(read.confidence >= kDoubtfulBelow);
    return read;
  };
  const HeaderBits bits = ReadHeaderBits(image.get(), 0, 1, type, rate, start, shift);
  look = weigh(bits);
  if (!look.doubtful) return look;
  HeaderLook refined = weigh(RefineHeaderBits(image.get(), 0, 1, type, rate, start, shift, bits));
  return refined.confidence > look.confidence ? refined : look;
}

bool Surer(const HeaderLook& a, const HeaderLook& b) {
  const bool a_header = CouldBeHeaderBytes(a.header_bytes, a.decoded_as);
  const bool b_header = CouldBeHeaderBytes(b.header_bytes, b.decoded_as);
  if (a_header != b_header) return a_header;
  return a.confidence > b.confidence;
}

// A reading and the grid it was read on.
struct GridReading {
  HeaderLook look;
  Grid grid;
};

// Where each layout's bits start, in bits before the band's edge: the start column lies a
// 1680th of the row before the edge in the GOES and GMS layouts, four 1680ths in the Meteosat
// one (a quarter bit and a whole ASCII bit), both rounded down to whole columns; and how far a
// grid may lie from them.
constexpr double kBitsBeforeEdge = 0.125;
constexpr double kMeteosatBitsBeforeEdge = 0.9;
constexpr double kStartTolerance = 0.4;

// Bits read a whole bit early or late explain the row as well, so a grid is moved by whole
// bits to where the layouts start them: the moves for a grid whose first bit's middle is at
// `start`, each with the coding its reading is taken in. The GOES and Meteosat starts differ
// by only a quarter bit beside whole bits: both are read, and an ASCII reading a bit off holds
// bytes no header holds (its letters' second bit becomes the first). None when no start lies
// near.
struct Placement {
  double bits;  // whole bits the start moves by
  SatelliteType decoded_as;
};

std::vector<Placement> Placements(double start, double period, double edge, SatelliteType type) {
  const double before = (edge - start) / period;
  std::vector<Placement> placements;
  for (const double target : {kBitsBeforeEdge, kMeteosatBitsBeforeEdge}) {
    if (target == kMeteosatBitsBeforeEdge && type == SatelliteType::GMS) continue;
    const double whole = std::round(before - target);
    if (std::fabs(before - whole - target) > kStartTolerance) continue;
    if (!placements.empty() && placements.back().bits == whole) continue;
    placements.push_back({whole, type == SatelliteType::GOES && target == kMeteosatBitsBeforeEdge
                                     ? SatelliteType::Meteosat
                                     : type});
  }
  return placements;
}

// The surest reading of the line on the grid moved to each of its placements.
std::optional<GridReading> ReadOnTheGrid(const std::vector<float>& line, const Grid& grid,
                                         double edge, SatelliteType type) {
  std::optional<GridReading> best;
  for (const Placement& placement : Placements(grid.start, grid.period, edge, type)) {
    Grid placed = grid;
    placed.start = grid.start + placement.bits * grid.period;
    HeaderLook look = ReadLine(line, placed, type);
    look.decoded_as = placement.decoded_as;
    if (!best || Surer(look, best->look)) best = GridReading{std::move(look), placed};
  }
  return best;
}

// The grid whose reading the model of the bit cells fits best (the least noise), over the
// period's range in steps that drift a tenth of a bit over the header and the phase in quarter
// bits; the start a whole number of bits away is left to ReadOnTheGrid.
Grid FitByTheModel(const std::vector<float>& line, double edge, double nominal,
                   SatelliteType type) {
  const IplImagePtr image = LineImage(line);
  Grid best{edge, nominal, 0.0};
  double least = std::numeric_limits<double>::infinity();
  const double step = 0.1 / kHeaderBits;
  for (double scale = kMinPeriodScale; scale <= kMaxPeriodScale + 1e-9; scale += step) {
    for (int quarter = 0; quarter < 4; ++quarter) {
      const Grid grid{edge - (1.0 - 0.25 * quarter) * nominal * scale, nominal * scale, 0.0};
      const auto [rate, start, shift] = ClockOn(grid, type);
      const HeaderBits bits = ReadHeaderBits(image.get(), 0, 1, type, rate, start, shift);
      const BitEvidence evidence =
          WeighHeaderBits(image.get(), 0, 1, type, rate, start, shift, bits);
      if (evidence.margin != 0.0 && evidence.noise < least) {
        least = evidence.noise;
        best = grid;
      }
    }
  }
  best.clarity = 1.0;
  return best;
}

// Below this many samples a bit, a column mixes neighbouring bits and the centres of a grid
// tell little: the grid's phase is chosen by the reading it gives.
constexpr double kMinSamplesPerBitForClarity = 2.0;

// The surest reading of the line in the coding of `type`; nothing when no grid fits.
std::optional<GridReading> ReadInCoding(const std::vector<float>& line, double edge, double nominal,
                                        SatelliteType type) {
  if (nominal >= kMinSamplesPerBitForClarity) {
    const Grid grid = FitEdges(line, FitGrid(line, edge, nominal));
    if (grid.clarity <= 0.0) return std::nullopt;
    return ReadOnTheGrid(line, grid, edge, type);
  }
  return ReadOnTheGrid(line, FitByTheModel(line, edge, nominal, type), edge, type);
}

// Each row at the centres of the grid's bits.
std::vector<float> CellValues(const std::vector<float>& row, const Grid& grid) {
  std::vector<float> cells(kHeaderBits + 8);
  for (std::size_t i = 0; i < cells.size(); ++i) {
    cells[i] =
        static_cast<float>(Sample(row, grid.start + (static_cast<double>(i) + 0.5) * grid.period));
  }
  return cells;
}

// Where a row stays dark over more bits than a header's zero bits ever run while another row
// is bright among them, it dropped out: the bits it spans, as [first, last).
std::vector<std::pair<int, int>> Dropouts(const std::vector<std::vector<float>>& cells,
                                          std::size_t r) {
  std::vector<std::pair<int, int>> runs;
  const int count = static_cast<int>(cells[r].size());
  for (int i = 0; i < count;) {
    int end = i;
    while (end < count && cells[r][end] < 0.3f) ++end;
    if (end - i > kLongestZeroRun) {
      for (std::size_t other = 0; other < cells.size(); ++other) {
        const auto& o = cells[other];
        if (other != r &&
            std::count_if(o.begin() + i, o.begin() + end, [](float v) { return v > 0.6f; }) >= 2) {
          runs.emplace_back(i, end);
          break;
        }
      }
    }
    i = end + 1;
  }
  return runs;
}

// The rows laid over one another against a first reading of their bits: a row counts nowhere
// it dropped out, and is weighed by the inverse of its noise against the reading (the median
// of its bits' distances from their level), a stretch of it less where it is much noisier
// than the row (static); never more, since a stretch a dropout left flat fits zero bits well.
std::vector<float> Reweighed(const std::vector<std::vector<float>>& rows,
                             const Dropped& dropped_samples, const Grid& grid,
                             const std::vector<int>& bits) {
  std::vector<std::vector<float>> cells;
  for (const std::vector<float>& row : rows) cells.push_back(CellValues(row, grid));
  const std::size_t length = rows.front().size();
  std::vector<double> sum(length, 0.0);
  std::vector<double> weights(length, 0.0);
  const auto bit_of = [&](double x) {
    return static_cast<int>(std::floor((x - grid.start) / grid.period));
  };
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const int count = std::min<int>(static_cast<int>(bits.size()), kHeaderBits);
    std::vector<float> distance(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) distance[i] = std::fabs(cells[r][i] - bits[i]);
    const double row_sigma = std::max(Median(distance) / 0.6745, 0.03);
    std::vector<double> stretch_weight(static_cast<std::size_t>(count / 16 + 1));
    for (std::size_t s = 0; s < stretch_weight.size(); ++s) {
      const auto from =
          distance.begin() + static_cast<std::ptrdiff_t>(std::min(16 * s, distance.size()));
      const auto to =
          distance.begin() + static_cast<std::ptrdiff_t>(std::min(16 * s + 16, distance.size()));
      const double sigma = from < to ? std::max(Median({from, to}) / 0.6745, row_sigma) : row_sigma;
      stretch_weight[s] =
          sigma > 3.0 * row_sigma ? 1.0 / (sigma * sigma) : 1.0 / (row_sigma * row_sigma);
    }
    const std::vector<std::pair<int, int>> dropouts = Dropouts(cells, r);
    for (std::size_t x = 0; x < length; ++x) {
      const int bit = bit_of(static_cast<double>(x) + 0.5);
      const bool dropped = std::any_of(dropouts.begin(), dropouts.end(), [&](const auto& d) {
        return bit >= d.first - 1 && bit <= d.second;
      });
      if (dropped || dropped_samples[r][x] != 0) continue;
      const double w = stretch_weight[std::clamp(bit, 0, count - 1) / 16];
      sum[x] += w * rows[r][x];
      weights[x] += w;
    }
  }
  std::vector<float> line(length, 0.5f);
  for (std::size_t x = 0; x < length; ++x) {
    if (weights[x] > 0.0) line[x] = static_cast<float>(sum[x] / weights[x]);
  }
  return line;
}

// A copy made by nearest-neighbour sampling at a scale under 1 leaves one of the original's
// columns out now and then; where a bit spans under kMinSamplesPerBitForSlack columns, a bit
// may keep no column of its own, and a doubtful reading is read again through the copy's
// column map fitted to the line (FitColumnMap), its first bit placed as a grid's is, and
// weighed by the model of the cells on that map. The surest reading; nothing when no map fits
// or no start lies near.
std::optional<HeaderLook> LookThroughMap(const std::vector<float>& line, const Grid& grid,
                                         double band_edge, SatelliteType type) {
  constexpr std::size_t kBytes = kMaxHeaderLength + kFollowingBytes;
  constexpr std::size_t kWeighed = 8 * static_cast<std::size_t>(kMaxHeaderLength);
  const std::optional<MapFit> fit = FitColumnMap(line, grid.start + 0.5, grid.period, 8 * kBytes);
  if (!fit) return std::nullopt;
  std::optional<HeaderLook> best;
  // The map's edge is a column's edge, the grid's start a column's middle.
  for (const Placement& placement : Placements(fit->edge - 0.5, grid.period, band_edge, type)) {
    const double edge = fit->edge + placement.bits * grid.period;
    const std::vector<int> bits = ReadThroughMap(line, edge, grid.period, fit->map, 8 * kBytes);
    std::vector<std::uint8_t> bytes(kBytes, 0);
    for (std::size_t i = 0; i < bits.size(); ++i) {
      bytes[i / 8] |= static_cast<std::uint8_t>(bits[i] << (7 - i % 8));
    }
    HeaderLook look;
    look.decoded_as = placement.decoded_as;
    look.header_bytes.assign(bytes.begin(), bytes.begin() + kMaxHeaderLength);
    look.header_text = HeaderText(look.header_bytes, type);
    look.unknown_characters = CountUnknownBytes(look.header_bytes, type);
    look.evidence = WeighLine(line, edge, grid.period, bits, kWeighed, 0.0, fit->map);
    look.confidence = CouldBeHeaderBytes(look.header_bytes, type)
                          ? look.evidence.margin
                          : std::min(look.evidence.margin, 0.0);
    look.doubtful = !(look.confidence >= kDoubtfulBelow);
    if (!best || Surer(look, *best)) best = std::move(look);
  }
  return best;
}

}  // namespace

std::vector<HeaderLook> LookAgain(const IplImage* image, float sample_rate) {
  const PictureView picture(image);
  std::vector<HeaderLook> looks;
  if (picture.width() < kMinDecodableWidth || !(sample_rate > 0.0f)) return looks;
  // Lines are laid out for the longer, ASCII bit period and a frame cut at the left.
  const double period = sample_rate / MakeBitClock(SatelliteType::GOES, 1.0f).bit_rate;
  const double shortest = period * MakeBitClock(SatelliteType::GOES, 1.0f).bit_rate /
                          MakeBitClock(SatelliteType::GMS, 1.0f).bit_rate * kMinPeriodScale;
  for (const bool negative : {false, true}) {
    TopRows rows(picture, negative);
    if (shortest >= kMinSamplesPerBitForImpulses) TakeOutImpulses(rows);
    const std::optional<Band> band = FindBand(rows, period);
    if (!band) continue;
    DataLine found = DataRows(rows, *band, period);
    if (found.rows.empty()) return looks;
    DataLine line = OnTheLineScale(std::move(found), period);
    const std::vector<std::vector<float>>& scaled = line.rows;
    if (scaled.empty()) return looks;
    MarkImpulses(line, shortest);
    Dropped dropped = DroppedSamples(scaled, shortest);
    for (std::size_t r = 0; r < scaled.size(); ++r) {
      for (std::size_t i = 0; i < dropped[r].size(); ++i) dropped[r][i] |= line.impulses[r][i];
    }
    const std::vector<float> mean = MeanOf(scaled, dropped);
    const double edge = line.edge;
    for (const SatelliteType type : {SatelliteType::GOES, SatelliteType::GMS}) {
      const double nominal = sample_rate / MakeBitClock(type, 1.0f).bit_rate;
      const std::optional<GridReading> first = ReadInCoding(mean, edge, nominal, type);
      if (!first) continue;
      const std::vector<float> line =
          Reweighed(scaled, dropped, first->grid, BitsOf(first->look.header_bytes));
      const std::optional<GridReading> second = ReadOnTheGrid(line, first->grid, edge, type);
      if (!second) continue;
      HeaderLook look = second->look;
      if (look.doubtful && second->grid.period < kMinSamplesPerBitForSlack) {
        std::optional<HeaderLook> mapped = LookThroughMap(line, second->grid, edge, type);
        if (mapped && Surer(*mapped, look)) look = std::move(*mapped);
      }
      look.negative = negative;
      look.data_rows = static_cast<int>(scaled.size());
      look.period_scale = first->grid.period / nominal;
      looks.push_back(std::move(look));
    }
    break;
  }
  std::sort(looks.begin(), looks.end(), Surer);
  return looks;
}

void TakeHeader(const HeaderLook& look, DataLinesResult& found) {
  found.header_text = look.header_text;
  found.header_bytes = look.header_bytes;
  found.decoded_as = look.decoded_as;
  found.confidence = look.confidence;
  found.unknown_characters = look.unknown_characters;
  found.clock_shift = 0;
  found.evidence = look.evidence;
}

}  // namespace tessaly
