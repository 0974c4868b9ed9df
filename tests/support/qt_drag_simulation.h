// Sends a whole drag (enter, move, then drop or leave) to a widget as Qt would deliver it; for
// tests of windows that take dropped files.
#pragma once

#include <QMimeData>
#include <QPoint>
#include <QWidget>

namespace tessaly {

// Delivers the drag to `receiver` or, as Qt does, to its nearest ancestor in the same window
// that accepts drops, at `pos` in `receiver`'s coordinates. Returns the action of an accepted
// drop, or Qt::IgnoreAction when the drag was refused (a leave is then sent instead of the drop).
Qt::DropAction SimulateDrop(QWidget* receiver, const QMimeData& data, QPoint pos,
                            Qt::DropActions offered = Qt::CopyAction,
                            Qt::KeyboardModifiers modifiers = Qt::NoModifier);

}  // namespace tessaly
