// The synthetic frame generator: geometry, header bits, picture, stop tone and noise.
#include "framegen/framegen.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

#include "base/errors.h"
#include "base/limits.h"
#include "framegen/jpeg_round_trip.h"
#include "framegen/random.h"
#include "picture_store/samples.h"

namespace tessaly::framegen {
namespace {

constexpr double kPi = 3.141592653589793;
// The decoder samples a row at 4 x width per second, so a row lasts a quarter second and
// the 450 Hz stop tone makes 112.5 cycles along it.
constexpr double kRowSeconds = 0.25;
constexpr double kStopToneHz = 450.0;
// The layout strip covers the 18 rows a decoder inspects after the data rows.
constexpr int kStripRows = 20;
constexpr int kMaxPictureRows = 800;
constexpr int kHeaderCharacters = 25;

// Grey levels before noise and quantising.
struct Canvas {
  int width;
  int height;
  std::vector<float> values;
  float* Row(int y) { return values.data() + static_cast<std::size_t>(y) * width; }
  void Fill(int y0, int y1, int x0, int x1, double value) {
    x0 = std::clamp(x0, 0, width);
    x1 = std::clamp(x1, 0, width);
    for (int y = std::max(y0, 0); y < std::min(y1, height); ++y) {
      std::fill(Row(y) + x0, Row(y) + std::max(x0, x1), static_cast<float>(value));
    }
  }
};

struct Geometry {
  int start_column;
  int edge;  // first bright column of the header band
  int data_rows;
  int first_picture_row;
  int picture_width;
  int height;
};

int Position(int width, int k) {
  return static_cast<int>((std::int64_t{width} * k) / 840);
}

void Require(bool condition, const char* what) {
  if (!condition) throw Error(std::string("Frame generator: ") + what);
}

Geometry MakeGeometry(const FrameRecipe& recipe) {
  Require(recipe.width >= 1 && recipe.width <= kMaxPictureSide, "width out of range");
  Require(recipe.top_rows >= 1 && recipe.top_rows <= 26, "the header band takes 1 to 26 rows");
  Require(recipe.data_rows >= 0 && recipe.data_rows <= 4, "a frame carries 0 to 4 data rows");
  for (const int rows : {recipe.picture_height, recipe.tone_rows, recipe.below_rows}) {
    Require(rows >= 0 && rows <= kMaxPictureSide, "row counts out of range");
  }
  Require(recipe.black >= 0 && recipe.white <= 255 && recipe.black < recipe.white,
          "black and white must be grey levels with black below white");
  Require(std::fabs(recipe.bit_offset) <= 2.0, "the bits may start at most two bits off");
  Require(recipe.blur >= 0.0 && recipe.blur <= 10.0, "blur out of range (0 to 10 pixels)");
  Require(recipe.jpeg_quality >= 0 && recipe.jpeg_quality <= 100,
          "JPEG quality out of range (1 to 100, 0 for none)");
  CheckImpairment(recipe.impairment);
  Geometry g{};
  g.start_column = recipe.start_column >= 0 ? recipe.start_column : Position(recipe.width, 27);
  g.edge = g.start_column + BandEdgeOffset(recipe.layout, recipe.width);
  Require(g.edge >= 1 && g.edge <= recipe.width / 10 + 1,
          "the header band must turn bright within the first tenth of the row");
  g.data_rows = recipe.layout == Layout::Meteosat ? 2 : recipe.data_rows;
  g.first_picture_row = recipe.top_rows + g.data_rows;
  g.picture_width = Position(recipe.width, 800);
  g.height = FrameHeight(recipe);
  Require(g.height <= kMaxPictureSide && std::int64_t{g.height} * recipe.width <= kMaxPicturePixels,
          "frame size out of range");
  return g;
}

// EBCDIC (code page 037) of the Latin-1 characters a GMS header can carry; -1 for others.
int ToEbcdic(unsigned char c) {
  constexpr std::string_view kSingles = " \xA2.<(+|&!$*);\xAC-/,%_>?:#@'=\"";
  constexpr std::array<std::uint8_t, 27> kSingleCodes = {
      0x40, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
      0x60, 0x61, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F};
  const std::size_t single = kSingles.find(static_cast<char>(c));
  if (single != std::string_view::npos) return kSingleCodes[single];
  if (c >= '0' && c <= '9') return 0xF0 + (c - '0');
  const bool upper = c >= 'A' && c <= 'Z';
  const bool lower = c >= 'a' && c <= 'z';
  if (!upper && !lower) return -1;
  const int index = c - (upper ? 'A' : 'a');
  const int base = upper ? 0xC1 : 0x81;  // letters come in runs of 9, 9 and 8
  if (index < 9) return base + index;
  if (index < 18) return base + 0x10 + (index - 9);
  return base + 0x21 + (index - 18);
}

std::vector<std::uint8_t> HeaderBytes(const FrameRecipe& recipe) {
  std::vector<std::uint8_t> bytes;
  for (const char ch : recipe.header) {
    const auto c = static_cast<unsigned char>(ch);
    if (recipe.layout != Layout::GMS) {
      bytes.push_back(c);
      continue;
    }
    const int code = ToEbcdic(c);
    Require(code >= 0, "a GMS header character has no EBCDIC code");
    bytes.push_back(static_cast<std::uint8_t>(code));
  }
  return bytes;
}

// The text a reader of the bits gets: 25 characters, blanks for bytes that are not
// printable and for the silent bits after the header.
std::string ExpectedHeader(const FrameRecipe& recipe, int data_rows) {
  if (data_rows == 0) return std::string();
  std::string text(kHeaderCharacters, ' ');
  for (std::size_t i = 0; i < text.size() && i < recipe.header.size(); ++i) {
    const auto c = static_cast<unsigned char>(recipe.header[i]);
    if (recipe.layout == Layout::GMS || (c >= 0x20 && c <= 0x7F)) text[i] = recipe.header[i];
  }
  return text;
}

// One data row: dark, with each 1 bit bright over its share of the row. A column that two
// bit cells share takes the mix of both, as a sampled signal would.
std::vector<float> BitRow(const FrameRecipe& recipe, int start_column) {
  const std::vector<std::uint8_t> bytes = HeaderBytes(recipe);
  const double samples_per_bit = recipe.width / kRowSeconds / BitRate(recipe.layout);
  const auto bit = [&](std::int64_t i) -> int {
    if (i < 0 || i / 8 >= static_cast<std::int64_t>(bytes.size())) return 0;
    return (bytes[static_cast<std::size_t>(i / 8)] >> (7 - i % 8)) & 1;
  };
  std::vector<float> row(static_cast<std::size_t>(recipe.width), static_cast<float>(recipe.black));
  const double first = start_column + recipe.bit_offset * samples_per_bit;
  for (int c = std::max(static_cast<int>(std::floor(first)), 0); c < recipe.width; ++c) {
    const double from = (c - first) / samples_per_bit;
    const double to = (c + 1 - first) / samples_per_bit;
    double ones = 0.0;
    for (auto i = static_cast<std::int64_t>(std::floor(from)); static_cast<double>(i) < to; ++i) {
      const double overlap = std::min(to, i + 1.0) - std::max(from, static_cast<double>(i));
      ones += bit(i) * overlap;
    }
    const double share = ones / (to - from);
    row[c] = static_cast<float>(recipe.black + share * (recipe.white - recipe.black));
  }
  return row;
}

void DrawBandAndData(const FrameRecipe& recipe, const Geometry& g, Canvas& canvas) {
  canvas.Fill(0, recipe.top_rows, 0, g.edge, recipe.black);
  canvas.Fill(0, recipe.top_rows, g.edge, recipe.width, recipe.white);
  const std::vector<float> bits = BitRow(recipe, g.start_column);
  for (int y = recipe.top_rows; y < g.first_picture_row; ++y) {
    std::copy(bits.begin(), bits.end(), canvas.Row(y));
  }
}

// The strip at the picture's top-left that tells GMS from GOES; bright over the data-row
// window, so that the data rows end where the picture begins.
void DrawLayoutStrip(const FrameRecipe& recipe, const Geometry& g, Canvas& canvas) {
  const int top = g.first_picture_row;
  const int bottom = top + std::min(kStripRows, recipe.picture_height);
  const int x = g.start_column;
  canvas.Fill(top, bottom, x, x + g.picture_width, recipe.white);
  if (recipe.layout == Layout::GOES) {
    canvas.Fill(top, bottom, x, x + Position(recipe.width, 90), recipe.black);
  } else {
    canvas.Fill(top, bottom, x + Position(recipe.width, 44), x + Position(recipe.width, 90),
                recipe.black);
  }
}

struct CloudWave {
  double fx;
  double fy;
  double phase;
};

void DrawDisc(const FrameRecipe& recipe, int x0, int y0, int w, int h, Canvas& canvas) {
  Random random(recipe.seed ^ 0x5DEECE66Dull);
  std::array<CloudWave, 4> waves{};
  for (CloudWave& wave : waves) {
    wave = {1.0 + 3.0 * random.Uniform(), 1.0 + 3.0 * random.Uniform(),
            2.0 * kPi * random.Uniform()};
  }
  const double radius = 0.45 * std::min(w, h);
  if (radius < 1.0) return;  // too small a picture for a disc: space only
  const double cx = x0 + w / 2.0;
  const double cy = y0 + h / 2.0;
  const double range = recipe.white - recipe.black;
  for (int y = y0; y < y0 + h; ++y) {
    float* row = canvas.Row(y);
    for (int x = x0; x < x0 + w; ++x) {
      const double dx = (x - cx) / radius;
      const double dy = (y - cy) / radius;
      const double d2 = dx * dx + dy * dy;
      if (d2 >= 1.0) continue;
      double cloud = 0.0;
      for (const CloudWave& wave : waves)
        cloud += std::sin(wave.fx * dx + wave.fy * dy + wave.phase);
      const double limb = std::pow(1.0 - d2, 0.25);
      const double cover = std::clamp(0.5 + cloud / 4.0, 0.0, 1.0);
      row[x] = static_cast<float>(recipe.black + range * limb * (0.25 + 0.6 * cover));
    }
  }
}

void DrawContent(const FrameRecipe& recipe, int x0, int y0, int w, int h, Canvas& canvas) {
  if (w <= 0 || h <= 0) return;
  if (recipe.content == Content::Flat) {
    canvas.Fill(y0, y0 + h, x0, x0 + w, (recipe.black + recipe.white) / 2.0);
  } else if (recipe.content == Content::Gradient) {
    for (int y = y0; y < y0 + h; ++y) {
      for (int x = x0; x < x0 + w; ++x) {
        const double t = 0.7 * (x - x0) / std::max(w - 1, 1) + 0.3 * (y - y0) / std::max(h - 1, 1);
        canvas.Row(y)[x] = static_cast<float>(recipe.black + t * (recipe.white - recipe.black));
      }
    }
  } else {
    DrawDisc(recipe, x0, y0, w, h, canvas);
  }
}

void DrawPicture(const FrameRecipe& recipe, const Geometry& g, Canvas& canvas) {
  const int strip =
      recipe.layout == Layout::Meteosat ? 0 : std::min(kStripRows, recipe.picture_height);
  const int x0 = g.start_column;
  const int w = std::min(g.picture_width, recipe.width - x0);
  canvas.Fill(g.first_picture_row, g.first_picture_row + recipe.picture_height, 0, recipe.width,
              recipe.black);
  if (strip > 0) DrawLayoutStrip(recipe, g, canvas);
  DrawContent(recipe, x0, g.first_picture_row + strip, w, recipe.picture_height - strip, canvas);
}

// The stop tone swings between black and white; a row lasts a quarter second, so the
// tone's phase turns by half a cycle from one row to the next.
void DrawStopTone(const FrameRecipe& recipe, int first_row, Canvas& canvas) {
  const double cycles_per_row = kStopToneHz * kRowSeconds;
  const double mid = (recipe.black + recipe.white) / 2.0;
  const double amplitude = (recipe.white - recipe.black) / 2.0;
  for (int y = first_row; y < first_row + recipe.tone_rows; ++y) {
    float* row = canvas.Row(y);
    for (int x = 0; x < recipe.width; ++x) {
      const double angle = 2.0 * kPi * cycles_per_row * (y + static_cast<double>(x) / recipe.width);
      row[x] = static_cast<float>(mid + amplitude * std::sin(angle));
    }
  }
}

// A Gaussian blur, rows then columns, the frame's edges repeated outwards.
void Blur(double sigma, Canvas& canvas) {
  const int radius = static_cast<int>(std::ceil(3.0 * sigma));
  std::vector<float> kernel(static_cast<std::size_t>(2 * radius + 1));
  double total = 0.0;
  for (int i = -radius; i <= radius; ++i) {
    const double weight = std::exp(-0.5 * i * i / (sigma * sigma));
    kernel[static_cast<std::size_t>(i + radius)] = static_cast<float>(weight);
    total += weight;
  }
  for (float& weight : kernel) weight = static_cast<float>(weight / total);
  const auto pass = [&](int lines, int length, auto at) {
    std::vector<float> line(static_cast<std::size_t>(length));
    for (int l = 0; l < lines; ++l) {
      for (int i = 0; i < length; ++i) line[static_cast<std::size_t>(i)] = at(l, i);
      for (int i = 0; i < length; ++i) {
        float sum = 0.0f;
        for (int k = -radius; k <= radius; ++k) {
          sum += kernel[static_cast<std::size_t>(k + radius)] *
                 line[static_cast<std::size_t>(std::clamp(i + k, 0, length - 1))];
        }
        at(l, i) = sum;
      }
    }
  };
  pass(canvas.height, canvas.width, [&](int y, int x) -> float& { return canvas.Row(y)[x]; });
  pass(canvas.width, canvas.height, [&](int x, int y) -> float& { return canvas.Row(y)[x]; });
}

std::vector<std::uint8_t> Quantise(const Canvas& canvas, const FrameRecipe& recipe) {
  Random random(recipe.seed);
  std::vector<std::uint8_t> pixels(canvas.values.size());
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    double v = canvas.values[i];
    if (recipe.noise > 0.0) v += recipe.noise * random.Gaussian();
    pixels[i] = static_cast<std::uint8_t>(std::clamp(std::nearbyint(v), 0.0, 255.0));
  }
  return pixels;
}

DataRowPlace PlaceOfDataRows(const FrameRecipe& recipe, const Geometry& g) {
  DataRowPlace place;
  place.first_row = recipe.top_rows;
  place.rows = g.data_rows;
  place.top_rows = recipe.top_rows;
  place.samples_per_bit = recipe.width / kRowSeconds / BitRate(recipe.layout);
  place.start_column =
      g.start_column + static_cast<int>(std::lround(recipe.bit_offset * place.samples_per_bit));
  // A little wider than the data-row window (695/840 of the row after the start, 92/840 long).
  place.window_start = g.start_column + Position(recipe.width, 680);
  place.window_end = g.start_column + Position(recipe.width, 800);
  return place;
}

// The places a decoder should find, in the rescaled and cropped copy.
void MoveWithTheCopy(const Impairment& impairment, Frame& frame) {
  ImpairGeometry(impairment, frame.pixels, frame.width, frame.height);
  const double scale = impairment.scale;
  const auto place = [&](int value, int crop) {
    return static_cast<int>(std::lround(value * scale)) - crop;
  };
  frame.start_column = place(frame.start_column, impairment.crop_left);
  frame.first_picture_row = place(frame.first_picture_row, impairment.crop_top);
  frame.picture = {place(frame.picture.x, impairment.crop_left),
                   place(frame.picture.y, impairment.crop_top),
                   static_cast<int>(std::lround(frame.picture.width * scale)),
                   static_cast<int>(std::lround(frame.picture.height * scale))};
}

}  // namespace

