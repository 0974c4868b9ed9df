// GreyCanvas over a Cairo image surface. Everything is drawn in greys with grey antialiasing,
// so the surface's three colour bytes stay equal and one of them is the picture.
#include "overview/grey_canvas.h"

#include <cairo.h>

#include <algorithm>
#include <string>

#include "base/errors.h"
#include "base/text.h"

namespace tessaly {

// The packaged font (fonts-dejavu-core), found by fontconfig under its family name.
constexpr const char* kFontFamily = "DejaVu Sans";

struct GreyCanvas::Cairo {
  cairo_surface_t* surface = nullptr;
  cairo_t* cr = nullptr;
  ~Cairo() {
    if (cr) cairo_destroy(cr);
    if (surface) cairo_surface_destroy(surface);
  }
};

GreyCanvas::GreyCanvas(int width, int height, std::uint8_t background)
    : cairo_(std::make_unique<Cairo>()), width_(width), height_(height) {
  cairo_->surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_->cr = cairo_create(cairo_->surface);
  if (const cairo_status_t status = cairo_status(cairo_->cr); status != CAIRO_STATUS_SUCCESS) {
    throw Error("Cannot draw a picture of " + std::to_string(width) + " x " +
                std::to_string(height) + " pixels: " + cairo_status_to_string(status));
  }
  cairo_font_options_t* options = cairo_font_options_create();
  // Subpixel colour fringes would break the greys; hinting keeps small text crisp.
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
  cairo_set_font_options(cairo_->cr, options);
  cairo_font_options_destroy(options);
  Fill(0, 0, width, height, background);
}

GreyCanvas::~GreyCanvas() = default;

void GreyCanvas::Fill(int x, int y, int width, int height, std::uint8_t grey) {
  cairo_t* cr = cairo_->cr;
  const double level = grey / 255.0;
  cairo_set_source_rgb(cr, level, level, level);
  cairo_rectangle(cr, x, y, width, height);
  cairo_fill(cr);
}

void GreyCanvas::Put(const Bitmap& grey8, int x, int y) {
  cairo_surface_flush(cairo_->surface);
  unsigned char* data = cairo_image_surface_get_data(cairo_->surface);
  const int stride = cairo_image_surface_get_stride(cairo_->surface);
  const int left = std::max(x, 0), right = std::min(x + grey8.Width(), width_);
  const int top = std::max(y, 0), bottom = std::min(y + grey8.Height(), height_);
  for (int row = top; row < bottom; ++row) {
    const std::uint8_t* from = grey8.Row(row - y);
    auto* to = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(row) * stride);
    for (int column = left; column < right; ++column) {
      const std::uint32_t g = from[column - x];
      to[column] = g << 16 | g << 8 | g;
    }
  }
  if (right > left && bottom > top) {
    cairo_surface_mark_dirty_rectangle(cairo_->surface, left, top, right - left, bottom - top);
  }
}

namespace {

void SetFont(cairo_t* cr, const TextStyle& style) {
  cairo_select_font_face(cr, kFontFamily, CAIRO_FONT_SLANT_NORMAL,
                         style.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, style.size);
}

// Cairo takes valid UTF-8 only and draws nothing of a string that is not.
std::string Drawable(std::string_view text) {
  return IsValidUtf8(text) ? std::string(text) : Latin1ToUtf8(text);
}

void DropLastCharacter(std::string& text) {
  while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) {
    text.pop_back();  // a continuation byte of UTF-8
  }
  if (!text.empty()) text.pop_back();
}

}  // namespace

void GreyCanvas::Text(std::string_view text, const TextStyle& style, double x, double baseline) {
  cairo_t* cr = cairo_->cr;
  SetFont(cr, style);
  const double level = style.grey / 255.0;
  cairo_set_source_rgb(cr, level, level, level);
  cairo_move_to(cr, x, baseline);
  cairo_show_text(cr, Drawable(text).c_str());
}

double GreyCanvas::Width(std::string_view text, const TextStyle& style) {
  SetFont(cairo_->cr, style);
  cairo_text_extents_t extents;
  cairo_text_extents(cairo_->cr, Drawable(text).c_str(), &extents);
  return extents.x_advance;
}

void GreyCanvas::CentredText(std::string_view text, const TextStyle& style, int x, int y, int width,
                             int height) {
  std::string shown = Drawable(text);
  if (Width(shown, style) > width) {
    std::string kept = shown;
    do {
      DropLastCharacter(kept);
      shown = kept + "...";
    } while (!kept.empty() && Width(shown, style) > width);
  }
  cairo_font_extents_t font;
  SetFont(cairo_->cr, style);
  cairo_font_extents(cairo_->cr, &font);
  const double baseline = y + (height + font.ascent - font.descent) / 2.0;
  Text(shown, style, x + (width - Width(shown, style)) / 2.0, baseline);
}

Bitmap GreyCanvas::ToBitmap() {
  cairo_surface_flush(cairo_->surface);
  const unsigned char* data = cairo_image_surface_get_data(cairo_->surface);
  const int stride = cairo_image_surface_get_stride(cairo_->surface);
  Bitmap picture;
  picture.SetFormat(PixelFormat::k8Bit);
  picture.SetPalette(GreyRamp());
  picture.SetSize(width_, height_);
  for (int row = 0; row < height_; ++row) {
    const auto* from =
        reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(row) * stride);
    std::uint8_t* to = picture.Row(row);
    for (int column = 0; column < width_; ++column) to[column] = from[column] & 0xFF;
  }
  return picture;
}

}  // namespace tessaly
