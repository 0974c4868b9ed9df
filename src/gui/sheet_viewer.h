// A window of its own that shows a contact sheet in the viewer the main window's panes use: at
// actual size with scroll bars, or fitted to the window (double-click or its context menu).
// Escape or Ctrl+W closes it. Used by the main form's day's contact sheet.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

namespace tessaly {

class PictureControl;
class PicturePane;

class SheetViewer : public QWidget {
 public:
  // A window over `owner`, freed when it is closed or when the owner goes.
  explicit SheetViewer(QWidget* owner);

  // Shows `sheet` under `title`, the window sized to the sheet as far as the screen allows.
  void ShowSheet(const QImage& sheet, const QString& title);

  PicturePane* Pane() const { return pane_; }
  PictureControl* Picture() const { return picture_; }

 private:
  PictureControl* picture_;
  PicturePane* pane_;
};

}  // namespace tessaly