std::string DefaultHeader(Layout layout) {
  switch (layout) {
    case Layout::GMS:
      return "GMSN    IR 0003151200C1  ";
    case Layout::Meteosat:
      return "MET7    VIS0104011230D2  ";
    case Layout::GOES:
      break;
  }
  return "GOES8   VIS9812241200D2  ";
}

double BitRate(Layout layout) {
  return layout == Layout::GMS ? 1800.0 : 1680.0;
}

int BandEdgeOffset(Layout layout, int width) {
  return layout == Layout::Meteosat ? (width * 4) / 1680 : width / 1680;
}

int FrameHeight(const FrameRecipe& recipe) {
  const int data_rows = recipe.layout == Layout::Meteosat ? 2 : recipe.data_rows;
  return recipe.top_rows + data_rows + recipe.picture_height + recipe.tone_rows + recipe.below_rows;
}

Frame MakeFrame(const FrameRecipe& recipe) {
  const Geometry g = MakeGeometry(recipe);
  Canvas canvas{recipe.width, g.height,
                std::vector<float>(static_cast<std::size_t>(recipe.width) * g.height,
                                   static_cast<float>(recipe.black))};
  DrawBandAndData(recipe, g, canvas);
  DrawPicture(recipe, g, canvas);
  DrawStopTone(recipe, g.first_picture_row + recipe.picture_height, canvas);
  const Impairment& impairment = recipe.impairment;
  const bool impaired = !IsIntact(impairment);
  if (impaired) {
    ImpairSignal(impairment, PlaceOfDataRows(recipe, g), recipe.black, recipe.white, recipe.seed,
                 {canvas.width, canvas.height, canvas.values});
  }
  if (recipe.blur > 0.0) Blur(recipe.blur, canvas);

  Frame frame;
  frame.width = recipe.width;
  frame.height = g.height;
  frame.pixels = Quantise(canvas, recipe);
  if (impaired) ImpairPixels(impairment, recipe.seed, frame.pixels);
  if (recipe.jpeg_quality > 0) {
    frame.pixels = JpegRoundTrip(frame.pixels, recipe.width, g.height, recipe.jpeg_quality);
  }
  frame.start_column = g.start_column;
  frame.first_picture_row = g.first_picture_row;
  const int rows =
      recipe.layout == Layout::Meteosat ? g.height - g.first_picture_row : recipe.picture_height;
  frame.picture = {g.start_column, g.first_picture_row,
                   std::min(g.picture_width, recipe.width - g.start_column),
                   std::min(rows, kMaxPictureRows)};
  frame.header = ExpectedHeader(recipe, g.data_rows);
  if (impaired) MoveWithTheCopy(impairment, frame);
  return frame;
}

