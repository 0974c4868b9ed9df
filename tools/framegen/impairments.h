// The damage that sound-card reception and later handling leave in a frame, as the frame
// generator applies it: the receiver's (phasing, slant, fading, polarity, static and dropouts on
// the data rows, impulse noise) before the frame is quantised, the copy's (gamma, fewer grey
// levels, rescaling, cropping) after it.
#pragma once

#include <cstdint>
#include <vector>

namespace tessaly::framegen {

// How a rescaled copy was resampled.
enum class Resampler {
  kNearest,
  kBicubic,  // Keys' cubic (a = -0.5), widened when shrinking
  kLanczos,  // Lanczos with three lobes, widened when shrinking
};

// Every field at its default leaves the frame as it is.
struct Impairment {
  // The receiver's, before the noise:
  double rotation = 0.0;   // phasing error: every row turned right by this share of its width
                           // (in whole pixels)
  double slant = 0.0;      // pixels each row starts later than the one above (negative: earlier)
  double fading = 0.0;     // depth (0 to 1) of a slow fade of the signal, about 30 rows a cycle
  bool negative = false;   // the receiver's polarity reversed
  int crash_row = 0;       // data row (from 1) whose data-row window a bright burst of static hides
  int dropout_row = 0;     // data row (from 1) with a dark stretch over some header characters
  int dropout_first = 0;   // first character (from 0) of the dropout
  int dropout_length = 0;  // characters it spans
  double dropout_shift = 0.0;    // bits by which it begins after the first character's first bit
  int noisy_rows = 0;            // data rows chosen at random that carry extra noise
  double row_noise = 0.0;        // its standard deviation, grey levels
  int streaks = 0;               // streaks of static or dropout over the top rows, at random
  double salt_and_pepper = 0.0;  // share of pixels set to grey 0 or 255, after the noise
  // The copy's, after the noise:
  double gamma = 1.0;  // grey g becomes 255 (g / 255)^gamma
  int levels = 0;      // grey levels left (2 to 255); 0: all 256
  double scale = 1.0;  // stored at this scale (0.25 to 4) of its width and height
  Resampler resampler = Resampler::kBicubic;
  int crop_left = 0;  // columns cut off the left edge
  int crop_top = 0;   // rows cut off the top
};

// True when the impairment changes nothing.
bool IsIntact(const Impairment& impairment);

// Throws Error for values out of range.
void CheckImpairment(const Impairment& impairment);

// Where the data rows of a frame lie, for the receiver's damage to them.
struct DataRowPlace {
  int first_row = 0;
  int rows = 0;
  int start_column = 0;        // first column of the header bits
  double samples_per_bit = 0;  // bit period in columns
  int window_start = 0;        // the data-row window, whose darkness counts the data rows
  int window_end = 0;
  int top_rows = 0;  // header band rows above the data rows
};

// Grey levels before noise and quantising, row after row.
struct Signal {
  int width = 0;
  int height = 0;
  std::vector<float>& values;
  float* Row(int y) const { return values.data() + static_cast<std::size_t>(y) * width; }
};

// The receiver's damage before the noise: bursts and dropouts on the data rows, fading,
// polarity, then phasing and slant. `black` and `white` are the frame's levels.
void ImpairSignal(const Impairment& impairment, const DataRowPlace& place, int black, int white,
                  std::uint64_t seed, const Signal& signal);

// The damage after the noise, to the quantised grey pixels: impulse noise, gamma, fewer levels.
void ImpairPixels(const Impairment& impairment, std::uint64_t seed,
                  std::vector<std::uint8_t>& pixels);

// The copy's rescaling and cropping; `width` and `height` become the new size.
void ImpairGeometry(const Impairment& impairment, std::vector<std::uint8_t>& pixels, int& width,
                    int& height);

}  // namespace tessaly::framegen
