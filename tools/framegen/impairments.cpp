// The frame generator's damage: data-row bursts, fading, polarity, phasing and slant on the
// signal; impulse noise, gamma and grey levels on the pixels; rescaling and cropping of the copy.
#include "framegen/impairments.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <string>

#include "base/errors.h"
#include "framegen/random.h"

namespace tessaly::framegen {
namespace {

constexpr double kPi = 3.141592653589793;
// A fade rises and falls over about 30 rows (seven seconds at two rows a second).
constexpr double kFadeRows = 30.0;

void Require(bool condition, const char* what) {
  if (!condition) throw Error(std::string("Frame generator: ") + what);
}

// Static: bright, irregular levels from the middle of the range to beyond white.
float Static(Random& random, int black, int white) {
  return static_cast<float>(black + (white - black) * (0.55 + 0.55 * random.Uniform()));
}

void FillStatic(const Signal& signal, int y, int from, int to, Random& random, int black,
                int white) {
  if (y < 0 || y >= signal.height) return;
  float* row = signal.Row(y);
  for (int x = std::max(from, 0); x < std::min(to, signal.width); ++x) {
    row[x] = Static(random, black, white);
  }
}

void Dropout(const Impairment& im, const DataRowPlace& place, int black, const Signal& signal) {
  const int y = place.first_row + im.dropout_row - 1;
  if (im.dropout_row < 1 || im.dropout_row > place.rows || y >= signal.height) return;
  const double first_bit = 8.0 * im.dropout_first + im.dropout_shift;
  const double from = place.start_column + first_bit * place.samples_per_bit;
  const double to = from + 8.0 * im.dropout_length * place.samples_per_bit;
  float* row = signal.Row(y);
  for (int x = std::max(static_cast<int>(std::floor(from)), 0);
       x < std::min(static_cast<int>(std::ceil(to)), signal.width); ++x) {
    row[x] = static_cast<float>(black);
  }
}

// Extra noise over data rows chosen at random, never over all of them.
void NoisyRows(const Impairment& im, const DataRowPlace& place, const Signal& signal,
               Random& random) {
  std::vector<int> rows(static_cast<std::size_t>(place.rows));
  std::iota(rows.begin(), rows.end(), place.first_row);
  for (std::size_t i = rows.size(); i > 1; --i) {
    std::swap(rows[i - 1], rows[static_cast<std::size_t>(random.Below(static_cast<int>(i)))]);
  }
  // Some of the rows: one at least stays as it was.
  for (int k = 0; k < std::min(im.noisy_rows, place.rows - 1); ++k) {
    if (rows[k] >= signal.height) continue;
    float* row = signal.Row(rows[k]);
    for (int x = 0; x < signal.width; ++x) {
      row[x] += static_cast<float>(im.row_noise * random.Gaussian());
    }
  }
}

// Streaks of static or of dropout, a twentieth to a fifth of the row long, over the band, the
// data rows and the first rows of the picture.
void Streaks(const Impairment& im, const DataRowPlace& place, int black, int white,
             const Signal& signal, Random& random) {
  const int rows = place.first_row + place.rows + 4;
  for (int s = 0; s < im.streaks; ++s) {
    const int y = random.Below(rows);
    const int length = static_cast<int>(signal.width * (0.05 + 0.15 * random.Uniform()));
    const int from = random.Below(std::max(signal.width - length, 1));
    if (random.Uniform() < 0.5) {
      FillStatic(signal, y, from, from + length, random, black, white);
    } else if (y < signal.height) {
      std::fill(signal.Row(y) + from, signal.Row(y) + std::min(from + length, signal.width),
                static_cast<float>(black));
    }
  }
}

void Fade(double depth, const Signal& signal, Random& random) {
  const double phase = 2.0 * kPi * random.Uniform();
  for (int y = 0; y < signal.height; ++y) {
    float* row = signal.Row(y);
    for (int x = 0; x < signal.width; ++x) {
      const double t = y + static_cast<double>(x) / signal.width;
      const double gain = 1.0 - depth * (0.5 - 0.5 * std::cos(2.0 * kPi * t / kFadeRows + phase));
      row[x] = static_cast<float>(row[x] * gain);
    }
  }
}

// Every row turned right, by the phasing error (whole samples: the receiver starts its lines
// at a sample) and by its slant (which drifts between samples, taken linearly).
void Turn(double rotation, double slant, const Signal& signal) {
  std::vector<float> line(static_cast<std::size_t>(signal.width));
  const double phasing = std::round(rotation * signal.width);
  for (int y = 0; y < signal.height; ++y) {
    const double shift = phasing + slant * y;
    const double whole = std::floor(shift);
    const double part = shift - whole;
    float* row = signal.Row(y);
    std::copy(row, row + signal.width, line.begin());
    const auto at = [&](double x) {
      const auto i = static_cast<std::int64_t>(x) % signal.width;
      return line[static_cast<std::size_t>(i < 0 ? i + signal.width : i)];
    };
    for (int x = 0; x < signal.width; ++x) {
      // The sample now at x came from x - shift.
      const double from = x - whole;
      row[x] = static_cast<float>((1.0 - part) * at(from) + part * at(from - 1.0));
    }
  }
}

double Sinc(double x) {
  return x == 0.0 ? 1.0 : std::sin(kPi * x) / (kPi * x);
}

double Kernel(Resampler resampler, double x) {
  x = std::fabs(x);
  if (resampler == Resampler::kLanczos) return x < 3.0 ? Sinc(x) * Sinc(x / 3.0) : 0.0;
  constexpr double a = -0.5;
  if (x < 1.0) return ((a + 2.0) * x - (a + 3.0)) * x * x + 1.0;
  if (x < 2.0) return ((a * x - 5.0 * a) * x + 8.0 * a) * x - 4.0 * a;
  return 0.0;
}

// One line of `count` samples resampled to `out_count`: the kernel is widened by the shrink
// factor so that a shrunk copy is filtered as image programs filter it.
std::vector<float> ResampleLine(const float* in, int count, int stride, int out_count,
                                Resampler resampler) {
  std::vector<float> out(static_cast<std::size_t>(out_count));
  const double scale = static_cast<double>(out_count) / count;
  const auto sample = [&](int i) { return in[static_cast<std::ptrdiff_t>(i) * stride]; };
  if (resampler == Resampler::kNearest) {
    for (int i = 0; i < out_count; ++i) {
      out[i] = sample(std::min(static_cast<int>((i + 0.5) / scale), count - 1));
    }
    return out;
  }
  const double widen = std::max(1.0, 1.0 / scale);
  const double support = (resampler == Resampler::kLanczos ? 3.0 : 2.0) * widen;
  for (int i = 0; i < out_count; ++i) {
    const double centre = (i + 0.5) / scale;
    double sum = 0.0;
    double weights = 0.0;
    for (int j = static_cast<int>(std::floor(centre - support));
         j <= static_cast<int>(std::ceil(centre + support)); ++j) {
      const double w = Kernel(resampler, (j + 0.5 - centre) / widen);
      sum += w * sample(std::clamp(j, 0, count - 1));
      weights += w;
    }
    out[i] = static_cast<float>(sum / weights);
  }
  return out;
}

void Rescale(double scale, Resampler resampler, std::vector<std::uint8_t>& pixels, int& width,
             int& height) {
  const int new_width = std::max(1, static_cast<int>(std::lround(width * scale)));
  const int new_height = std::max(1, static_cast<int>(std::lround(height * scale)));
  std::vector<float> wide(static_cast<std::size_t>(new_width) * height);
  std::vector<float> row(static_cast<std::size_t>(width));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) row[x] = pixels[static_cast<std::size_t>(y) * width + x];
    const std::vector<float> out = ResampleLine(row.data(), width, 1, new_width, resampler);
    std::copy(out.begin(), out.end(), wide.begin() + static_cast<std::ptrdiff_t>(y) * new_width);
  }
  std::vector<std::uint8_t> result(static_cast<std::size_t>(new_width) * new_height);
  for (int x = 0; x < new_width; ++x) {
    const std::vector<float> out =
        ResampleLine(wide.data() + x, height, new_width, new_height, resampler);
    for (int y = 0; y < new_height; ++y) {
      result[static_cast<std::size_t>(y) * new_width + x] =
          static_cast<std::uint8_t>(std::clamp(std::nearbyint(out[y]), 0.0f, 255.0f));
    }
  }
  pixels = std::move(result);
  width = new_width;
  height = new_height;
}

