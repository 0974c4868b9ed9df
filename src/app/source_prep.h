// Source preparation and output rendering of the per-file processing: the
// "Data lines only" layout, the 16-bit working picture and the contrast stretch.
#pragma once

#include <cstdint>

#include "picture_store/bitmap.h"
#include "picture_store/ipl.h"

namespace tessaly {

// Rows of the white bar PrepareDataLines puts on top of a data-lines source.
inline constexpr int kDataLinesBarRows = 20;
// Width a data-lines source is normalised to, and where its copy starts.
inline constexpr int kDataLinesWidth = 840;
inline constexpr int kDataLinesSourceColumn = 26;

// Lays a picture holding only the data lines out as a full frame: 840 columns
// (a black margin with a white band at columns 13-25, the source from column
// 26) under a 20-row bar that is white from column 27 to 824.
void PrepareDataLines(const Bitmap& source, Bitmap& dest);

// True when the picture begins with a bright band of like rows, as a full frame does above its
// data lines; a picture of the data lines alone begins with the dark data rows.
bool LooksLikeFullFrame(const Bitmap& picture);

// The 16-bit working picture of an 8-bit bitmap (grey g stored as SampleOfGrey(g)), with
// an even number of rows: the bottom row of an odd-height picture is dropped.
IplImagePtr MakeSampleImage(const Bitmap& bitmap);

// Stretches the working picture, whose samples are grey levels as MakeSampleImage stores them,
// between the two levels into an 8-bit bitmap with the grey palette:
// ((v - black) * 255) div (white - black), clamped to 0..255; equal levels divide by 1. The
// output is marked modified.
void RenderOutput(const IplImage& sample, std::int32_t black_level, std::int32_t white_level,
                  Bitmap& output);

}  // namespace tessaly
