// The contact sheet's window.
#include "gui/sheet_viewer.h"

#include <QAction>
#include <QKeySequence>
#include <QScreen>
#include <QVBoxLayout>

#include "gui/picture_control.h"
#include "gui/picture_pane.h"

namespace tessaly {

namespace {

// Room for the pane's frame and focus mark around the sheet, so that a sheet that fits the
// screen shows whole without scroll bars.
constexpr int kPaneBorder = 8;
// Of the screen's free area, what the window may take at most.
constexpr double kScreenShare = 0.9;

}  // namespace

SheetViewer::SheetViewer(QWidget* owner) : QWidget(owner, Qt::Window) {
  setObjectName("SheetViewer");
  setAttribute(Qt::WA_DeleteOnClose);
  picture_ = new PictureControl;
  picture_->setObjectName("SheetPicture");
  pane_ = new PicturePane(picture_, this);
  pane_->setObjectName("SheetPane");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(pane_);
  auto* close_action = new QAction(QStringLiteral("Close"), this);
  close_action->setShortcuts({QKeySequence(Qt::Key_Escape), QKeySequence(QKeySequence::Close)});
  connect(close_action, &QAction::triggered, this, &QWidget::close);
  addAction(close_action);
}

void SheetViewer::ShowSheet(const QImage& sheet, const QString& title) {
  setWindowTitle(title);
  picture_->SetPicture(sheet);
  QSize wanted = sheet.size() + QSize(kPaneBorder, kPaneBorder);
  if (const QScreen* on = parentWidget() != nullptr ? parentWidget()->screen() : screen()) {
    wanted = wanted.boundedTo(on->availableGeometry().size() * kScreenShare);
  }
  resize(wanted);
  show();
  raise();
  activateWindow();
  pane_->setFocus();
}

}  // namespace tessaly
