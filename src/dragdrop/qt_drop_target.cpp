// Qt side of the file drop target: data objects over QMimeData, the QTimer, the widget adapter.
#include "dragdrop/qt_drop_target.h"

#include <QAbstractScrollArea>
#include <QClipboard>
#include <QDropEvent>
#include <QFontInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QScrollBar>
#include <QUrl>

#include "dragdrop/drop_files.h"

namespace tessaly {

namespace {

// Marks a widget registered, so that a second registration is refused as the platform would.
constexpr char kRegisteredProperty[] = "tessalyDropTargetRegistered";

// Formats other than the file list travel under the name Qt gives native clipboard formats.
QString NativeMimeType(std::string_view format) {
  const QString name = QString::fromUtf8(format.data(), static_cast<qsizetype>(format.size()));
  return QStringLiteral("application/x-qt-windows-mime;value=\"%1\"").arg(name);
}

// Qt's copy, move and link actions carry the same bits as the drop effects.
DropEffect OfferedEffects(Qt::DropActions actions) {
  return static_cast<DropEffect>(actions.toInt()) &
         (DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK);
}

Qt::DropAction ActionFor(DropEffect effect) {
  if ((effect & DROPEFFECT_COPY) != 0) return Qt::CopyAction;
  if ((effect & DROPEFFECT_MOVE) != 0) return Qt::MoveAction;
  if ((effect & DROPEFFECT_LINK) != 0) return Qt::LinkAction;
  return Qt::IgnoreAction;
}

TShiftState ShiftStateOf(const QDropEvent& event) {
  TShiftState shift;
  const Qt::KeyboardModifiers keys = event.modifiers();
  const Qt::MouseButtons buttons = event.buttons();
  if (keys.testFlag(Qt::ShiftModifier)) shift.Include(ssShift);
  if (keys.testFlag(Qt::ControlModifier)) shift.Include(ssCtrl);
  if (keys.testFlag(Qt::AltModifier)) shift.Include(ssAlt);
  if (buttons.testFlag(Qt::LeftButton)) shift.Include(ssLeft);
  if (buttons.testFlag(Qt::RightButton)) shift.Include(ssRight);
  if (buttons.testFlag(Qt::MiddleButton)) shift.Include(ssMiddle);
  return shift;
}

// Tells Qt the chosen effect; refusing leaves the event ignored.
void Answer(QDropEvent& event, DropEffect effect) {
  const Qt::DropAction action = ActionFor(effect);
  event.setDropAction(action);
  event.setAccepted(action != Qt::IgnoreAction);
}

}  // namespace

std::vector<std::string> QtMimeDataObject::LocalFiles() const {
  std::vector<std::string> files;
  if (data_.isNull() || !data_->hasUrls()) return files;
  for (const QUrl& url : data_->urls()) {
    if (url.isLocalFile()) files.push_back(url.toLocalFile().toStdString());
  }
  return files;
}

bool QtMimeDataObject::QueryGetData(std::string_view format) const {
  if (data_.isNull()) return false;
  if (format == kFormatHDrop) return !LocalFiles().empty();
  return data_->hasFormat(NativeMimeType(format));
}

std::optional<std::vector<std::uint8_t>> QtMimeDataObject::GetData(std::string_view format) const {
  if (data_.isNull()) return std::nullopt;
  if (format == kFormatHDrop) {
    const std::vector<std::string> files = LocalFiles();
    if (files.empty()) return std::nullopt;
    return MakeDropFiles(files, true);
  }
  const QString mime = NativeMimeType(format);
  if (!data_->hasFormat(mime)) return std::nullopt;
  const QByteArray bytes = data_->data(mime);
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

QtDropTimer::QtDropTimer() {
  QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
    if (OnTimer) OnTimer();
  });
}

void QtDropTimer::SetEnabled(bool enabled) {
  if (enabled == timer_.isActive()) return;  // restarting would postpone the next tick
  if (enabled) {
    timer_.start();
  } else {
    timer_.stop();
  }
}

QtDropControl::~QtDropControl() {
  if (target_ != nullptr && !widget_.isNull()) RevokeDragDrop();
}

std::string QtDropControl::Name() const {
  return widget_.isNull() ? std::string() : widget_->objectName().toStdString();
}

QWidget* QtDropControl::Client() const {
  if (auto* area = qobject_cast<QAbstractScrollArea*>(widget_.data())) return area->viewport();
  return widget_.data();
}

bool QtDropControl::RegisterDragDrop(TDropTarget& target) {
  if (widget_.isNull() || target_ != nullptr || widget_->property(kRegisteredProperty).toBool()) {
    return false;
  }
  QWidget* client = Client();
  client_accepted_drops_ = client->acceptDrops();
  widget_accepted_drops_ = widget_->acceptDrops();
  widget_->setAcceptDrops(true);
  // A scroll area passes the flag on to its viewport; drags over the viewport must reach the
  // area itself, so that they arrive in one place whatever part of the area is under them.
  if (client != widget_) client->setAcceptDrops(false);
  widget_->installEventFilter(this);
  widget_->setProperty(kRegisteredProperty, true);
  target_ = &target;
  return true;
}

