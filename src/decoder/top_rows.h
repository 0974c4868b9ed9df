// The header band and the data rows after it, found wherever reception and later copies left
// them: phasing errors, slant, negatives, rescaling, impulse noise, static and dropouts on some
// data rows. Used by the second look.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "decoder/bit_decoder.h"
#include "decoder/picture_view.h"

namespace tessaly {

// The header's bits.
inline constexpr int kHeaderBits = 8 * kMaxHeaderLength;
// The bit period may be longer than the row's width gives by up to kMaxPeriodScale (a frame
// cut at the left) or a little shorter (a rescaled one, its width rounded).
inline constexpr double kMinPeriodScale = 0.996;
inline constexpr double kMaxPeriodScale = 1.065;

// The middle one of `values` (the upper of the two middle ones of an even count); 0 for none.
double Median(std::vector<float> values);

// The rows at the top of a frame (enough for one stored at twice its size) in grey levels,
// turned round for a negative frame.
class TopRows {
 public:
  TopRows(const PictureView& picture, bool negative);
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

// Impulse noise sets single samples to black or white. Where a bit spans more than
// kMinSamplesPerBitForImpulses samples, such a sample that stands out of both neighbours in its
// row is no bit, and where it stands out of the row above or below too it is no edge of the band
// or the data rows either (the data rows carry the same bits one below another): it takes the
// median of its four neighbours.
inline constexpr double kMinSamplesPerBitForImpulses = 2.5;
void TakeOutImpulses(TopRows& rows);

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
std::optional<Band> FindBand(const TopRows& rows, double period);

// Which samples of each row count: a row's samples where it dropped out do not.
using Dropped = std::vector<std::vector<char>>;

// The rows' mean where they count; 0.5 (between dark and bright) where none does.
std::vector<float> MeanOf(const std::vector<std::vector<float>>& rows, const Dropped& dropped);

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
DataLine DataRows(const TopRows& rows, const Band& band, double period);

// The data rows brought to the scale of their mean's dark (0) and bright (1), each by its own
// offset and gain (fading, rows blurred into the band); rows that carry a fifth of the
// contrast or less are left out. No rows when the rows show no bits.
DataLine OnTheLineScale(DataLine data, double period);

// Impulse noise sets single samples to black or white. A suspect sample (see DataLine) that
// another data row's sample lies far from (in a row that is not noisy) cannot carry the same bit:
// it does not count (both do not where both are suspect). Where the rows agree on it, it may still
// be impulse noise in each. Where a bit spans two samples or more, even a copy by nearest-neighbour
// sampling leaves it two whole samples, so a bright sample and its two neighbours hold two samples'
// worth of it: a bright sample whose neighbours (in the rows where they count) add much less
// is no bit, nor a dark one. Where bits span under kMinSamplesPerBitForImpulses samples, this
// is all that is taken out.
void MarkImpulses(DataLine& line, double shortest);

// A header's zero bits never run longer than kLongestZeroRun: where a row stays dark longer
// while another row is bright there, it dropped out, and its samples there (and a bit either
// side) do not count. `shortest` is the shortest bit period the frame may have. Where every row
// is dark, nothing tells a dropout from zero bits; a reading of bytes no header holds is
// doubtful then (CouldBeHeaderBytes).
Dropped DroppedSamples(const std::vector<std::vector<float>>& rows, double shortest);

}  // namespace tessaly
