// Qt side of the file drop target: Qt drag events over one widget, its scroll bars, a QTimer and
// QMimeData stand in for the platform. Used by the main window (left picture pane).
#pragma once

#include <QMimeData>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstddef>
#include <memory>

#include "dragdrop/drop_file_target.h"

class QDropEvent;
class QMimeData;

namespace tessaly {

// A drag's data or the clipboard's contents. The file list is offered when the data holds URLs of
// local files, as a wide file-list block built from them; any other format by its native name.
class QtMimeDataObject final : public TDataObject {
 public:
  explicit QtMimeDataObject(const QMimeData* data) : data_(data) {}
  // A drag may hand over a new QMimeData object for the same data between events.
  void Rebind(const QMimeData* data) { data_ = data; }

  bool QueryGetData(std::string_view format) const override;
  std::optional<std::vector<std::uint8_t>> GetData(std::string_view format) const override;

 private:
  std::vector<std::string> LocalFiles() const;

  QPointer<const QMimeData> data_;
};

// The scroll timer as a QTimer on the GUI thread.
class QtDropTimer final : public TDropTimer {
 public:
  QtDropTimer();
  void SetInterval(int milliseconds) override { timer_.setInterval(milliseconds); }
  void SetEnabled(bool enabled) override;
  bool Enabled() const override { return timer_.isActive(); }

 private:
  QTimer timer_;
};

// One widget as drop target. For a scroll area, drags over the whole area (scroll bars
// included) are taken, the client area is its viewport and scrolling moves its scroll bars.
// Registration refuses a widget that is gone or is already registered.
class QtDropControl final : public QObject,
                            public TDropControl,
                            public std::enable_shared_from_this<QtDropControl> {
 public:
  explicit QtDropControl(QWidget* widget) : widget_(widget) {}
  ~QtDropControl() override;

  QWidget* Widget() const { return widget_; }

  std::string Name() const override;
  bool WindowExists() const override { return !widget_.isNull(); }
  bool RegisterDragDrop(TDropTarget& target) override;
  bool RevokeDragDrop() override;
  TSize ClientSize() const override;
  int FontHeight() const override;
  TScrollDirections ScrollBars() const override;
  void ScrollLine(TScrollDirection direction, bool forward) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* Client() const;
  TPoint ClientPoint(const QDropEvent& event) const;
  void Enter(QDropEvent& event);
  void Move(QDropEvent& event);
  void Drop(QDropEvent& event);

  QPointer<QWidget> widget_;
  TDropTarget* target_ = nullptr;
  std::shared_ptr<QtMimeDataObject> drag_data_;
  bool widget_accepted_drops_ = false;
  bool client_accepted_drops_ = false;
};

// A file drop target for a Qt widget, with a QTimer for auto-scrolling.
class QtDropFileTarget : public TDropFileTarget {
 public:
  QtDropFileTarget() : TDropFileTarget(std::make_unique<QtDropTimer>()) {}

  using TDropFileTarget::RegisterTarget;
  // Makes `control` (or nullptr) the drop target; the widget already registered changes
  // nothing. Throws Error "Failed to Register " + the widget's objectName when refused.
  void RegisterTarget(QWidget* control);
  void RegisterTarget(std::nullptr_t) { RegisterTarget(static_cast<QWidget*>(nullptr)); }
  QWidget* TargetWidget() const;

  using TDropFileTarget::ReadClipboard;
  // Reads the system clipboard.
  DropEffect ReadClipboard();
};

}  // namespace tessaly
