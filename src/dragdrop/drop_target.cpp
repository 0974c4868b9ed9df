// TDropTarget: registration, the drag sequence, the effect choice and auto-scrolling.
#include "dragdrop/drop_target.h"

#include <cstdlib>
#include <stdexcept>

#include "base/byte_order.h"
#include "base/errors.h"

namespace tessaly {

TDropTarget::TDropTarget(std::unique_ptr<TDropTimer> scroll_timer)
    : scroll_timer_(std::move(scroll_timer)) {
  if (!scroll_timer_) throw std::invalid_argument("TDropTarget needs a scroll timer");
  scroll_timer_->SetInterval(kScrollInterval);
  scroll_timer_->SetEnabled(false);
  scroll_timer_->OnTimer = [this] { ScrollTick(); };
}

TDropTarget::~TDropTarget() {
  scroll_timer_.reset();
  try {
    UnregisterTarget();
  } catch (...) {
    // Nothing sensible can be done with a refused revocation while the component goes away.
  }
}

void TDropTarget::RegisterTarget(std::shared_ptr<TDropControl> control) {
  if (control == target_) return;
  if (target_) UnregisterTarget();
  target_ = std::move(control);
  if (!target_) return;
  if (!target_->RegisterDragDrop(*this)) throw Error("Failed to Register " + target_->Name());
}

void TDropTarget::UnregisterTarget() {
  if (!target_ || !target_->WindowExists()) return;
  if (!target_->RevokeDragDrop()) throw Error("Failed to Unregister " + target_->Name());
  target_.reset();
}

void TDropTarget::DragEnter(std::shared_ptr<const TDataObject> data_object, TShiftState shift,
                            TPoint point, DropEffect& effect) {
  // A new drag never inherits the scrolling of one that ended without a leave.
  scroll_timer_->SetEnabled(false);
  ResetData();
  data_object_ = std::move(data_object);
  last_point_ = point;
  if (!data_object_ || !HasAcceptableFormat()) {
    data_object_.reset();
    effect = DROPEFFECT_NONE;
    return;
  }
  scroll_directions_ = {};
  scroll_margin_ = 0;
  if (target_) {
    scroll_margin_ = std::abs(target_->FontHeight());
    scroll_directions_ = target_->ScrollBars();
  }
  fetched_on_enter_ = GetDataOnEnter && FetchData();
  effect = ChooseDropEffect(shift, point, effect);
  NotifyEnter(shift, point, effect);
}

void TDropTarget::DragOver(TShiftState shift, TPoint point, DropEffect& effect) {
  if (data_object_) {
    effect = ChooseDropEffect(shift, point, effect);
    NotifyDragOver(shift, point, effect);
    const bool scrolling = !scroll_directions_.Empty() && (effect & DROPEFFECT_SCROLL) != 0;
    scroll_timer_->SetEnabled(scrolling);
  } else {
    effect = DROPEFFECT_NONE;
  }
  // Handlers of OnDragOver still see the previous point.
  last_point_ = point;
}

void TDropTarget::DragLeave() {
  ResetData();
  scroll_timer_->SetEnabled(false);
  data_object_.reset();
  NotifyLeave();
}

void TDropTarget::Drop(TShiftState shift, TPoint point, DropEffect& effect) {
  if (!data_object_) {
    effect = DROPEFFECT_NONE;
    return;
  }
  scroll_timer_->SetEnabled(false);
  effect = ChooseDropEffect(shift, point, effect);
  // A drop the source allows no effect for is no drop; with the data fetched on entry, an
  // empty or unreadable list is no drop either.
  const bool allowed = (effect & ~DROPEFFECT_SCROLL) != DROPEFFECT_NONE;
  try {
    if (allowed && (GetDataOnEnter ? fetched_on_enter_ : FetchData())) {
      NotifyDrop(shift, point, effect);
    } else {
      effect = DROPEFFECT_NONE;
    }
  } catch (...) {
    EndDrop();
    throw;
  }
  EndDrop();
}

// The fetched data is valid only while OnDrop runs, even when the handler throws.
void TDropTarget::EndDrop() {
  ResetData();
  data_object_.reset();
  fetched_on_enter_ = false;
}

void TDropTarget::ScrollTick() {
  if (!target_) return;
  const TSize client = target_->ClientSize();
  const int margin = scroll_margin_;
  if (last_point_.y < margin) {
    target_->ScrollLine(sdVertical, false);
  } else if (last_point_.y > client.height - margin) {
    target_->ScrollLine(sdVertical, true);
  }
  if (last_point_.x < margin) {
    target_->ScrollLine(sdHorizontal, false);
  } else if (last_point_.x > client.width - margin) {
    target_->ScrollLine(sdHorizontal, true);
  }
}

DropEffect TDropTarget::ChooseDropEffect(TShiftState shift, TPoint point, DropEffect offered) {
  DropEffect allowed = offered;
  if (!Dragtypes.Contains(dtCopy)) allowed &= ~DROPEFFECT_COPY;
  if (!Dragtypes.Contains(dtMove)) allowed &= ~DROPEFFECT_MOVE;
  if (!Dragtypes.Contains(dtLink)) allowed &= ~DROPEFFECT_LINK;
  if (OnGetDropEffect) {
    OnGetDropEffect(*this, shift, point, allowed);
    return allowed;
  }
  const bool shift_held = shift.Contains(ssShift);
  const bool ctrl_held = shift.Contains(ssCtrl);
  auto can = [allowed](DropEffect e) { return (allowed & e) != 0; };
  DropEffect effect = DROPEFFECT_NONE;
  if (shift_held && ctrl_held && can(DROPEFFECT_LINK)) {
    effect = DROPEFFECT_LINK;
  } else if (shift_held && !ctrl_held && can(DROPEFFECT_MOVE)) {
    effect = DROPEFFECT_MOVE;
  } else if (can(DROPEFFECT_COPY)) {
    effect = DROPEFFECT_COPY;
  } else if (can(DROPEFFECT_MOVE)) {
    effect = DROPEFFECT_MOVE;
  } else if (can(DROPEFFECT_LINK)) {
    effect = DROPEFFECT_LINK;
  }
  if (scroll_directions_.Empty() || !target_) return effect;
  const TSize client = target_->ClientSize();
  const int m = scroll_margin_;
  const bool near_side = point.x < m || point.x > client.width - m;
  const bool near_top_or_bottom = point.y < m || point.y > client.height - m;
  if ((scroll_directions_.Contains(sdHorizontal) && near_side) ||
      (scroll_directions_.Contains(sdVertical) && near_top_or_bottom)) {
    effect |= DROPEFFECT_SCROLL;
  }
  return effect;
}

DropEffect TDropTarget::ReadClipboard(const TDataObject& clipboard) {
  const auto block = clipboard.GetData(kFormatPreferredDropEffect);
  if (!block || block->size() < 4) return DROPEFFECT_NONE;
  return static_cast<DropEffect>(LoadLe32(*block, 0));
}

void TDropTarget::NotifyEnter(TShiftState shift, TPoint point, DropEffect& effect) {
  if (OnEnter) OnEnter(*this, shift, point, effect);
}

void TDropTarget::NotifyDragOver(TShiftState shift, TPoint point, DropEffect& effect) {
  if (OnDragOver) OnDragOver(*this, shift, point, effect);
}

void TDropTarget::NotifyDrop(TShiftState shift, TPoint point, DropEffect& effect) {
  if (OnDrop) OnDrop(*this, shift, point, effect);
}

void TDropTarget::NotifyLeave() {
  if (OnLeave) OnLeave(*this);
}

}  // namespace tessaly