void Crop(int left, int top, std::vector<std::uint8_t>& pixels, int& width, int& height) {
  Require(left < width && top < height, "the crop leaves nothing of the frame");
  std::vector<std::uint8_t> result;
  result.reserve(static_cast<std::size_t>(width - left) * (height - top));
  for (int y = top; y < height; ++y) {
    const auto row = pixels.begin() + static_cast<std::ptrdiff_t>(y) * width;
    result.insert(result.end(), row + left, row + width);
  }
  pixels = std::move(result);
  width -= left;
  height -= top;
}

}  // namespace

bool IsIntact(const Impairment& im) {
  return im.rotation == 0.0 && im.slant == 0.0 && im.fading == 0.0 && !im.negative &&
         im.crash_row == 0 && im.dropout_row == 0 && im.noisy_rows == 0 && im.streaks == 0 &&
         im.salt_and_pepper == 0.0 && im.gamma == 1.0 && im.levels == 0 && im.scale == 1.0 &&
         im.crop_left == 0 && im.crop_top == 0;
}

void CheckImpairment(const Impairment& im) {
  Require(im.rotation >= 0.0 && im.rotation < 1.0, "rotation out of range (0 to 1)");
  Require(std::fabs(im.slant) <= 8.0, "slant out of range (-8 to 8 pixels a row)");
  Require(im.fading >= 0.0 && im.fading <= 1.0, "fading out of range (0 to 1)");
  Require(im.crash_row >= 0 && im.dropout_row >= 0 && im.noisy_rows >= 0 && im.streaks >= 0 &&
              im.dropout_first >= 0 && im.dropout_length >= 0 && im.row_noise >= 0.0,
          "data-row damage must not be negative");
  Require(im.salt_and_pepper >= 0.0 && im.salt_and_pepper <= 1.0,
          "salt and pepper out of range (0 to 1)");
  Require(im.gamma > 0.05 && im.gamma < 20.0, "gamma out of range");
  Require(im.levels == 0 || (im.levels >= 2 && im.levels <= 255), "levels out of range");
  Require(im.scale >= 0.25 && im.scale <= 4.0, "scale out of range (0.25 to 4)");
  Require(im.crop_left >= 0 && im.crop_top >= 0, "crops must not be negative");
}

