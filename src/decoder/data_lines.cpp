// The data-line decoder: each step of the frame analysis, and the cut.
#include "decoder/data_lines.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "base/doubt.h"
#include "base/errors.h"
#include "decoder/bit_decoder.h"
#include "decoder/complex_filter.h"
#include "decoder/header_bytes.h"
#include "decoder/picture_view.h"

namespace tessaly {
namespace {

constexpr double kStopToneFrequency = 450.0;
constexpr double kStopToneQ = 50.0;
// The block of similar rows at the top ends at a row darker than half of row 0, and holds
// at most 26 rows.
constexpr int kTopBlockPercent = 50;
constexpr int kMaxTopBlockLoop = 25;
// Data rows are at most 4, dark from 695/840 of the row after the start column for 92/840.
constexpr int kMaxDataRows = 4;
constexpr int kMeteosatDataRows = 2;
constexpr int kDataWindowStart = 695;
constexpr int kDataWindowCount = 92;
// Layout windows over the 18 rows after the data rows: B bright and C dark mark GMS.
constexpr int kLayoutRows = 18;
constexpr int kWindowBStart = 5;
constexpr int kWindowBCount = 35;
constexpr int kWindowCStart = 48;
constexpr int kWindowCCount = 36;
// The bottom scan never removes rows above these.
constexpr int kBelowToneScanLimit = 750;
constexpr int kToneScanLimit = 740;

// Positions along a row are kept in 840ths of its width.
int Position(int width, int k) {
  return static_cast<int>((std::int64_t{width} * k) / 840);
}

int RoundHalfEven(double value) {
  return static_cast<int>(std::nearbyint(value));
}

// How the top block and the layout windows are told from the levels.
enum class LevelRule {
  // As fractions of the levels themselves, which holds while black lies near grey 0: the
  // block ends at a row below half of row 0, window B is bright above half the white.
  kFromZero,
  // Between the dark and the bright level found, for frames whose black lies well above
  // grey 0 (a receiver's low gain): tried only for a header kFromZero does not read surely.
  kFromDark,
};

// Everything one analysis works with.
struct Analysis {
  Analysis(const PictureView& view, SatelliteType satellite_type, float sample_rate,
           LevelRule level_rule)
      : picture(view),
        type(satellite_type),
        rule(level_rule),
        filter(DesignToneFilter(sample_rate)),
        profile(static_cast<std::size_t>(view.width()), 0.0f) {}

