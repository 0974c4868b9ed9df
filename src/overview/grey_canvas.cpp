// GreyCanvas over an 8-bit grey bitmap, its text set with FreeType from the packaged DejaVu
// Sans files. FreeType alone, without a drawing library over it, is the only library the batch
// tool loads for the sheets at every start, and a glyph's coverage blends straight into greys.
#include "overview/grey_canvas.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <string>

#include "base/errors.h"
#include "base/text.h"

namespace tessaly {
namespace {

// The packaged fonts (fonts-dejavu-core), where the build found them.
constexpr const char* kRegularFont = TESSALY_FONT_DIR "/DejaVuSans.ttf";
constexpr const char* kBoldFont = TESSALY_FONT_DIR "/DejaVuSans-Bold.ttf";

// The code points of UTF-8 text; a text that is not UTF-8 is taken as Latin-1, one a byte.
std::u32string CodePoints(std::string_view text) {
  const std::string utf8 = IsValidUtf8(text) ? std::string(text) : Latin1ToUtf8(text);
  std::u32string points;
  for (std::size_t at = 0; at < utf8.size();) {
    const std::size_t length = std::max<std::size_t>(Utf8SequenceLength(utf8, at), 1);
    const auto lead = static_cast<unsigned char>(utf8[at]);
    char32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length && at + i < utf8.size(); ++i) {
      point = point << 6 | (static_cast<unsigned char>(utf8[at + i]) & 0x3F);
    }
    points.push_back(point);
    at += length;
  }
  return points;
}

std::string DropLastCharacter(std::string text) {
  while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) {
    text.pop_back();  // a continuation byte of UTF-8
  }
  if (!text.empty()) text.pop_back();
  return text;
}

}  // namespace

struct GreyCanvas::Fonts {
  FT_Library library = nullptr;
  FT_Face regular = nullptr;
  FT_Face bold = nullptr;
  ~Fonts() {
    if (regular) FT_Done_Face(regular);
    if (bold) FT_Done_Face(bold);
    if (library) FT_Done_FreeType(library);
  }

  // The face of the style, sized: loaded at its first use, so a sheet without text reads no
  // font.
  FT_Face Face(const TextStyle& style) {
    FT_Face& face = style.bold ? bold : regular;
    if (!face) {
      const char* file = style.bold ? kBoldFont : kRegularFont;
      if ((!library && FT_Init_FreeType(&library) != 0) ||
          FT_New_Face(library, file, 0, &face) != 0) {
        face = nullptr;
        throw Error("Cannot draw text: the font \"" + std::string(file) +
                    "\" cannot be read (it comes with the package fonts-dejavu-core)");
      }
    }
    FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(std::lround(style.size * 64)), 72, 72);
    return face;
  }
};

GreyCanvas::GreyCanvas(int width, int height, std::uint8_t background)
    : fonts_(std::make_unique<Fonts>()) {
  picture_.SetFormat(PixelFormat::k8Bit);
  picture_.SetPalette(GreyRamp());
  picture_.SetSize(width, height);
  Fill(0, 0, width, height, background);
}

GreyCanvas::~GreyCanvas() = default;

void GreyCanvas::Fill(int x, int y, int width, int height, std::uint8_t grey) {
  const int left = std::max(x, 0), right = std::min(x + width, picture_.Width());
  const int top = std::max(y, 0), bottom = std::min(y + height, picture_.Height());
  for (int row = top; row < bottom && left < right; ++row) {
    std::fill(picture_.Row(row) + left, picture_.Row(row) + right, grey);
  }
}

void GreyCanvas::Put(const Bitmap& grey8, int x, int y) {
  const int left = std::max(x, 0), right = std::min(x + grey8.Width(), picture_.Width());
  const int top = std::max(y, 0), bottom = std::min(y + grey8.Height(), picture_.Height());
  for (int row = top; row < bottom && left < right; ++row) {
    std::copy(grey8.Row(row - y) + (left - x), grey8.Row(row - y) + (right - x),
              picture_.Row(row) + left);
  }
}

namespace {

// Sets the text glyph by glyph from 0, kerned, handing each loaded glyph and its pen position to
// at; returns how far the text advances.
template <typename At>
double Lay(FT_Face face, std::string_view text, FT_Int32 load, At at) {
  double pen = 0;
  FT_UInt previous = 0;
  for (const char32_t point : CodePoints(text)) {
    const FT_UInt glyph = FT_Get_Char_Index(face, point);
    if (previous != 0 && FT_HAS_KERNING(face)) {
      FT_Vector kerning;
      FT_Get_Kerning(face, previous, glyph, FT_KERNING_DEFAULT, &kerning);
      pen += kerning.x / 64.0;
    }
    previous = glyph;
    if (FT_Load_Glyph(face, glyph, load) != 0) continue;
    at(face->glyph, pen);
    pen += face->glyph->advance.x / 64.0;
  }
  return pen;
}

}  // namespace

// Each glyph's coverage blends the text's grey over what lies beneath; hinted lightly, so small
// captions stay crisp without losing their shapes.
void GreyCanvas::Text(std::string_view text, const TextStyle& style, double x, double baseline) {
  Lay(fonts_->Face(style), text, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT,
      [&](FT_GlyphSlot slot, double pen) {
        Blend(slot->bitmap.buffer, slot->bitmap.pitch, static_cast<int>(slot->bitmap.width),
              static_cast<int>(slot->bitmap.rows),
              static_cast<int>(std::lround(x + pen)) + slot->bitmap_left,
              static_cast<int>(std::lround(baseline)) - slot->bitmap_top, style.grey);
      });
}

void GreyCanvas::Blend(const std::uint8_t* coverage, int pitch, int width, int height, int x, int y,
                       std::uint8_t grey) {
  for (int row = std::max(0, -y); row < height && y + row < picture_.Height(); ++row) {
    std::uint8_t* to = picture_.Row(y + row);
    const std::uint8_t* from = coverage + static_cast<std::ptrdiff_t>(row) * pitch;
    for (int column = std::max(0, -x); column < width && x + column < picture_.Width(); ++column) {
      const int c = from[column];
      to[x + column] =
          static_cast<std::uint8_t>((to[x + column] * (255 - c) + grey * c + 127) / 255);
    }
  }
}

double GreyCanvas::Width(std::string_view text, const TextStyle& style) {
  return Lay(fonts_->Face(style), text, FT_LOAD_TARGET_LIGHT, [](FT_GlyphSlot, double) {});
}

void GreyCanvas::CentredText(std::string_view text, const TextStyle& style, int x, int y, int width,
                             int height) {
  std::string shown(text);
  if (Width(shown, style) > width) {
    std::string kept = shown;
    do {
      kept = DropLastCharacter(kept);
      shown = kept + "...";
    } while (!kept.empty() && Width(shown, style) > width);
  }
  const FT_Size_Metrics& metrics = fonts_->Face(style)->size->metrics;
  const double ascent = metrics.ascender / 64.0, descent = -metrics.descender / 64.0;
  const double baseline = y + (height + ascent - descent) / 2.0;
  Text(shown, style, x + (width - Width(shown, style)) / 2.0, baseline);
}

Bitmap GreyCanvas::ToBitmap() {
  return std::move(picture_);
}

}  // namespace tessaly
