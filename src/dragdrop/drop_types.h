// Drop effects, the small sets and points of a drag, and the seams through which a platform
// delivers drags to the drop target (data object, target control, scroll timer).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// The platform's drop-effect values; the scroll flag is added to one of the others.
using DropEffect = std::uint32_t;
inline constexpr DropEffect DROPEFFECT_NONE = 0;
inline constexpr DropEffect DROPEFFECT_COPY = 1;
inline constexpr DropEffect DROPEFFECT_MOVE = 2;
inline constexpr DropEffect DROPEFFECT_LINK = 4;
inline constexpr DropEffect DROPEFFECT_SCROLL = 0x80000000u;

// A set of enumeration members, one bit per member in declaration order.
template <typename E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> members) {
    for (E member : members) Include(member);
  }
  constexpr bool Contains(E member) const { return (bits_ & Bit(member)) != 0; }
  constexpr void Include(E member) { bits_ |= Bit(member); }
  constexpr void Exclude(E member) { bits_ &= ~Bit(member); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr std::uint32_t Bits() const { return bits_; }
  friend constexpr bool operator==(TSet, TSet) = default;

 private:
  static constexpr std::uint32_t Bit(E member) { return 1u << static_cast<unsigned>(member); }
  std::uint32_t bits_ = 0;
};

// Effects a target allows; the bits (1, 2, 4) match the copy, move and link effects.
enum TDragType : std::uint8_t { dtCopy, dtMove, dtLink };
using TDragTypes = TSet<TDragType>;

// Keys and mouse buttons held during a drag.
enum TShiftStateMember : std::uint8_t { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle };
using TShiftState = TSet<TShiftStateMember>;

// Scroll bars of the target control, and the directions the target may scroll in.
enum TScrollDirection : std::uint8_t { sdHorizontal, sdVertical };
using TScrollDirections = TSet<TScrollDirection>;

struct TPoint {
  int x = 0;
  int y = 0;
  friend constexpr bool operator==(TPoint, TPoint) = default;
};

struct TSize {
  int width = 0;
  int height = 0;
};

// Data formats are known by name; the file list has no registered name of its own.
inline constexpr std::string_view kFormatHDrop = "CF_HDROP";
inline constexpr std::string_view kFormatFileNameMap = "FileNameMap";
inline constexpr std::string_view kFormatFileNameMapW = "FileNameMapW";
inline constexpr std::string_view kFormatPreferredDropEffect = "Preferred DropEffect";

// The data of a drag (or of the clipboard), offered in named formats as blocks of bytes.
class TDataObject {
 public:
  virtual ~TDataObject() = default;
  virtual bool QueryGetData(std::string_view format) const = 0;
  // Empty when the format is not offered or cannot be delivered as a block.
  virtual std::optional<std::vector<std::uint8_t>> GetData(std::string_view format) const = 0;
};

class TDropTarget;

// The window control a drop target serves, as the platform provides it.
class TDropControl {
 public:
  virtual ~TDropControl() = default;
  // The control's name, for the registration errors.
  virtual std::string Name() const = 0;
  // False once the control's window is gone: nothing can be revoked then.
  virtual bool WindowExists() const = 0;
  // Start or stop delivering drags over the control to `target`; false when refused.
  virtual bool RegisterDragDrop(TDropTarget& target) = 0;
  virtual bool RevokeDragDrop() = 0;
  // The area that points are given in (scroll bars and frame excluded).
  virtual TSize ClientSize() const = 0;
  // Height of the control's font in pixels; its size sets the width of the scroll zones.
  virtual int FontHeight() const = 0;
  // The scroll bars the control shows at this moment.
  virtual TScrollDirections ScrollBars() const = 0;
  // Scrolls one line up or left (`forward` false), or down or right (`forward` true).
  virtual void ScrollLine(TScrollDirection direction, bool forward) = 0;
};

// A repeating timer on the thread that delivers the drags.
class TDropTimer {
 public:
  virtual ~TDropTimer() = default;
  virtual void SetInterval(int milliseconds) = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
  // Run on every tick while enabled.
  std::function<void()> OnTimer;
};

}  // namespace tessaly
