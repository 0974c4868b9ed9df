// The self-sizing picture control.
#include "gui/picture_control.h"

#include <QPainter>

#include "gui/bitmap_qimage.h"

namespace tessaly {

PictureControl::PictureControl(QWidget* parent) : QWidget(parent) {
  resize(0, 0);
}

void PictureControl::SetPicture(const Bitmap& bitmap) {
  picture_ = BitmapToQImage(bitmap);
  resize(picture_.size().isValid() ? picture_.size() : QSize(0, 0));
}

void PictureControl::paintEvent(QPaintEvent*) {
  if (picture_.isNull()) return;
  QPainter painter(this);
  painter.drawImage(QPoint(0, 0), picture_);
}

}  // namespace tessaly
