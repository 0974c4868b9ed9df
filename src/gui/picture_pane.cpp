// The picture pane with its fit switch and focus mark.
#include "gui/picture_pane.h"

#include <QAction>
#include <QActionGroup>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "gui/picture_control.h"

namespace tessaly {

namespace {

// The focus mark is drawn over the pane's frame and a ring of the same width inside it, kept
// clear of the picture.
constexpr int kFocusMarkWidth = 2;

}  // namespace

PicturePane::PicturePane(PictureControl* picture, QWidget* parent)
    : QScrollArea(parent), picture_(picture) {
  setFocusPolicy(Qt::StrongFocus);
  setWidgetResizable(false);
  setWidget(picture_);
  const int ring = std::max(0, kFocusMarkWidth - frameWidth());
  setViewportMargins(ring, ring, ring, ring);
  horizontalScrollBar()->setTracking(true);
  verticalScrollBar()->setTracking(true);

  viewGroup_ = new QActionGroup(this);
  fitAction_ = new QAction(QString::fromLatin1(kFitToPaneText), viewGroup_);
  actualSizeAction_ = new QAction(QString::fromLatin1(kActualSizeText), viewGroup_);
  fitAction_->setCheckable(true);
  actualSizeAction_->setCheckable(true);
  actualSizeAction_->setChecked(true);
  connect(fitAction_, &QAction::triggered, this, [this] { UserSetFitted(true); });
  connect(actualSizeAction_, &QAction::triggered, this, [this] { UserSetFitted(false); });
}

void PicturePane::SetFitted(bool fitted) {
  fitted_ = fitted;
  (fitted ? fitAction_ : actualSizeAction_)->setChecked(true);
  // Fitted, the scroll area gives the control the whole viewport and no scroll bars are needed.
  setWidgetResizable(fitted);
  picture_->SetFitted(fitted);
}

void PicturePane::UserSetFitted(bool fitted) {
  if (fitted == fitted_) return;
  SetFitted(fitted);
  if (OnFitChanged) OnFitChanged();
}

void PicturePane::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QScrollArea::mouseDoubleClickEvent(event);
  UserSetFitted(!fitted_);
  event->accept();
}

void PicturePane::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(fitAction_);
  menu.addAction(actualSizeAction_);
  // What the window offers for the picture shown, below the pane's own view.
  QList<QAction*> offered;
  for (QAction* action : actions()) {
    if (action->isVisible()) offered.push_back(action);
  }
  if (!offered.isEmpty()) {
    menu.addSeparator();
    menu.addActions(offered);
  }
  menu.exec(event->globalPos());
  event->accept();
}

bool PicturePane::event(QEvent* event) {
  const bool handled = QScrollArea::event(event);
  switch (event->type()) {
    case QEvent::Paint:
      if (hasFocus()) {
        QPainter painter(this);
        QPen pen(palette().color(QPalette::Highlight), kFocusMarkWidth);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
      }
      break;
    case QEvent::FocusIn:
    case QEvent::FocusOut:
      update();
      break;
    default:
      break;
  }
  return handled;
}

}  // namespace tessaly