FrameRecipe SizedFrameRecipe(Layout layout, int width, int height) {
  FrameRecipe recipe;
  recipe.layout = layout;
  recipe.width = width;
  recipe.header = DefaultHeader(layout);
  recipe.picture_height = 0;
  recipe.picture_height = height - FrameHeight(recipe);
  Require(recipe.picture_height >= 1, "the frame is too short for its band, data and stop tone");
  return recipe;
}

FrameRecipe DoubtfulFrameRecipe() {
  FrameRecipe recipe;
  recipe.width = 709;
  recipe.header = "GOES-I  FD 0101311445    ";
  recipe.data_rows = 1;
  recipe.picture_height = 40;
  recipe.tone_rows = 20;
  recipe.below_rows = 6;
  recipe.content = Content::Flat;
  recipe.noise = 32;
  recipe.seed = (709u << 16) ^ (32u << 8) ^ 1u;
  return recipe;
}

IplImagePtr MakeWorkingImage(const Frame& frame) {
  IplImagePtr image = MakeGray16Image(frame.width, frame.height);
  for (int y = 0; y < frame.height; ++y) {
    std::uint16_t* row = IplRow16(image.get(), y);
    for (int x = 0; x < frame.width; ++x)
      row[x] = static_cast<std::uint16_t>(SampleOfGrey(frame.At(x, y)));
  }
  return image;
}

