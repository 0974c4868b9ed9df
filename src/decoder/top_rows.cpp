// The header band and the data rows: the band's dark edge row by row as a line through the
// rows, the data rows read along it and brought to one scale, and the samples of each that do
// not count (impulse noise, dropouts).
#include "decoder/top_rows.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "decoder/header_bytes.h"
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
// The bits of the line laid out before and after the header's.
constexpr double kLineBitsBefore = 2.0;
constexpr double kLineBitsAfter = 8.0 * (kMaxHeaderLength + 2);

double Quantile(std::vector<float> values, double q) {
  if (values.empty()) return 0.0;
  const auto at = values.begin() + static_cast<std::ptrdiff_t>(q * (values.size() - 1));
  std::nth_element(values.begin(), at, values.end());
  return *at;
}

// Samples at black or white, and how far impulse noise stands out of its neighbours.
constexpr double kImpulseLow = 5.0;
constexpr double kImpulseHigh = 250.0;
constexpr double kImpulseStep = 60.0;

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

// Where the header's bits surely lie along the line, in samples, whatever period fits them.
struct BitSpan {
  std::size_t from;
  std::size_t to;
};

BitSpan HeaderSpan(double period) {
  return {static_cast<std::size_t>((kLineBitsBefore + 1.0) * period),
          static_cast<std::size_t>((kLineBitsBefore + kHeaderBits - 4.0) * period)};
}

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

// See MarkImpulses.
constexpr double kMinSamplesPerBitForNarrowImpulses = 2.0;

}  // namespace

TopRows::TopRows(const PictureView& picture, bool negative)
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

double Median(std::vector<float> values) {
  if (values.empty()) return 0.0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

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

}  // namespace tessaly
