// TDropTarget: follows a drag over one registered control (effect choice, auto-scrolling near its
// edges) and raises OnDrop when data is dropped. Base of TDropFileTarget; used by the main window.
#pragma once

#include <functional>
#include <memory>

#include "dragdrop/drop_types.h"

namespace tessaly {

class TDropTarget {
 public:
  using TDropTargetEvent = std::function<void(TDropTarget& Sender, TShiftState ShiftState,
                                              TPoint Point, DropEffect& Effect)>;
  using TNotifyEvent = std::function<void(TDropTarget& Sender)>;

  // Auto-scrolling steps one line per tick of this many milliseconds.
  static constexpr int kScrollInterval = 100;

  // The timer is owned from here on; its ticks run ScrollTick.
  explicit TDropTarget(std::unique_ptr<TDropTimer> scroll_timer);
  // Revokes the registration; a refusal then is swallowed, as a destructor must not throw.
  virtual ~TDropTarget();
  TDropTarget(const TDropTarget&) = delete;
  TDropTarget& operator=(const TDropTarget&) = delete;

  TDragTypes Dragtypes;
  bool GetDataOnEnter = false;
  // Kept for the form settings; this platform shows no drag image.
  bool ShowImage = true;
  TDropTargetEvent OnEnter;
  TDropTargetEvent OnDragOver;
  TNotifyEvent OnLeave;
  TDropTargetEvent OnDrop;
  // When set, replaces the built-in choice: it gets the allowed effects and leaves its choice.
  TDropTargetEvent OnGetDropEffect;

  // Makes `control` (or none) the drop target. Throws Error "Failed to Register " + name when
  // the platform refuses; the control then stays the target.
  void RegisterTarget(std::shared_ptr<TDropControl> control);
  // Throws Error "Failed to Unregister " + name when the platform refuses.
  void UnregisterTarget();
  TDropControl* Target() const { return target_.get(); }

  // The drag over the registered control, as the platform delivers it: the keys held, the point
  // in client coordinates, and `effect` in as the effects the source allows, out as the choice.
  void DragEnter(std::shared_ptr<const TDataObject> data_object, TShiftState shift, TPoint point,
                 DropEffect& effect);
  void DragOver(TShiftState shift, TPoint point, DropEffect& effect);
  void DragLeave();
  // Uses the data object kept since DragEnter.
  void Drop(TShiftState shift, TPoint point, DropEffect& effect);
  // One tick of the scroll timer: one line towards each edge whose zone holds LastPoint.
  void ScrollTick();

  virtual DropEffect ChooseDropEffect(TShiftState shift, TPoint point, DropEffect offered);
  // The "Preferred DropEffect" held by the clipboard, or none.
  virtual DropEffect ReadClipboard(const TDataObject& clipboard);

  TPoint LastPoint() const { return last_point_; }
  int ScrollMargin() const { return scroll_margin_; }
  TScrollDirections ScrollDirections() const { return scroll_directions_; }
  const TDropTimer& ScrollTimer() const { return *scroll_timer_; }
  // True from an accepted DragEnter until DragLeave or Drop.
  bool Dragging() const { return data_object_ != nullptr; }

 protected:
  virtual void NotifyEnter(TShiftState shift, TPoint point, DropEffect& effect);
  virtual void NotifyDragOver(TShiftState shift, TPoint point, DropEffect& effect);
  virtual void NotifyDrop(TShiftState shift, TPoint point, DropEffect& effect);
  virtual void NotifyLeave();
  // Reads the kept data object; true when usable data was fetched.
  virtual bool FetchData() = 0;
  virtual void ResetData() = 0;
  virtual bool HasAcceptableFormat() const = 0;

  const TDataObject* DataObject() const { return data_object_.get(); }

 private:
  void EndDrop();

  std::shared_ptr<const TDataObject> data_object_;
  std::shared_ptr<TDropControl> target_;
  std::unique_ptr<TDropTimer> scroll_timer_;
  TPoint last_point_;
  int scroll_margin_ = 0;
  TScrollDirections scroll_directions_;
  bool fetched_on_enter_ = false;
};

}  // namespace tessaly
