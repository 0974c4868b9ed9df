// A drag delivered by events, in the order and to the widget Qt's own delivery chooses.
#include "support/qt_drag_simulation.h"

#include <QCoreApplication>
#include <QDragEnterEvent>

namespace tessaly {

Qt::DropAction SimulateDrop(QWidget* receiver, const QMimeData& data, QPoint pos,
                            Qt::DropActions offered, Qt::KeyboardModifiers modifiers) {
  QWidget* target = receiver;
  while (target != nullptr && !target->acceptDrops() && !target->isWindow()) {
    pos = target->mapToParent(pos);
    target = target->parentWidget();
  }
  if (target == nullptr || !target->acceptDrops()) return Qt::IgnoreAction;

  QDragEnterEvent enter(pos, offered, &data, Qt::LeftButton, modifiers);
  QCoreApplication::sendEvent(target, &enter);
  // Qt follows every enter with a move, which carries the enter's answer in.
  QDragMoveEvent move(pos, offered, &data, Qt::LeftButton, modifiers);
  move.setDropAction(enter.dropAction());
  move.setAccepted(enter.isAccepted());
  QCoreApplication::sendEvent(target, &move);
  if (!move.isAccepted() || move.dropAction() == Qt::IgnoreAction) {
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(target, &leave);
    return Qt::IgnoreAction;
  }
  QDropEvent drop(pos, offered, &data, Qt::LeftButton, modifiers);
  drop.setDropAction(move.dropAction());
  QCoreApplication::sendEvent(target, &drop);
  return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
}

}  // namespace tessaly
