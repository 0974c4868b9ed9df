// Synthetic WEFAX frames for the tests, the benchmarks and the example pictures: a header
// band, data rows carrying a header text as a serial bit stream, a picture with its layout
// strip, stop-tone rows and the rows after them, as 8-bit grey pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framegen/impairments.h"
#include "picture_store/bitmap.h"
#include "picture_store/ipl.h"

namespace tessaly::framegen {

// How the satellite lays its frame out and codes its header.
//   GOES: ASCII at 1680 bit/s; the picture's layout strip is dark at its left end.
//   GMS: EBCDIC at 1800 bit/s; the strip is bright over window B, dark over window C.
//   Meteosat: ASCII at 1680 bit/s, always two data rows, an 800-row picture, no strip.
enum class Layout { GOES, GMS, Meteosat };

// What fills the picture below its layout strip.
enum class Content {
  Disc,      // an earth disc with smooth clouds on dark space
  Gradient,  // a diagonal ramp from black to white
  Flat,      // mid grey
};

struct FrameRecipe {
  Layout layout = Layout::GOES;
  // Latin-1 characters sent in the data rows, one byte each. Keep it to about 25
  // characters: a data row must stay darker than half the header band.
  std::string header = "GOES8   VIS9812241200D2  ";
  int width = 840;
  int picture_height = 800;  // picture rows, layout strip included
  int top_rows = 20;         // rows of the header band, 1 to 26
  int data_rows = 2;         // 0 to 4; Meteosat frames always carry 2
  int tone_rows = 40;        // rows of 450 Hz stop tone below the picture
  int below_rows = 18;       // rows after the stop tone
  int start_column = -1;  // first column of the bits and of the picture; -1: (width x 27) div 840
  Content content = Content::Disc;
  double noise = 0.0;      // standard deviation of the Gaussian noise on every pixel, grey levels
  std::uint64_t seed = 1;  // seeds the noise and the clouds; equal recipes give equal frames
  int black = 8;           // grey levels of the frame's black and white
  int white = 240;
  // Degradations of received frames and their copies:
  double bit_offset = 0.0;  // the header bits start this many bit periods after the start column
  double blur = 0.0;        // Gaussian blur before the noise, standard deviation in pixels
  int jpeg_quality = 0;     // 1-100: a JPEG round trip after the noise; 0: none
  // The damage of reception and of later copies (framegen/impairments.h).
  Impairment impairment;
};

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct Frame {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // grey levels, row after row, row 0 on top
  // What a decoder should find in this frame (as made: a turned, rescaled or cropped frame's
  // places are those of the frame before the damage, moved by the crops and scaled).
  int start_column = 0;
  int first_picture_row = 0;
  Rect picture;        // the picture area: (width x 800) div 840 columns from the start
                       // column, at most 800 rows (Meteosat: always 800, clipped to the frame)
  std::string header;  // the text the data rows carry, as 25 decoded characters ("" without
                       // data rows)

  std::uint8_t At(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
};

// A header of the layout's kind, as the frames of `SizedFrameRecipe` carry.
std::string DefaultHeader(Layout layout);
// Bit rate of the layout's header (bit/s).
double BitRate(Layout layout);
// Columns from the start column back to where the header band turns bright.
int BandEdgeOffset(Layout layout, int width);
// Total rows of the frame a recipe describes.
int FrameHeight(const FrameRecipe& recipe);

// Makes the frame. Throws Error for a recipe the layout cannot hold (sizes out of range, a
// band edge outside the first tenth of the row, a GMS header character without EBCDIC code).
Frame MakeFrame(const FrameRecipe& recipe);

// A recipe of the layout whose frame is exactly width x height: the picture takes the rows
// the band, data, stop-tone and following rows leave.
FrameRecipe SizedFrameRecipe(Layout layout, int width, int height);

// A small frame whose header is read right, but too weakly to be trusted: one data row, 709
// pixels wide, under noise of 32 grey levels.
FrameRecipe DoubtfulFrameRecipe();

// The 16-bit working picture of a frame: grey g stored as SampleOfGrey(g), every row kept.
IplImagePtr MakeWorkingImage(const Frame& frame);

// The frame as an 8-bit bitmap with the grey palette, ready to be written as BMP or PNG.
Bitmap ToBitmap(const Frame& frame);

// A picture holding only the data lines and what follows them, as some receivers
// save it: the frame below its header band (recipe.top_rows rows), without its first 26 columns.
// The "data lines only" source choice lays it out again as an 840-column frame under a 20-row bar
// whose white part starts at column 27, so the frame must be 840 wide with its start column at 27
// for the header to be found again.
Frame DataLinesSource(const Frame& full, const FrameRecipe& recipe);

}  // namespace tessaly::framegen
