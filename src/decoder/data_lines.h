// The data-line decoder: finds the header block, levels, start column, data rows, layout and
// stop tone of a received WEFAX frame in its 16-bit working picture, decodes the header and
// cuts out the picture. Used by the per-file processing and the front ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoder/bit_confidence.h"
#include "decoder/satellite.h"
#include "picture_store/ipl.h"
#include "picture_store/samples.h"

namespace tessaly {

// Narrower working pictures are not decoded: 450 Hz is then at or above half the sample rate
// of 4 x width, so the stop tone cannot be measured.
inline constexpr int kMinDecodableWidth = 226;
// The white level reported for a picture that is not decoded (grey 255).
inline constexpr int kFullWhiteSample = SampleOfGrey(255);
inline constexpr int kMaxPictureHeight = 800;

// The stop-tone filter of one decoding: a 450 Hz resonator with Q 50.
struct ResonatorCoefficients {
  double peak_gain = 1.0;
  double feedback1 = 0.0;
  double feedback2 = 0.0;
};

// Designs the stop-tone filter for `sample_rate` rounded to an integer (halves to even).
// Throws Error for a rate below 1 or beyond the integers.
ResonatorCoefficients DesignToneFilter(float sample_rate);

// Mean of the `count` samples from column `start` of `row` (a row of `row_width` samples;
// nullptr for a row outside the picture), added one after another into a 32-bit float and
// rounded half to even. Samples outside the row count as 0 but still count. `mean` is left
// as it was when `count` is below 1.
void RunMean(const std::uint16_t* row, int row_width, int start, int count, int& mean);

// Level of 450 Hz content in the first `count` samples of `row` (0 outside the row): the
// mean absolute filter output over the last count div 10 + 1 samples, divided by count div
// 10. A count below 10 measures nothing and gives 0.
float ToneLevel(const std::uint16_t* row, int row_width, int count,
                const ResonatorCoefficients& filter);

struct PictureRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool empty() const { return width <= 0 || height <= 0; }
};

// Everything the decoder finds in a frame.
struct DataLinesResult {
  int picture_width = 0;   // (width x 800) div 840
  int picture_height = 0;  // picture rows found, at most 800 (not clipped to the frame)
  int black_level = 0;     // levels for the output stretch, in sample units
  int white_level = kFullWhiteSample;
  int start_column = 0;     // first column of the picture and of the header bits
  std::string header_text;  // 0 to 25 Latin-1 characters
  bool decoded = false;     // false for a picture narrower than kMinDecodableWidth
  int top_rows = 0;         // rows of the block of similar rows at the top
  int data_rows = 0;        // data rows after the top block
  int first_picture_row = 0;
  int window_b = 0;  // mean levels of the layout windows B and C
  int window_c = 0;
  SatelliteType decoded_as = SatelliteType::GOES;  // coding the header was decoded with
  PictureRect cut;  // the rectangle cut out, clipped to the frame; empty: nothing cut
  // How sure the header reading is: the margin of its bits (BitEvidence::margin; at most 0
  // when a data row does not carry the bits, see kMinRowAgreement, or when the bytes are none a
  // header holds, see CouldBeHeaderBytes); the naming judges whether the reading is doubtful.
  // Bytes that are no character of the coding (read as blanks) are counted apart.
  double confidence = 0.0;
  int unknown_characters = 0;
  // Half bits by which the clock had to start earlier (1) or later (-1) to read the header.
  int clock_shift = 0;
  BitEvidence evidence;
  // The bytes the header text was read from, one a character.
  std::vector<std::uint8_t> header_bytes;
};

// Which readings an analysis makes.
enum class Looks {
  // The first analysis alone: the top block ended at half of row 0, the clock where it starts.
  kFirst,
  // Also, for a reading the decoder does not stand by, the clock half a bit earlier and later,
  // the bits refined against the rows and the levels told from the dark level.
  kAll,
};

// Reads the frame without changing it. `satellite_type` Meteosat selects the Meteosat
// layout; for any other value the decoder chooses between GMS and GOES from the layout.
// Throws Error for an image that is not a one-channel 16-bit picture.
DataLinesResult AnalyseDataLines(const IplImage* image, float sample_rate,
                                 SatelliteType satellite_type, Looks looks = Looks::kAll);

// A new 16-bit working picture holding `cut` of `image`, which must lie inside it; `image` is
// left as it was.
IplImagePtr CutPicture(const IplImage& image, const PictureRect& cut);

// Analyses the frame and, when a non-empty picture rectangle was found, replaces `image` by
// a new 16-bit picture holding only that rectangle (the old image is released; the new
// image's own width and height are the cut size). The caller passes the sample rate
// 4 x width. A picture narrower than kMinDecodableWidth stays as it is, with an empty
// header, black 0, white kFullWhiteSample, start column 0 and picture height 0.
void DecodeDataLines(IplImage*& image, int& picture_width, int& picture_height, int& black_level,
                     int& white_level, int& start_column, std::string& header_text,
                     float sample_rate, SatelliteType satellite_type);

}  // namespace tessaly
