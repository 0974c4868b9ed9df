// The self-sizing or fitting picture control.
#include "gui/picture_control.h"

#include <QPainter>

namespace tessaly {

PictureControl::PictureControl(QWidget* parent) : QWidget(parent) {
  resize(0, 0);
}

void PictureControl::SetPicture(const QImage& picture) {
  // The same picture again keeps its scaled copy.
  if (picture.cacheKey() == picture_.cacheKey()) return;
  picture_ = picture;
  scaled_ = QImage();
  if (!fitted_) resize(picture_.size().isValid() ? picture_.size() : QSize(0, 0));
  update();
}

void PictureControl::SetFitted(bool fitted) {
  fitted_ = fitted;
  scaled_ = QImage();
  if (!fitted_) resize(picture_.size().isValid() ? picture_.size() : QSize(0, 0));
  update();
}

QRect PictureControl::PictureRect() const {
  if (picture_.isNull()) return {};
  if (!fitted_) return {QPoint(0, 0), picture_.size()};
  const QSize size = picture_.size().scaled(this->size(), Qt::KeepAspectRatio);
  if (size.isEmpty()) return {};
  // Centred, so a picture narrower than the pane does not cling to one side.
  return {QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size};
}

void PictureControl::paintEvent(QPaintEvent*) {
  const QRect target = PictureRect();
  if (target.isEmpty()) return;
  QPainter painter(this);
  if (!fitted_ || target.size() == picture_.size()) {
    painter.drawImage(target.topLeft(), picture_);
    return;
  }
  if (scaled_.size() != target.size()) {
    scaled_ = picture_.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
  painter.drawImage(target.topLeft(), scaled_);
}

}  // namespace tessaly