Bitmap ToBitmap(const Frame& frame) {
  Bitmap bitmap;
  bitmap.SetFormat(PixelFormat::k8Bit);
  bitmap.SetPalette(GreyRamp());
  bitmap.SetSize(frame.width, frame.height);
  for (int y = 0; y < frame.height; ++y) {
    std::copy_n(frame.pixels.begin() + static_cast<std::ptrdiff_t>(y) * frame.width, frame.width,
                bitmap.Row(y));
  }
  return bitmap;
}

Frame DataLinesSource(const Frame& full, const FrameRecipe& recipe) {
  // Columns the layout puts in front of a data-lines source.
  constexpr int kSourceColumn = 26;
  const int first_data_row = std::clamp(recipe.top_rows, 0, full.height);
  Frame cut;
  cut.width = std::max(full.width - kSourceColumn, 0);
  cut.height = full.height - first_data_row;
  cut.pixels.reserve(static_cast<std::size_t>(cut.width) * static_cast<std::size_t>(cut.height));
  for (int y = first_data_row; y < full.height; ++y) {
    for (int x = kSourceColumn; x < full.width; ++x) cut.pixels.push_back(full.At(x, y));
  }
  cut.start_column = full.start_column - kSourceColumn;
  cut.first_picture_row = full.first_picture_row - first_data_row;
  cut.picture = full.picture;
  cut.picture.x -= kSourceColumn;
  cut.picture.y -= first_data_row;
  cut.header = full.header;
  return cut;
}

}  // namespace tessaly::framegen