  const PictureView& picture;
  SatelliteType type;
  LevelRule rule;
  ResonatorCoefficients filter;
  std::vector<float> profile;  // column sums, then means, of the top block
  std::vector<float> scratch;  // one row for the tone filter
  int black = 0;
  int white = 0;
  int mid() const { return (black + white) / 2; }
};

float MeasureTone(const std::uint16_t* row, int row_width, int count,
                  const ResonatorCoefficients& filter, std::vector<float>& data) {
  // Fewer than 10 samples measure nothing; a row outside the picture is silence, which
  // filters to exactly 0.
  if (count < 10 || row == nullptr) return 0.0f;
  data.assign(static_cast<std::size_t>(count), 0.0f);
  std::copy(row, row + std::clamp(row_width, 0, count), data.begin());
  FilterHistory input{};
  FilterHistory output{};
  ResonatorFilter(input, output, data.data(), filter.peak_gain, filter.feedback2, filter.feedback1,
                  count);
  float sum = 0.0f;
  for (int i = count - 1; i >= count - 1 - count / 10; --i) sum += std::fabs(data[i]);
  // Count div 10 + 1 samples are added but only count div 10 divide them.
  return static_cast<float>(static_cast<double>(sum) / (count / 10));
}

void MeanOfRow(const Analysis& a, int row, int start, int count, int& mean) {
  RunMean(a.picture.Row(row), a.picture.width(), start, count, mean);
}

float RowToneLevel(Analysis& a, int row) {
  return MeasureTone(a.picture.Row(row), a.picture.width(), a.picture.width(), a.filter, a.scratch);
}

// The darkest part of row 0 within the first tenth of the row, where the block turns bright:
// the darkest mean of runs of width / 80 columns.
int DarkOfRowZero(const Analysis& a) {
  const int width = a.picture.width();
  const int run = std::max(width / 80, 1);
  int darkest = std::numeric_limits<int>::max();
  for (int start = 0; start + run <= std::max(width / 10, run); start += run) {
    int mean = 0;
    MeanOfRow(a, 0, start, run, mean);
    darkest = std::min(darkest, mean);
  }
  return darkest;
}

// Rows similar to row 0: how many (1 to 26).
int CountTopRows(const Analysis& a, int picture_width) {
  int m0 = 0;
  int m1 = 0;
  MeanOfRow(a, 0, 0, picture_width, m0);
  const int dark = a.rule == LevelRule::kFromDark ? DarkOfRowZero(a) : 0;
  const auto similar = [&] {
    if (a.rule == LevelRule::kFromDark) return 2 * (m1 - dark) >= m0 - dark;
    return (m0 * kTopBlockPercent) / 100 <= m1;
  };
  int n = 0;
  do {
    ++n;
    MeanOfRow(a, n, 0, picture_width, m1);
  } while (similar() && n <= kMaxTopBlockLoop);
  return n;
}

// The top block's rows summed into the profile.
void SumTopRows(Analysis& a, int top_rows) {
  const int width = a.picture.width();
  for (int r = 0; r < top_rows; ++r) {
    if (const std::uint16_t* row = a.picture.Row(r)) {
      for (int c = 0; c < width; ++c) a.profile[c] += static_cast<float>(row[c]);
    }
  }
}

// Black: the darkest column of the block; white: its mean column, raised by 1000/960.
void FindLevels(Analysis& a, int top_rows) {
  std::int64_t black = 65535;
  std::int64_t sum = 0;
  for (float& entry : a.profile) {
    entry = entry / static_cast<float>(top_rows);
    const auto t = static_cast<std::int64_t>(entry);
    black = std::min(black, t);
    sum += t;
  }
  const std::int64_t width = a.picture.width();
  a.black = static_cast<int>(black);
  a.white = static_cast<int>((sum / width * 1000) / 960);
}

// Where the bright part of the block begins, moved back a little for the bit clock.
int FindStartColumn(const Analysis& a) {
  const int width = a.picture.width();
  const int mid = a.mid();
  int column = 0;
  do {
    ++column;
    if (static_cast<double>(a.profile[column]) > mid) break;
  } while (width / 10 >= column);
  const int back = a.type == SatelliteType::Meteosat ? (width * 4) / 1680 : width / 1680;
  return std::max(column - back, 0);
}

int CountDataRows(const Analysis& a, int first_row, int start_column) {
  if (a.type == SatelliteType::Meteosat) return kMeteosatDataRows;
  const int width = a.picture.width();
  const int start = start_column + Position(width, kDataWindowStart);
  const int count = Position(width, kDataWindowCount);
  const int mid = a.mid();
  int k = -1;
  int mean = 0;
  do {
    MeanOfRow(a, first_row + k + 1, start, count, mean);
    ++k;
  } while (mid >= mean && k < kMaxDataRows);
  return k;
}

void MeasureLayout(const Analysis& a, int first_row, int start_column, DataLinesResult& result) {
  const int width = a.picture.width();
  int sum_b = 0;
  int sum_c = 0;
  int mean_b = 0;
  int mean_c = 0;
  for (int r = first_row; r < first_row + kLayoutRows; ++r) {
    MeanOfRow(a, r, start_column + Position(width, kWindowBStart), Position(width, kWindowBCount),
              mean_b);
    MeanOfRow(a, r, start_column + Position(width, kWindowCStart), Position(width, kWindowCCount),
              mean_c);
    sum_b += mean_b;
    sum_c += mean_c;
  }
  result.window_b = sum_b / kLayoutRows;
  result.window_c = sum_c / kLayoutRows;
}

// GMS when window B is bright and C dark; otherwise GOES, whose dark window B gives the black.
void ChooseCoding(Analysis& a, DataLinesResult& result) {
  const bool from_dark = a.rule == LevelRule::kFromDark;
  const int half = from_dark ? a.mid() : a.white / 2;
  const int dark = from_dark ? a.black + (a.white - a.black) / 7 : a.white / 7;
  if (a.type == SatelliteType::Meteosat) {
    result.decoded_as = SatelliteType::Meteosat;
  } else if (half < result.window_b && half > result.window_c) {
    result.decoded_as = SatelliteType::GMS;
  } else {
    result.decoded_as = SatelliteType::GOES;
    if (dark > result.window_b) a.black = result.window_b;
  }
}

// Readings ranked by the characters their coding knows, then by the margin of their bits.
bool BetterReading(const DataLinesResult& a, const DataLinesResult& b) {
  const auto known = [](const DataLinesResult& r) {
    return static_cast<int>(r.header_text.size()) - r.unknown_characters;
  };
  if (known(a) != known(b)) return known(a) > known(b);
  return a.confidence > b.confidence;
}

// The decoder stands by a reading whose bits alone leave no doubt, in characters its coding
// knows.
bool Trusted(const DataLinesResult& result) {
  return result.confidence >= kDoubtfulBelow && result.unknown_characters == 0;
}

// Decodes the header of the data rows. The clock starts half a bit into the first bit; when
// the bits start half a bit before or after the start column, its first sample falls in the
// wrong bit or on an edge and every character is read from the wrong bits. So a reading the
// decoder does not stand by is read again with the clock half a bit earlier and later, the
// better reading's bits are refined against the rows (RefineHeaderBits), and the best
// reading is kept.
void DecodeHeader(const IplImage* image, int first_row, int row_count, float sample_rate,
                  DataLinesResult& result, Looks looks) {
  const auto weigh = [&](int half_bits, HeaderBits bits, DataLinesResult& into) {
    const std::int64_t phase_shift = half_bits * kHalfBitPhase;
    into.clock_shift = half_bits;
    into.unknown_characters = CountUnknownBytes(bits.bytes, into.decoded_as);
    into.evidence = WeighHeaderBits(image, first_row, row_count, into.decoded_as, sample_rate,
                                    into.start_column, phase_shift, bits);
    into.header_text = bits.text;
    into.header_bytes = bits.bytes;
    // A row taken for a data row that does not carry the bits, or bytes no header holds, leave
    // the reading unsure, however well the sum of the rows fits.
    into.confidence = into.evidence.row_agreement >= kMinRowAgreement &&
                              CouldBeHeaderBytes(bits.bytes, into.decoded_as)
                          ? into.evidence.margin
                          : std::min(into.evidence.margin, 0.0);
    return bits;
  };
  const auto read = [&](int half_bits, DataLinesResult& into) {
    return weigh(half_bits,
                 ReadHeaderBits(image, first_row, row_count, into.decoded_as, sample_rate,
                                into.start_column, half_bits * kHalfBitPhase),
                 into);
  };
  HeaderBits bits = read(0, result);
  if (row_count < 1 || Trusted(result) || looks == Looks::kFirst) return;
  // Another reading replaces the first only when the decoder stands by it.
  const DataLinesResult first = result;
  for (const int shift : {1, -1}) {
    DataLinesResult other = result;
    HeaderBits other_bits = read(shift, other);
    if (BetterReading(other, result)) {
      result = std::move(other);
      bits = std::move(other_bits);
    }
  }
  if (Trusted(result)) return;
  DataLinesResult refined = result;
  weigh(result.clock_shift,
        RefineHeaderBits(image, first_row, row_count, result.decoded_as, sample_rate,
                         result.start_column, result.clock_shift * kHalfBitPhase, bits),
        refined);
  if (BetterReading(refined, result)) result = std::move(refined);
  if (!Trusted(result)) result = first;
}

// Drops the rows below the stop tone, then the stop-tone rows, from the bottom up.
int TrimStopTone(Analysis& a, int picture_height) {
  const float threshold = static_cast<float>((a.white - a.black) / 4.0);
  int y = a.picture.height() - 1;
  bool tone = false;
  do {
    tone = RowToneLevel(a, y) > threshold;
    if (!tone) {
      --y;
      --picture_height;
    }
  } while (!tone && y >= kBelowToneScanLimit);
  do {
    tone = RowToneLevel(a, y) > threshold;
    if (tone) {
      --y;
      --picture_height;
    }
  } while (tone && y >= kToneScanLimit);
  return picture_height;
}

PictureRect ClippedCut(const PictureView& picture, const DataLinesResult& result) {
  PictureRect cut;
  if (result.picture_height < 5) return cut;
  const std::int64_t right = std::min<std::int64_t>(
      std::int64_t{result.start_column} + result.picture_width, picture.width());
  const std::int64_t bottom = std::min<std::int64_t>(
      std::int64_t{result.first_picture_row} + result.picture_height, picture.height());
  cut.x = result.start_column;
  cut.y = result.first_picture_row;
  cut.width = static_cast<int>(std::max<std::int64_t>(right - cut.x, 0));
  cut.height = static_cast<int>(std::max<std::int64_t>(bottom - cut.y, 0));
  if (cut.empty()) cut = PictureRect();
  return cut;
}

void Analyse(Analysis& a, DataLinesResult& result, const IplImage* image, float sample_rate,
             Looks looks) {
  result.top_rows = CountTopRows(a, result.picture_width);
  SumTopRows(a, result.top_rows);
  FindLevels(a, result.top_rows);
  result.start_column = FindStartColumn(a);
  int n = result.top_rows;
  const int k = CountDataRows(a, n, result.start_column);
  result.data_rows = k;
  MeasureLayout(a, n + k, result.start_column, result);
  ChooseCoding(a, result);
  DecodeHeader(image, n, k, sample_rate, result, looks);
  n += k;
  result.first_picture_row = n;
  int picture_height = TrimStopTone(a, a.picture.height() - n);
  picture_height = std::min(picture_height, kMaxPictureHeight);
  if (a.type == SatelliteType::Meteosat) picture_height = kMaxPictureHeight;
  result.picture_height = picture_height;
  result.black_level = a.black;
  result.white_level = a.white;
  result.cut = ClippedCut(a.picture, result);
}

}  // namespace

IplImagePtr CutPicture(const IplImage& image, const PictureRect& cut) {
  IplImagePtr picture(iplCreateImageHeader(1, 0, kIplDepth16U, "GRAY", "GRAY", kIplDataOrderPixel,
                                           kIplOriginTopLeft, kIplAlignQword, cut.width, cut.height,
                                           nullptr, nullptr, nullptr, nullptr));
  iplAllocateImage(picture.get(), 0, 0);
  // A borrowed header carries the region, so the caller's image is never touched.
  IplImage view = image;
  IplROI region{0, cut.x, cut.y, cut.width, cut.height};
  view.roi = &region;
  iplCopy(&view, picture.get());
  return picture;
}

ResonatorCoefficients DesignToneFilter(float sample_rate) {
  const double rate = std::nearbyint(static_cast<double>(sample_rate));
  if (!(rate >= 1.0 && rate <= std::numeric_limits<int>::max())) {
    throw Error("The tone filter needs a sample rate of at least 1");
  }
  ResonatorCoefficients filter;
  DesignResonator(static_cast<int>(rate), filter.peak_gain, filter.feedback2, kStopToneFrequency,
                  kStopToneQ, filter.feedback1);
  return filter;
}

void RunMean(const std::uint16_t* row, int row_width, int start, int count, int& mean) {
  if (count < 1) return;
  float sum = 0.0f;
  // Samples outside the row add 0, which leaves a float sum as it is.
  const std::int64_t first = std::max<std::int64_t>(start, 0);
  const std::int64_t last =
      std::min<std::int64_t>(std::int64_t{start} + count, row != nullptr ? row_width : 0);
  for (std::int64_t c = first; c < last; ++c) sum += static_cast<float>(row[c]);
  mean = RoundHalfEven(static_cast<double>(sum) / count);
}

float ToneLevel(const std::uint16_t* row, int row_width, int count,
                const ResonatorCoefficients& filter) {
  std::vector<float> data;
  return MeasureTone(row, row_width, count, filter, data);
}

DataLinesResult AnalyseDataLines(const IplImage* image, float sample_rate,
                                 SatelliteType satellite_type, Looks looks) {
  const PictureView picture(image);
  DataLinesResult result;
  result.picture_width = Position(picture.width(), 800);
  if (picture.width() < kMinDecodableWidth) return result;
  result.decoded = true;
  Analysis analysis(picture, satellite_type, sample_rate, LevelRule::kFromZero);
  Analyse(analysis, result, image, sample_rate, looks);
  if (Trusted(result) || looks == Looks::kFirst) return result;
  // A frame whose black lies well above grey 0 has data rows brighter than half of row 0,
  // which the first rule takes into the top block.
  Analysis from_dark(picture, satellite_type, sample_rate, LevelRule::kFromDark);
  if (CountTopRows(from_dark, result.picture_width) == result.top_rows) return result;
  DataLinesResult second = result;
  Analyse(from_dark, second, image, sample_rate, looks);
  return Trusted(second) ? second : result;
}

void DecodeDataLines(IplImage*& image, int& picture_width, int& picture_height, int& black_level,
                     int& white_level, int& start_column, std::string& header_text,
                     float sample_rate, SatelliteType satellite_type) {
  DataLinesResult result = AnalyseDataLines(image, sample_rate, satellite_type);
  if (!result.cut.empty()) {
    IplImage* picture = CutPicture(*image, result.cut).release();
    iplDeallocate(image, kIplImageAll);
    image = picture;
  }
  picture_width = result.picture_width;
  picture_height = result.picture_height;
  black_level = result.black_level;
  white_level = result.white_level;
  start_column = result.start_column;
  header_text = std::move(result.header_text);
}

}  // namespace tessaly
