// Source preparation and output rendering, row by row through direct row access.
#include "app/source_prep.h"

#include <algorithm>
#include <array>
#include <numeric>

#include "picture_store/samples.h"

namespace tessaly {
namespace {

// The white band left of a normalised data-lines source.
constexpr Rect kDataLinesBand{13, 0, 26, 0};
// The bar above the data lines is white over the columns a full frame's
// header band would cover.
constexpr int kBarWhiteLeft = 27;
constexpr int kBarWhiteRight = 825;

// Sixteen samples at a time, so that the compiler widens them with vector instructions.
void WidenRow(const std::uint8_t* in, std::uint16_t* out, int width) {
  constexpr int kBlock = 16;
  int x = 0;
  for (; x + kBlock <= width; x += kBlock) {
    std::uint16_t block[kBlock];
    for (int k = 0; k < kBlock; ++k) block[k] = static_cast<std::uint16_t>(SampleOfGrey(in[x + k]));
    for (int k = 0; k < kBlock; ++k) out[x + k] = block[k];
  }
  for (; x < width; ++x) out[x] = static_cast<std::uint16_t>(SampleOfGrey(in[x]));
}

// Pixels are grey levels whatever palette the source carries, so the bars and the band are
// the levels 0 and 255 themselves: matched through a palette they would take whichever entry
// comes nearest, which for a quirk or false-colour palette is another level altogether.
void FillLevel(Bitmap& bitmap, const Rect& rect, std::uint8_t level) {
  if (bitmap.Format() != PixelFormat::k8Bit) {
    bitmap.FillRect(rect, MakeColor(level, level, level));
    return;
  }
  const int left = std::clamp(rect.left, 0, bitmap.Width());
  const int right = std::clamp(rect.right, left, bitmap.Width());
  const int top = std::clamp(rect.top, 0, bitmap.Height());
  const int bottom = std::clamp(rect.bottom, top, bitmap.Height());
  for (int y = top; y < bottom; ++y) {
    std::fill(bitmap.Row(y) + left, bitmap.Row(y) + right, level);
  }
}

// A full frame starts with its header band: some twenty rows of one bright level. Eight such
// rows tell it from a picture of the data lines, whose first rows are dark data rows.
constexpr int kBandRows = 8;
constexpr int kBrightMean = 128;
// Rows whose mean stays within this share of the first row's belong to the same band.
constexpr int kBandSharePercent = 80;

int RowMean(const Bitmap& picture, int y) {
  const std::uint8_t* row = picture.Row(y);
  const long long sum = std::accumulate(row, row + picture.Width(), 0LL);
  return static_cast<int>(sum / picture.Width());
}

constexpr std::uint8_t kBlackLevel = 0;
constexpr std::uint8_t kWhiteLevel = 255;

}  // namespace

void PrepareDataLines(const Bitmap& source, Bitmap& dest) {
  Bitmap working;
  working.Assign(source);
  if (source.Width() != kDataLinesWidth) {
    working.SetWidth(kDataLinesWidth);
    FillLevel(working, {0, 0, working.Width(), working.Height()}, kBlackLevel);
    FillLevel(working, {kDataLinesBand.left, 0, kDataLinesBand.right, working.Height()},
              kWhiteLevel);
    working.Draw(kDataLinesSourceColumn, 0, source);
  }
  dest.Assign(working);
  dest.SetHeight(working.Height() + kDataLinesBarRows);
  FillLevel(dest, {0, 0, dest.Width(), dest.Height()}, kBlackLevel);
  dest.Draw(0, kDataLinesBarRows, working);
  FillLevel(dest, {kBarWhiteLeft, 0, kBarWhiteRight, kDataLinesBarRows}, kWhiteLevel);
}

bool LooksLikeFullFrame(const Bitmap& picture) {
  if (picture.Format() != PixelFormat::k8Bit || picture.Width() < 1 ||
      picture.Height() < kBandRows) {
    return false;
  }
  const int first = RowMean(picture, 0);
  if (first < kBrightMean) return false;
  for (int y = 1; y < kBandRows; ++y) {
    if (RowMean(picture, y) * 100 < first * kBandSharePercent) return false;
  }
  return true;
}

IplImagePtr MakeSampleImage(const Bitmap& bitmap) {
  const int height = bitmap.Height() - bitmap.Height() % 2;
  const int width = bitmap.Width();
  IplImagePtr image = MakeGray16Image(width, height);
  if (bitmap.Format() != PixelFormat::k8Bit) return image;
  for (int y = 0; y < height; ++y) WidenRow(bitmap.Row(y), IplRow16(image.get(), y), width);
  return image;
}

void RenderOutput(const IplImage& sample, std::int32_t black_level, std::int32_t white_level,
                  Bitmap& output) {
  const int width = sample.width;
  const int height = sample.height;
  output.SetFormat(PixelFormat::k8Bit);
  output.SetHeight(height);
  output.SetWidth(width);
  output.SetPalette(GreyRamp());
  std::int64_t range = std::int64_t{white_level} - black_level;
  if (range == 0) range = 1;
  // Every sample stands for one of the 256 grey levels, so the stretch is a table of 256.
  std::array<std::uint8_t, 256> table;
  for (int grey = 0; grey < 256; ++grey) {
    const std::int64_t stretched = (SampleOfGrey(grey) - std::int64_t{black_level}) * 255 / range;
    table[grey] = static_cast<std::uint8_t>(std::clamp<std::int64_t>(stretched, 0, 255));
  }
  for (int y = 0; y < height; ++y) {
    const std::uint16_t* in = IplRow16(&sample, y);
    std::uint8_t* out = output.Row(y);
    for (int x = 0; x < width; ++x) out[x] = table[GreyOfSample(in[x]) & 0xFF];
  }
  output.SetModified(true);
}

}  // namespace tessaly
