// The second look: the data rows found after the header band (decoder/top_rows.h) laid over one
// another with weights for their noise and their dropouts, then the bit start and period fitted
// and the line read.
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
#include "decoder/top_rows.h"

namespace tessaly {
namespace {

// The line is written into the working picture's sample range between these.
constexpr double kLineDark = 2000.0;
constexpr double kLineContrast = 12000.0;
// Each data row's noise is measured over stretches of this many bits.
constexpr int kNoiseStretchBits = 16;

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
    constexpr auto kStretch = static_cast<std::size_t>(kNoiseStretchBits);
    std::vector<double> stretch_weight(static_cast<std::size_t>(count / kNoiseStretchBits + 1));
    for (std::size_t s = 0; s < stretch_weight.size(); ++s) {
      const auto from =
          distance.begin() + static_cast<std::ptrdiff_t>(std::min(kStretch * s, distance.size()));
      const auto to = distance.begin() +
                      static_cast<std::ptrdiff_t>(std::min(kStretch * (s + 1), distance.size()));
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
      const double w = stretch_weight[std::clamp(bit, 0, count - 1) / kNoiseStretchBits];
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

// A copy made by nearest-neighbour sampling shows whole columns of the original, at a scale
// under 1 one now and then left out, above 1 one now and then twice. Where a bit spans under
// kMaxSamplesPerBitForMap columns of the copy, a bit may keep no column of its own, or its
// columns' values lie where neither the cells nor edges off the grid put them: a doubtful
// reading is read again through the copy's column map fitted to the line (FitColumnMap), its
// first bit placed as a grid's is, and weighed by the model of the cells on that map. The
// surest reading; nothing when no map fits or no start lies near.
constexpr double kMaxSamplesPerBitForMap = 2.5;

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
      if (look.doubtful && second->grid.period < kMaxSamplesPerBitForMap) {
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