bool QtDropControl::RevokeDragDrop() {
  if (widget_.isNull() || target_ == nullptr) return false;
  widget_->removeEventFilter(this);
  widget_->setProperty(kRegisteredProperty, QVariant());
  widget_->setAcceptDrops(widget_accepted_drops_);
  QWidget* client = Client();
  if (client != widget_) client->setAcceptDrops(client_accepted_drops_);
  target_ = nullptr;
  drag_data_.reset();
  return true;
}

TSize QtDropControl::ClientSize() const {
  QWidget* client = Client();
  if (client == nullptr) return {};
  return {client->width(), client->height()};
}

int QtDropControl::FontHeight() const {
  return widget_.isNull() ? 0 : QFontInfo(widget_->font()).pixelSize();
}

TScrollDirections QtDropControl::ScrollBars() const {
  TScrollDirections bars;
  auto* area = qobject_cast<QAbstractScrollArea*>(widget_.data());
  if (area == nullptr) return bars;
  if (area->horizontalScrollBar()->isVisibleTo(area)) bars.Include(sdHorizontal);
  if (area->verticalScrollBar()->isVisibleTo(area)) bars.Include(sdVertical);
  return bars;
}

void QtDropControl::ScrollLine(TScrollDirection direction, bool forward) {
  auto* area = qobject_cast<QAbstractScrollArea*>(widget_.data());
  if (area == nullptr) return;
  QScrollBar* bar =
      direction == sdVertical ? area->verticalScrollBar() : area->horizontalScrollBar();
  bar->triggerAction(forward ? QAbstractSlider::SliderSingleStepAdd
                             : QAbstractSlider::SliderSingleStepSub);
}

TPoint QtDropControl::ClientPoint(const QDropEvent& event) const {
  QPoint point = event.position().toPoint();
  QWidget* client = Client();
  if (client != widget_.data()) point = client->mapFrom(widget_.data(), point);
  return {point.x(), point.y()};
}

bool QtDropControl::eventFilter(QObject* watched, QEvent* event) {
  if (watched != widget_.data() || target_ == nullptr) return QObject::eventFilter(watched, event);
  // A handler may unregister the target, which would free this adapter in mid-event.
  const std::shared_ptr<QtDropControl> keep_alive = weak_from_this().lock();
  switch (event->type()) {
    case QEvent::DragEnter:
      Enter(static_cast<QDropEvent&>(*event));
      return true;
    case QEvent::DragMove:
      Move(static_cast<QDropEvent&>(*event));
      return true;
    case QEvent::DragLeave:
      drag_data_.reset();
      target_->DragLeave();
      return true;
    case QEvent::Drop:
      Drop(static_cast<QDropEvent&>(*event));
      return true;
    default:
      return QObject::eventFilter(watched, event);
  }
}

void QtDropControl::Enter(QDropEvent& event) {
  drag_data_ = std::make_shared<QtMimeDataObject>(event.mimeData());
  DropEffect effect = OfferedEffects(event.possibleActions());
  target_->DragEnter(drag_data_, ShiftStateOf(event), ClientPoint(event), effect);
  // Qt sends the moves and the leave of a drag only to a widget that took its enter, and the
  // target must see the leave even of data it refuses. The source goes by the answer to the move
  // that always follows the enter, so taking the enter accepts nothing.
  event.setDropAction(ActionFor(effect));
  event.accept();
}

void QtDropControl::Move(QDropEvent& event) {
  if (drag_data_) drag_data_->Rebind(event.mimeData());
  DropEffect effect = OfferedEffects(event.possibleActions());
  target_->DragOver(ShiftStateOf(event), ClientPoint(event), effect);
  Answer(event, effect);
}

void QtDropControl::Drop(QDropEvent& event) {
  // The target keeps its own reference until the drop is over.
  const std::shared_ptr<QtMimeDataObject> data = std::move(drag_data_);
  if (data) data->Rebind(event.mimeData());
  DropEffect effect = OfferedEffects(event.possibleActions());
  target_->Drop(ShiftStateOf(event), ClientPoint(event), effect);
  Answer(event, effect);
}

void QtDropFileTarget::RegisterTarget(QWidget* control) {
  const QtDropControl* current = dynamic_cast<const QtDropControl*>(Target());
  if (control != nullptr && current != nullptr && current->Widget() == control) return;
  std::shared_ptr<TDropControl> wrapped;
  if (control != nullptr) wrapped = std::make_shared<QtDropControl>(control);
  TDropFileTarget::RegisterTarget(std::move(wrapped));
}

QWidget* QtDropFileTarget::TargetWidget() const {
  const QtDropControl* current = dynamic_cast<const QtDropControl*>(Target());
  return current != nullptr ? current->Widget() : nullptr;
}

DropEffect QtDropFileTarget::ReadClipboard() {
  const QtMimeDataObject clipboard(QGuiApplication::clipboard()->mimeData());
  return ReadClipboard(clipboard);
}

}  // namespace tessaly
