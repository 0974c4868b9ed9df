// The system's bitmap class TExtBitmap (histogram, repairing BMP loader) and the
// bitmap services on any Bitmap: conversion to and from image-store images,
// resampling and the grey palette. Used by the per-file processing and the window.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "picture_files/byte_stream.h"
#include "picture_store/bitmap.h"
#include "picture_store/ipl.h"

namespace tessaly {

// A histogram of BinCount 32-bit counts. The bitmap carries one; nothing in the
// system fills or reads it yet.
class TkovHistogram {
 public:
  explicit TkovHistogram(int bin_count);

  int BinCount() const { return static_cast<int>(bins_.size()); }
  std::span<std::int32_t> Bins() { return bins_; }
  std::span<const std::int32_t> Bins() const { return bins_; }
  // Zeroes the bins, the first and the third statistics and the flag.
  void Clear();

  std::array<std::int32_t, 4> statistics{};
  bool flag = false;

 private:
  std::vector<std::int32_t> bins_;
};

class TExtBitmap : public Bitmap {
 public:
  static constexpr int kHistogramBins = 256;

  TExtBitmap() = default;

  TkovHistogram& Histogram() { return histogram_; }
  const TkovHistogram& Histogram() const { return histogram_; }

  // Repairs the two known header faults of received frames (see RepairBmpHeaders),
  // then reads the stream from its position with ReadBmp. A stream that is not
  // at 0, or holds 54 bytes or less, is read from where it stands, unrepaired.
  // On failure (Error from the reader) the bitmap is unchanged. The stream is
  // left at its end.
  void LoadFromStream(ByteStream& stream);
  // Reads the whole file and loads it as above. Throws Error if it cannot be read.
  void LoadFromFile(const std::filesystem::path& path);

 private:
  TkovHistogram histogram_{kHistogramBins};
};

enum class BmpRepair {
  kNone,
  // The header announces 200 or 224 colours (used and important) over a stored
  // 256-entry table (a 40-byte info header, and a file long enough for the full
  // table and the pixel rows): the unannounced entries are cut out and the pixels
  // are read straight after the table. bfOffBits is left stale: it may count the
  // full table or the announced entries only.
  kPalette,
  // An 8-bit picture 2080 wide whose biSizeImage is not width x height: the
  // field is set to the 32-bit product.
  kImageSize,
};

struct RepairedBmp {
  BmpRepair repair = BmpRepair::kNone;
  std::vector<std::uint8_t> bytes;  // the repaired copy; empty for kNone
};

// The repairs of the loader on a file held from its first byte. A file that is
// too short for any reading is left to the reader, which reports it.
RepairedBmp RepairBmpHeaders(std::span<const std::uint8_t> file);

// A new 1-channel ("GRAY") image of an 8-bit bitmap or a 3-channel ("RGB"/"BGR")
// image of a 24-bit bitmap, width x height, with the bitmap copied in at
// (x_offset, y_offset); rows and columns outside the frame are dropped and frame
// pixels the bitmap does not cover are 0. Null when width or height is 0.
// Throws InvalidGraphicOperation for other pixel formats.
IplImagePtr MakeFramedIPL(const Bitmap& bitmap, int width, int height, int x_offset, int y_offset);
// MakeFramedIPL(bitmap, bitmap.Width(), bitmap.Height(), 0, 0).
IplImagePtr MakeIPL(const Bitmap& bitmap);
// Gives the bitmap the size and pixels of an 8-bit image (8-bit bitmap for one
// channel, 24-bit for three; the palette is kept). Does nothing for null.
void IPLToBitmap(Bitmap& bitmap, const IplImage* image);
// Resamples an 8- or 24-bit bitmap in place: cubic when growing, area averaging
// when shrinking; the palette stays. Does nothing for an unchanged size or a
// bitmap less than 3 pixels wide or high. Throws InvalidGraphicOperation when one
// side grows and the other shrinks, or for other pixel formats, leaving the bitmap
// untouched; any later failure leaves it untouched too.
void Interpolate(Bitmap& bitmap, int new_width, int new_height);
// Gives an 8-bit bitmap that has a palette the 256-entry grey ramp (indices
// unchanged) and marks it modified; nothing if it already has the ramp.
void SetGreyPalette(Bitmap& bitmap);

}  // namespace tessaly
