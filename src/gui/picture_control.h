// The picture control of the window's two panes: shows one bitmap at its natural size and sizes
// itself to it, inside a scroll area. Used by the main form for ImageIn and ImageOut.
#pragma once

#include <QImage>
#include <QWidget>

#include "picture_store/bitmap.h"

namespace tessaly {

class PictureControl : public QWidget {
 public:
  explicit PictureControl(QWidget* parent = nullptr);

  // Takes a copy of the bitmap's picture (an empty bitmap shows nothing) and resizes to it.
  void SetPicture(const Bitmap& bitmap);
  const QImage& Picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage picture_;
};

}  // namespace tessaly
