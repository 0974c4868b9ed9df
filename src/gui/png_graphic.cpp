// TPngGraphic over the PNG codec.
#include "gui/png_graphic.h"

#include <QPainter>

#include "base/errors.h"
#include "gui/bitmap_qimage.h"

namespace tessaly {

namespace {

// Grey with alpha, or colour with alpha; the codec stores the alpha inverted (0 is opaque).
bool HasAlpha(const TPngImage& image) {
  return image.Channels == 4 || (image.Channels == 2 && image.ColorType != 3);
}

std::uint8_t Sample(const std::uint8_t* row, std::size_t index, bool wide) {
  if (!wide) return row[index];
  return Reduce16(row[2 * index] | (std::uint32_t{row[2 * index + 1]} << 8));
}

// The bitmap path blends transparent pixels into the background colour; a QImage keeps them.
QImage AlphaImage(const TPngImage& image) {
  const bool wide = image.BitDepth == 16;
  const auto channels = static_cast<std::size_t>(image.Channels);
  if (image.RowBytes < std::uint64_t{image.Width} * channels * (wide ? 2 : 1) ||
      image.Pixels.size() < std::uint64_t{image.Height} * image.RowBytes) {
    throw Error("The PNG picture's buffers do not match its header values");
  }
  QImage out(static_cast<int>(image.Width), static_cast<int>(image.Height), QImage::Format_ARGB32);
  if (out.isNull()) throw Error("Not enough memory for the PNG picture");
  for (int y = 0; y < out.height(); ++y) {
    const std::uint8_t* src = image.Pixels.data() + static_cast<std::size_t>(y) * image.RowBytes;
    auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (std::size_t x = 0; x < image.Width; ++x) {
      const std::size_t s = x * channels;
      const std::uint8_t alpha = 255 - Sample(src, s + channels - 1, wide);
      const std::uint8_t red = Sample(src, s, wide);
      const std::uint8_t green = channels == 4 ? Sample(src, s + 1, wide) : red;
      const std::uint8_t blue = channels == 4 ? Sample(src, s + 2, wide) : red;
      dst[x] = qRgba(red, green, blue, alpha);
    }
  }
  return out;
}

}  // namespace

TPngGraphic::TPngGraphic() : image_(std::make_shared<TPngImage>()), transparent_(true) {}

void TPngGraphic::Assign(const TPngGraphic& source) {
  // Taking the source's reference before dropping ours keeps a self-assignment's image alive.
  std::shared_ptr<TPngImage> shared = source.image_;
  image_ = std::move(shared);
  Changed();
}

void TPngGraphic::Changed() {
  if (OnChange) OnChange();
}

int TPngGraphic::GetWidth() const {
  return image_ ? static_cast<int>(image_->Width) : 0;
}

int TPngGraphic::GetHeight() const {
  return image_ ? static_cast<int>(image_->Height) : 0;
}

void TPngGraphic::SetWidth(int) {
  throw Error("Cannot set width on a TPngGraphic");
}

void TPngGraphic::SetHeight(int) {
  throw Error("Cannot set height on a TPngGraphic");
}

QImage TPngGraphic::ToQImage() const {
  if (!image_ || image_->Width == 0 || image_->Height == 0) return {};
  if (HasAlpha(*image_)) return AlphaImage(*image_);
  Bitmap picture;
  // A grey picture read without expansion keeps the bitmap's palette: give it the grey ramp.
  picture.SetFormat(PixelFormat::k8Bit);
  picture.SetPalette(GreyRamp());
  image_->CopyToBitmap(picture, 0, 0);
  return BitmapToQImage(picture);
}

void TPngGraphic::Draw(QPainter& canvas, const QRect&) const {
  const QImage picture = ToQImage();
  if (!picture.isNull()) canvas.drawImage(QPoint(0, 0), picture);
}

void TPngGraphic::LoadFromFile(const std::filesystem::path& file_name) {
  if (!image_) image_ = std::make_shared<TPngImage>();
  image_->LoadFromFile(file_name);
}

void TPngGraphic::LoadFromStream(std::istream& stream) {
  if (image_) image_->LoadFromStream(stream);
}

void TPngGraphic::SaveToFile(const std::filesystem::path& file_name) const {
  if (image_) image_->SaveToFile(file_name);
}

void TPngGraphic::SaveToStream(std::ostream& stream) const {
  if (image_) image_->SaveToStream(stream);
}

void TPngGraphic::LoadFromClipboardFormat(const QMimeData&) {
  throw Error("Cannot load a TPngGraphic from the Clipboard");
}

void TPngGraphic::SaveToClipboardFormat(QMimeData&) const {
  throw Error("Cannot save a TPngGraphic to the Clipboard");
}

}  // namespace tessaly