void ImpairSignal(const Impairment& im, const DataRowPlace& place, int black, int white,
                  std::uint64_t seed, const Signal& signal) {
  Random random(seed ^ 0xB0A710ADull);
  if (im.crash_row >= 1 && im.crash_row <= place.rows + 1) {
    FillStatic(signal, place.first_row + im.crash_row - 1, place.window_start, place.window_end,
               random, black, white);
  }
  Dropout(im, place, black, signal);
  if (im.noisy_rows > 0) NoisyRows(im, place, signal, random);
  if (im.streaks > 0) Streaks(im, place, black, white, signal, random);
  if (im.fading > 0.0) Fade(im.fading, signal, random);
  if (im.negative) {
    for (float& v : signal.values) v = 255.0f - v;
  }
  if (im.rotation != 0.0 || im.slant != 0.0) Turn(im.rotation, im.slant, signal);
}

void ImpairPixels(const Impairment& im, std::uint64_t seed, std::vector<std::uint8_t>& pixels) {
  if (im.salt_and_pepper > 0.0) {
    Random random(seed ^ 0x5A17ull);
    for (std::uint8_t& p : pixels) {
      if (random.Uniform() < im.salt_and_pepper) p = random.Uniform() < 0.5 ? 0 : 255;
    }
  }
  if (im.gamma == 1.0 && im.levels == 0) return;
  std::array<std::uint8_t, 256> table{};
  for (int g = 0; g < 256; ++g) {
    double v = 255.0 * std::pow(g / 255.0, im.gamma);
    // Fewer levels, evenly spread over the range, each grey going to the nearest.
    if (im.levels > 0) v = std::nearbyint(v / 255.0 * (im.levels - 1)) * 255.0 / (im.levels - 1);
    table[g] = static_cast<std::uint8_t>(std::clamp(std::nearbyint(v), 0.0, 255.0));
  }
  for (std::uint8_t& p : pixels) p = table[p];
}

void ImpairGeometry(const Impairment& im, std::vector<std::uint8_t>& pixels, int& width,
                    int& height) {
  if (im.scale != 1.0) Rescale(im.scale, im.resampler, pixels, width, height);
  if (im.crop_left > 0 || im.crop_top > 0) Crop(im.crop_left, im.crop_top, pixels, width, height);
}

}  // namespace tessaly::framegen
