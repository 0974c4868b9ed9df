// Tests of the drop target's logic against fake platform pieces: effect choice, the drag
// sequence, auto-scrolling, Files and the name maps, registration, the clipboard and IsFolder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <utility>

#include "base/errors.h"
#include "dragdrop/drop_file_target.h"
#include "dragdrop/drop_files.h"

namespace tessaly {
namespace {

using Names = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

class FakeTimer : public TDropTimer {
 public:
  void SetInterval(int ms) override { interval = ms; }
  void SetEnabled(bool on) override { enabled = on; }
  bool Enabled() const override { return enabled; }
  void Fire() { OnTimer(); }
  int interval = 0;
  bool enabled = true;
};

class FakeControl : public TDropControl {
 public:
  std::string Name() const override { return "ScrollBoxIn"; }
  bool WindowExists() const override { return exists; }
  bool RegisterDragDrop(TDropTarget& target) override {
    ++register_calls;
    if (refuse_register) return false;
    registered_to = &target;
    return true;
  }
  bool RevokeDragDrop() override {
    ++revoke_calls;
    if (refuse_revoke) return false;
    registered_to = nullptr;
    return true;
  }
  TSize ClientSize() const override { return {200, 100}; }
  int FontHeight() const override { return -11; }
  TScrollDirections ScrollBars() const override { return bars; }
  void ScrollLine(TScrollDirection d, bool forward) override { lines.emplace_back(d, forward); }

  bool exists = true, refuse_register = false, refuse_revoke = false;
  int register_calls = 0, revoke_calls = 0;
  TDropTarget* registered_to = nullptr;
  TScrollDirections bars;
  std::vector<std::pair<TScrollDirection, bool>> lines;
};

class FakeData : public TDataObject {
 public:
  bool QueryGetData(std::string_view format) const override {
    return blocks.count(std::string(format)) != 0;
  }
  std::optional<Bytes> GetData(std::string_view format) const override {
    ++get_calls;
    const auto it = blocks.find(std::string(format));
    if (it == blocks.end()) return std::nullopt;
    return it->second;
  }
  std::map<std::string, Bytes> blocks;
  mutable int get_calls = 0;
};

std::shared_ptr<FakeData> FileData(const Names& files) {
  auto data = std::make_shared<FakeData>();
  data->blocks[std::string(kFormatHDrop)] = MakeDropFiles(files, true);
  return data;
}

Bytes NameMap(const Names& names) {
  Bytes b;
  for (const auto& n : names) b.insert(b.end(), n.c_str(), n.c_str() + n.size() + 1);
  b.push_back(0);
  return b;
}

constexpr DropEffect kAll = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
constexpr TPoint kMiddle{100, 50};

class DropTargetTest : public ::testing::Test {
 protected:
  DropTargetTest() {
    auto timer = std::make_unique<FakeTimer>();
    timer_ = timer.get();
    target_ = std::make_unique<TDropFileTarget>(std::move(timer));
    target_->Dragtypes = {dtCopy};
    target_->RegisterTarget(control_);
    target_->OnEnter = [this](TDropTarget&, TShiftState, TPoint, DropEffect&) { ++enters_; };
    target_->OnDragOver = [this](TDropTarget&, TShiftState, TPoint, DropEffect&) { ++overs_; };
    target_->OnLeave = [this](TDropTarget&) { ++leaves_; };
    target_->OnDrop = [this](TDropTarget&, TShiftState, TPoint, DropEffect& effect) {
      dropped_ = target_->Files();
      mapped_ = target_->MappedNames();
      drop_effect_ = effect;
    };
  }

  DropEffect Enter(std::shared_ptr<const TDataObject> data, TPoint p = kMiddle,
                   DropEffect offered = kAll) {
    target_->DragEnter(std::move(data), {}, p, offered);
    return offered;
  }
  DropEffect Over(TPoint p, DropEffect offered = kAll) {
    target_->DragOver({}, p, offered);
    return offered;
  }
  DropEffect DropAt(TPoint p = kMiddle, DropEffect offered = kAll) {
    target_->Drop({}, p, offered);
    return offered;
  }

