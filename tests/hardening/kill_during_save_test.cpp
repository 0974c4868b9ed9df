// A batch killed with SIGKILL while it saves: every file under a target name is a complete PNG,
// every earlier result is either its old self or a complete new PNG, the inputs are untouched,
// and nothing but the tool's own temporary files (".tessaly-<hex>.tmp") is left besides.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "folder_state.h"
#include "hardening_support.h"
#include "picture_files/png_io.h"

namespace tessaly::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr int kFrames = 24;
// Every third frame already has a result from an earlier run, which --overwrite replaces.
bool HasEarlierResult(int i) {
  return i % 3 == 0;
}

std::string InputName(int i) {
  return "frame" + std::to_string(100 + i) + (i % 2 ? ".png" : ".bmp");
}

// An earlier result: a valid PNG of different content, so replacement and survival both show.
Bytes EarlierResult(int i) {
  Bitmap bitmap;
  bitmap.SetFormat(PixelFormat::k8Bit);
  bitmap.SetPalette(GreyRamp());
  bitmap.SetSize(8, 8);
  bitmap.Row(0)[0] = static_cast<std::uint8_t>(i);
  return EncodeBitmapAsPNG(bitmap, "", "", "", "earlier");
}

void FillBatch(const ScratchFolder& dir) {
  for (int i = 0; i < kFrames; ++i) {
    const GoodFrame& frame = FrameForMinute(10 + i);
    WriteBytes(dir / InputName(i), i % 2 ? frame.png : frame.bmp);
    if (HasEarlierResult(i)) WriteBytes(dir / frame.target, EarlierResult(i));
  }
}

std::vector<std::string> BatchArgs(const ScratchFolder& dir) {
  return {"--overwrite", "--jobs", "2", dir.path().string()};
}

struct Outcome {
  int replaced = 0;   // earlier results now holding the new picture
  int new_files = 0;  // results that did not exist before
  int temporaries = 0;
};

// A save's temporary file: ".tessaly-<8 hex digits>.tmp".
bool IsTemporary(const std::string& name) {
  constexpr std::string_view kHead = ".tessaly-", kTail = ".tmp";
  constexpr std::size_t kHex = 8;
  if (name.size() != kHead.size() + kHex + kTail.size() || !name.starts_with(kHead) ||
      !name.ends_with(kTail)) {
    return false;
  }
  for (std::size_t i = kHead.size(); i < kHead.size() + kHex; ++i) {
    if (std::isxdigit(static_cast<unsigned char>(name[i])) == 0 || std::isupper(name[i]) != 0) {
      return false;
    }
  }
  return true;
}

// Checks the folder after a killed run against the state before it.
Outcome CheckAfterKill(const ScratchFolder& dir, const FolderState& before) {
  const FolderState after = Snapshot(dir.path());
  Outcome outcome;
  std::set<std::string> targets;
  for (int i = 0; i < kFrames; ++i) targets.insert(FrameForMinute(10 + i).target);
  for (const auto& [name, state] : after) {
    const auto old = before.find(name);
    if (targets.count(name) != 0) {
      const bool untouched = old != before.end() && old->second == state;
      EXPECT_TRUE(untouched || IsCompletePng(dir / name)) << name << " is a partial PNG";
      if (!untouched) ++(old != before.end() ? outcome.replaced : outcome.new_files);
    } else if (IsTemporary(name)) {
      ++outcome.temporaries;
    } else {
      EXPECT_TRUE(old != before.end() && old->second == state) << name << " was changed or added";
    }
  }
  EXPECT_EQ(ChangedOrRemoved(before, after).size(), static_cast<std::size_t>(outcome.replaced))
      << "only earlier results may change, and none may go";
  return outcome;
}

TEST(KilledBatch, LeavesEveryTargetCompleteOrUntouched) {
  // A full run first, to know how long the batch takes and that it completes.
  milliseconds full{0};
  {
    ScratchFolder dir("kill-full");
    FillBatch(dir);
    const FolderState before = Snapshot(dir.path());
    const ChildResult run = RunCli(BatchArgs(dir));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    full = run.elapsed;
    const Outcome outcome = CheckAfterKill(dir, before);
    EXPECT_EQ(outcome.replaced, (kFrames + 2) / 3);
    EXPECT_EQ(outcome.new_files, kFrames - (kFrames + 2) / 3);
    EXPECT_EQ(outcome.temporaries, 0);
  }
  int killed_while_running = 0;
  int killed_midway = 0;  // some results written, not all
  int temporaries_seen = 0;
  for (const double fraction : {0.05, 0.2, 0.35, 0.5, 0.65, 0.8, 0.95}) {
    ScratchFolder dir("kill");
    FillBatch(dir);
    const FolderState before = Snapshot(dir.path());
    RunningChild child(TESSALY_CLI_PATH, BatchArgs(dir));
    std::this_thread::sleep_for(milliseconds(static_cast<long>(full.count() * fraction)));
    killed_while_running += child.KillAndWait();
    const Outcome outcome = CheckAfterKill(dir, before);
    temporaries_seen += outcome.temporaries;
    SCOPED_TRACE("killed at " + std::to_string(fraction));
    const int written = outcome.replaced + outcome.new_files;
    EXPECT_LE(written, kFrames);
    killed_midway += written > 0 && written < kFrames;
  }
  // Most kills must land while the batch is saving, or the test proves little.
  EXPECT_GE(killed_while_running, 5);
  EXPECT_GE(killed_midway, 3);
  RecordProperty("temporary_files_left", temporaries_seen);
}

}  // namespace
}  // namespace tessaly::test
