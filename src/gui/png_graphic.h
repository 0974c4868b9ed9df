// TPngGraphic: a picture object over a shared TPngImage, as the picture-format handlers and any
// picture control of the window use it; size changes and clipboard transfers are refused.
#pragma once

#include <QImage>

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>

#include "picture_files/png_image.h"

class QMimeData;
class QPainter;
class QRect;

namespace tessaly {

class TPngGraphic {
 public:
  // Starts transparent, with a new empty image that expands every picture to RGB.
  TPngGraphic();
  TPngGraphic(const TPngGraphic&) = delete;
  TPngGraphic& operator=(const TPngGraphic&) = delete;

  // Shows the source's image from now on (the image is shared, not copied) and signals a change.
  void Assign(const TPngGraphic& source);

  // True only without an image; a new graphic has one, of size 0 x 0.
  bool GetEmpty() const { return image_ == nullptr; }
  int GetWidth() const;
  int GetHeight() const;
  // The picture's size is the file's: both raise Error and change nothing.
  [[noreturn]] void SetWidth(int width);
  [[noreturn]] void SetHeight(int height);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool transparent) { transparent_ = transparent; }

  // Draws the picture in its natural size at the canvas origin; `rect` is not used.
  void Draw(QPainter& canvas, const QRect& rect) const;
  // The picture as Draw paints it; a null image for an empty picture.
  QImage ToQImage() const;

  // Loading does not signal a change by itself.
  void LoadFromFile(const std::filesystem::path& file_name);
  void LoadFromStream(std::istream& stream);
  void SaveToFile(const std::filesystem::path& file_name) const;
  void SaveToStream(std::ostream& stream) const;

  // The clipboard holds no PNG pictures: both raise Error.
  [[noreturn]] void LoadFromClipboardFormat(const QMimeData& data);
  [[noreturn]] void SaveToClipboardFormat(QMimeData& data) const;

  const std::shared_ptr<TPngImage>& Image() const { return image_; }
  // Runs when the graphic starts showing another picture.
  std::function<void()> OnChange;

 private:
  void Changed();

  std::shared_ptr<TPngImage> image_;
  bool transparent_ = false;
};

}  // namespace tessaly
