// The picture control of the window's two panes: shows one bitmap either at its natural size,
// sizing itself to it inside a scroll area, or fitted to the room it is given (aspect kept,
// smoothly scaled). Used by the main form for ImageIn and ImageOut.
#pragma once

#include <QImage>
#include <QWidget>

namespace tessaly {

class PictureControl : public QWidget {
 public:
  explicit PictureControl(QWidget* parent = nullptr);

  // Shows the picture (a null one shows nothing); at actual size the control resizes to it.
  void SetPicture(const QImage& picture);
  const QImage& Picture() const { return picture_; }

  // Fitted, the control leaves its size to its owner and scales the picture into it.
  void SetFitted(bool fitted);
  bool Fitted() const { return fitted_; }
  // Where the picture is drawn within the control.
  QRect PictureRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage picture_;
  // The fitted picture is scaled once per size, not on every paint.
  QImage scaled_;
  bool fitted_ = false;
};

}  // namespace tessaly
