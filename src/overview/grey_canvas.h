// The contact sheet's drawing surface: grey rectangles, pictures copied in, and text set in
// the packaged DejaVu Sans through Cairo and fontconfig; read out as an 8-bit grey bitmap.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "picture_store/bitmap.h"

namespace tessaly {

struct TextStyle {
  double size = 12.0;  // pixels from baseline to baseline, as Cairo sizes fonts
  bool bold = false;
  std::uint8_t grey = 0;
};

class GreyCanvas {
 public:
  // Error when Cairo cannot make a surface of that size.
  GreyCanvas(int width, int height, std::uint8_t background);
  ~GreyCanvas();
  GreyCanvas(const GreyCanvas&) = delete;
  GreyCanvas& operator=(const GreyCanvas&) = delete;

  void Fill(int x, int y, int width, int height, std::uint8_t grey);
  // An 8-bit grey picture's values, copied unchanged with its top-left corner at (x, y) and
  // clipped to the canvas.
  void Put(const Bitmap& grey8, int x, int y);
  // UTF-8 text from (x, baseline).
  void Text(std::string_view text, const TextStyle& style, double x, double baseline);
  // How far the text advances.
  double Width(std::string_view text, const TextStyle& style);
  // The text centred in the box, cut at its end with "..." when it is wider.
  void CentredText(std::string_view text, const TextStyle& style, int x, int y, int width,
                   int height);

  Bitmap ToBitmap();

 private:
  struct Cairo;
  std::unique_ptr<Cairo> cairo_;
  int width_;
  int height_;
};

}  // namespace tessaly