  std::shared_ptr<FakeControl> control_ = std::make_shared<FakeControl>();
  FakeTimer* timer_ = nullptr;
  std::unique_ptr<TDropFileTarget> target_;
  int enters_ = 0, overs_ = 0, leaves_ = 0;
  std::optional<Names> dropped_;
  Names mapped_;
  DropEffect drop_effect_ = 0;
};

TEST_F(DropTargetTest, ChooseDropEffectFollowsKeysAndAllowedEffects) {
  const TShiftState none, shift{ssShift}, ctrl{ssCtrl}, both{ssShift, ssCtrl};
  const TDragTypes all{dtCopy, dtMove, dtLink};
  struct Row {
    TDragTypes types;
    TShiftState keys;
    DropEffect offered, expected;
  } rows[] = {
      // The main form's [dtCopy]: copy whatever keys are held, none when copy is not offered.
      {{dtCopy}, none, kAll, DROPEFFECT_COPY},
      {{dtCopy}, shift, kAll, DROPEFFECT_COPY},
      {{dtCopy}, both, kAll, DROPEFFECT_COPY},
      {{dtCopy}, none, DROPEFFECT_MOVE | DROPEFFECT_LINK, DROPEFFECT_NONE},
      {{}, none, kAll, DROPEFFECT_NONE},
      {all, both, kAll, DROPEFFECT_LINK},
      {all, shift, kAll, DROPEFFECT_MOVE},
      {all, ctrl, kAll, DROPEFFECT_COPY},
      {all, both, DROPEFFECT_COPY | DROPEFFECT_MOVE, DROPEFFECT_COPY},  // no link: not move
      {all, shift, DROPEFFECT_COPY | DROPEFFECT_LINK, DROPEFFECT_COPY},
      {all, none, DROPEFFECT_MOVE | DROPEFFECT_LINK, DROPEFFECT_MOVE},
      {{dtMove, dtLink}, none, kAll, DROPEFFECT_MOVE},
      {all, shift, DROPEFFECT_LINK, DROPEFFECT_LINK},
  };
  for (const Row& row : rows) {
    target_->Dragtypes = row.types;
    EXPECT_EQ(target_->ChooseDropEffect(row.keys, kMiddle, row.offered), row.expected)
        << "types " << row.types.Bits() << " keys " << row.keys.Bits() << " offered "
        << row.offered;
  }
}

TEST_F(DropTargetTest, ScrollFlagOnlyInTheZonesOfExistingScrollBars) {
  control_->bars = {sdVertical};
  Enter(FileData({"/a"}));
  EXPECT_EQ(target_->ScrollMargin(), 11);
  EXPECT_EQ(target_->ChooseDropEffect({}, {100, 10}, kAll), DROPEFFECT_COPY | DROPEFFECT_SCROLL);
  EXPECT_EQ(target_->ChooseDropEffect({}, {100, 90}, kAll), DROPEFFECT_COPY | DROPEFFECT_SCROLL);
  EXPECT_EQ(target_->ChooseDropEffect({}, {100, 11}, kAll), DROPEFFECT_COPY);  // zone edges
  EXPECT_EQ(target_->ChooseDropEffect({}, {100, 89}, kAll), DROPEFFECT_COPY);
  EXPECT_EQ(target_->ChooseDropEffect({}, {3, 50}, kAll), DROPEFFECT_COPY);  // no horizontal bar
  EXPECT_EQ(target_->ChooseDropEffect({}, {100, 5}, DROPEFFECT_MOVE), DROPEFFECT_SCROLL);

  control_->bars = {};
  target_->DragLeave();
  Enter(FileData({"/a"}));
  EXPECT_EQ(target_->ChooseDropEffect({}, {1, 1}, kAll), DROPEFFECT_COPY);
}

TEST_F(DropTargetTest, OnGetDropEffectReplacesTheChoiceWithoutScrollFlag) {
  control_->bars = {sdHorizontal, sdVertical};
  Enter(FileData({"/a"}));
  DropEffect seen = 0;
  target_->OnGetDropEffect = [&seen](TDropTarget&, TShiftState, TPoint, DropEffect& effect) {
    seen = effect;
    effect = DROPEFFECT_LINK;
  };
  EXPECT_EQ(target_->ChooseDropEffect({ssShift}, {1, 1}, kAll), DROPEFFECT_LINK);
  EXPECT_EQ(seen, DROPEFFECT_COPY);  // the offer narrowed to the allowed [dtCopy]
  EXPECT_EQ(Over({1, 1}), DROPEFFECT_LINK);
  EXPECT_FALSE(timer_->Enabled());
}

TEST_F(DropTargetTest, DropHandsOverFilesOnlyWhileOnDropRuns) {
  EXPECT_EQ(Enter(FileData({"/pics/b.bmp", "/pics/a.png"})), DROPEFFECT_COPY);
  EXPECT_TRUE(target_->Files().empty());  // not fetched on entry
  EXPECT_EQ(Over({120, 60}), DROPEFFECT_COPY);
  EXPECT_EQ(target_->LastPoint(), (TPoint{120, 60}));
  EXPECT_EQ(DropAt(), DROPEFFECT_COPY);
  EXPECT_EQ(dropped_, (Names{"/pics/b.bmp", "/pics/a.png"}));
  EXPECT_EQ(drop_effect_, DROPEFFECT_COPY);
  EXPECT_TRUE(target_->Files().empty());
  EXPECT_FALSE(target_->Dragging());
  EXPECT_EQ(enters_, 1);
  EXPECT_EQ(overs_, 1);
  EXPECT_EQ(leaves_, 0);
}

TEST_F(DropTargetTest, ThrowingOnDropStillClearsFiles) {
  target_->OnDrop = [](TDropTarget&, TShiftState, TPoint, DropEffect&) {
    throw Error("second file failed");
  };
  Enter(FileData({"/a", "/b"}));
  EXPECT_THROW(DropAt(), Error);
  EXPECT_TRUE(target_->Files().empty());
  EXPECT_FALSE(target_->Dragging());
}

TEST_F(DropTargetTest, DataWithoutFileListIsRefusedThroughout) {
  auto text = std::make_shared<FakeData>();
  text->blocks["text/plain"] = {'h', 'i'};
  EXPECT_EQ(Enter(text), DROPEFFECT_NONE);
  EXPECT_EQ(Over({100, 5}), DROPEFFECT_NONE);
  EXPECT_EQ(DropAt(), DROPEFFECT_NONE);
  target_->DragLeave();
  EXPECT_EQ(enters_, 0);
  EXPECT_EQ(overs_, 0);
  EXPECT_FALSE(dropped_.has_value());
  EXPECT_EQ(leaves_, 1);
}

TEST_F(DropTargetTest, NoDropWithoutNamesOrWithoutAnAllowedEffect) {
  Enter(FileData({}));  // a file list offered, but empty
  EXPECT_EQ(DropAt(), DROPEFFECT_NONE);
  EXPECT_EQ(Enter(FileData({"/a"}), kMiddle, DROPEFFECT_MOVE), DROPEFFECT_NONE);
  EXPECT_EQ(DropAt(kMiddle, DROPEFFECT_MOVE), DROPEFFECT_NONE);
  target_->GetDataOnEnter = true;
  Enter(FileData({}));
  EXPECT_EQ(DropAt(), DROPEFFECT_NONE);
  EXPECT_FALSE(dropped_.has_value());
}

TEST_F(DropTargetTest, GetDataOnEnterFetchesOnceAtEntry) {
  target_->GetDataOnEnter = true;
  Names at_enter;
  target_->OnEnter = [&](TDropTarget&, TShiftState, TPoint, DropEffect&) {
    at_enter = target_->Files();
  };
  auto data = FileData({"/x.bmp"});
  Enter(data);
  const int calls_after_enter = data->get_calls;
  DropAt();
  EXPECT_EQ(at_enter, Names{"/x.bmp"});
  EXPECT_EQ(dropped_, Names{"/x.bmp"});
  EXPECT_EQ(data->get_calls, calls_after_enter);
}

TEST_F(DropTargetTest, NameMapsMustMatchTheFileListInLength) {
  auto data = FileData({"/a.bmp", "/b.bmp"});
  data->blocks["FileNameMap"] = NameMap({"A.BMP", "B.BMP"});
  data->blocks["FileNameMapW"] = MakeDropFiles({"ignored", "too"}, true);
  Enter(data);
  DropAt();
  EXPECT_EQ(mapped_, (Names{"A.BMP", "B.BMP"}));  // the 8-bit map wins when both are offered

  data->blocks["FileNameMap"] = NameMap({"A.BMP"});
  Enter(data);
  DropAt();
  EXPECT_EQ(dropped_->size(), 2u);
  EXPECT_TRUE(mapped_.empty());

  data->blocks.erase("FileNameMap");
  const Bytes wide_block = MakeDropFiles({"\xC3\x84.BMP", "B.BMP"}, true);
  data->blocks["FileNameMapW"] = Bytes(wide_block.begin() + 20, wide_block.end());
  Enter(data);
  DropAt();
  EXPECT_EQ(mapped_, (Names{"\xC3\x84.BMP", "B.BMP"}));
}

TEST_F(DropTargetTest, ScrollTimerRunsOnlyWhileDraggingInTheZone) {
  EXPECT_EQ(timer_->interval, 100);
  EXPECT_FALSE(timer_->Enabled());
  control_->bars = {sdHorizontal, sdVertical};
  Enter(FileData({"/a"}), {100, 5});
  EXPECT_FALSE(timer_->Enabled());  // only DragOver starts it
  Over({100, 5});
  EXPECT_TRUE(timer_->Enabled());
  timer_->Fire();
  timer_->Fire();
  using Line = std::pair<TScrollDirection, bool>;
  EXPECT_EQ(control_->lines, (std::vector<Line>{{sdVertical, false}, {sdVertical, false}}));

  control_->lines.clear();
  Over({195, 95});  // bottom-right corner: down and right on each tick
  timer_->Fire();
  EXPECT_EQ(control_->lines, (std::vector<Line>{{sdVertical, true}, {sdHorizontal, true}}));

  Over(kMiddle);
  EXPECT_FALSE(timer_->Enabled());
  Over({2, 50});
  EXPECT_TRUE(timer_->Enabled());
  target_->DragLeave();
  EXPECT_FALSE(timer_->Enabled());

  Enter(FileData({"/a"}));
  Over({100, 99});
  EXPECT_TRUE(timer_->Enabled());
  DropAt({100, 99});
  EXPECT_FALSE(timer_->Enabled());
  EXPECT_EQ(dropped_, Names{"/a"});
}

TEST_F(DropTargetTest, NoScrollingWithoutScrollBars) {
  Enter(FileData({"/a"}));
  Over({1, 1});
  EXPECT_FALSE(timer_->Enabled());
}

TEST_F(DropTargetTest, RegistrationFollowsTheTarget) {
  EXPECT_EQ(control_->registered_to, target_.get());
  target_->RegisterTarget(control_);
  EXPECT_EQ(control_->register_calls, 1);

  auto other = std::make_shared<FakeControl>();
  target_->RegisterTarget(other);
  EXPECT_EQ(control_->registered_to, nullptr);
  EXPECT_EQ(other->registered_to, target_.get());
  target_->RegisterTarget(nullptr);
  EXPECT_EQ(other->registered_to, nullptr);
  EXPECT_EQ(target_->Target(), nullptr);
}

TEST_F(DropTargetTest, RefusedRegistrationsRaiseTheirMessages) {
  target_->UnregisterTarget();
  auto refusing = std::make_shared<FakeControl>();
  refusing->refuse_register = true;
  try {
    target_->RegisterTarget(refusing);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Failed to Register ScrollBoxIn");
  }
  EXPECT_EQ(target_->Target(), refusing.get());

  target_->RegisterTarget(control_);
  control_->refuse_revoke = true;
  try {
    target_->UnregisterTarget();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Failed to Unregister ScrollBoxIn");
  }
  EXPECT_EQ(target_->Target(), control_.get());
  EXPECT_NO_THROW(target_.reset());  // the destructor contains the same refusal
}

TEST_F(DropTargetTest, NothingIsRevokedOnceTheWindowIsGone) {
  control_->exists = false;
  target_->UnregisterTarget();
  EXPECT_EQ(control_->revoke_calls, 0);
  EXPECT_EQ(target_->Target(), control_.get());
}

TEST_F(DropTargetTest, ReadClipboardTakesFilesAndThePreferredEffect) {
  auto clip = FileData({"/c/one", "/c/two"});
  EXPECT_EQ(target_->ReadClipboard(*clip), DROPEFFECT_COPY);
  EXPECT_EQ(target_->Files(), (Names{"/c/one", "/c/two"}));
  clip->blocks["Preferred DropEffect"] = {2, 0, 0, 0};
  EXPECT_EQ(target_->ReadClipboard(*clip), DROPEFFECT_MOVE);
  clip->blocks["Preferred DropEffect"] = {2, 0};  // too short to hold an effect
  EXPECT_EQ(target_->ReadClipboard(*clip), DROPEFFECT_COPY);
  EXPECT_EQ(target_->ReadClipboard(FakeData()), DROPEFFECT_NONE);
  EXPECT_EQ(target_->ReadClipboard(*FileData({})), DROPEFFECT_NONE);
}

TEST(IsFolderTest, TellsFoldersFromFilesAndMissingPaths) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("tessaly_isfolder_test-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "frame.bmp") << "x";
  EXPECT_TRUE(IsFolder(dir));
  EXPECT_FALSE(IsFolder(dir / "frame.bmp"));
  EXPECT_FALSE(IsFolder(dir / "missing"));
  EXPECT_FALSE(IsFolder(""));
  std::filesystem::remove_all(dir);
}

TEST(DropTargetConstructionTest, NeedsATimer) {
  EXPECT_THROW(TDropFileTarget(nullptr), std::invalid_argument);
}

}  // namespace
}  // namespace tessaly
