// The contact sheet's drawing surface: grey rectangles, pictures copied in, and text set in
// the packaged DejaVu Sans through FreeType; read out as an 8-bit grey bitmap.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "picture_store/bitmap.h"

namespace tessaly {

struct TextStyle {
  double size = 12.0;  // the font's size (its em) in pixels
  bool bold = false;
  std::uint8_t grey = 0;
};

class GreyCanvas {
 public:
  GreyCanvas(int width, int height, std::uint8_t background);
  ~GreyCanvas();
  GreyCanvas(const GreyCanvas&) = delete;
  GreyCanvas& operator=(const GreyCanvas&) = delete;

  void Fill(int x, int y, int width, int height, std::uint8_t grey);
  // An 8-bit grey picture's values, copied unchanged with its top-left corner at (x, y) and
  // clipped to the canvas.
  void Put(const Bitmap& grey8, int x, int y);
  // UTF-8 text from (x, baseline). Error when the font cannot be read.
  void Text(std::string_view text, const TextStyle& style, double x, double baseline);
  // How far the text advances.
  double Width(std::string_view text, const TextStyle& style);
  // The text centred in the box, cut at its end with "..." when it is wider.
  void CentredText(std::string_view text, const TextStyle& style, int x, int y, int width,
                   int height);

  // The picture drawn; the canvas is empty afterwards.
  Bitmap ToBitmap();

 private:
  // Greys blended over the picture by a glyph's coverage, its top-left corner at (x, y).
  void Blend(const std::uint8_t* coverage, int pitch, int width, int height, int x, int y,
             std::uint8_t grey);

  struct Fonts;
  std::unique_ptr<Fonts> fonts_;
  Bitmap picture_;
};

}  // namespace tessaly
