// A batch killed with SIGKILL while it saves: every file under a target name is a complete PNG,
// every earlier result is either its old self or a complete new PNG, the inputs are untouched,
// nothing but the tool's own temporary files is left besides, and a rerun leaves none of them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/results.h"
#include "base/files.h"
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

// An earlier result: a valid PNG of different content, so replacement and survival both show,
// with the tool's Software text, which --overwrite requires before it replaces a file.
Bytes EarlierResult(int i) {
  Bitmap bitmap;
  bitmap.SetFormat(PixelFormat::k8Bit);
  bitmap.SetPalette(GreyRamp());
  bitmap.SetSize(8, 8);
  bitmap.Row(0)[0] = static_cast<std::uint8_t>(i);
  return EncodeBitmapAsPNG(bitmap, "", "", kToolSoftware, "earlier");
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
    } else if (IsTemporaryFileName(name)) {
      ++outcome.temporaries;
    } else {
      EXPECT_TRUE(old != before.end() && old->second == state) << name << " was changed or added";
    }
  }
  EXPECT_EQ(ChangedOrRemoved(before, after).size(), static_cast<std::size_t>(outcome.replaced))
      << "only earlier results may change, and none may go";
  return outcome;
}

// Results the batch has written so far: targets that are new or no longer as they were.
int ResultsWritten(const ScratchFolder& dir, const FolderState& before) {
  int written = 0;
  for (int i = 0; i < kFrames; ++i) {
    const std::string& target = FrameForMinute(10 + i).target;
    struct stat info {};
    if (::stat((dir / target).c_str(), &info) != 0) continue;
    const std::int64_t mtime_ns =
        std::int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
    const auto old = before.find(target);
    written += old == before.end() || old->second.mtime_ns != mtime_ns ||
               old->second.size != static_cast<std::uintmax_t>(info.st_size);
  }
  return written;
}

// Kills the batch as soon as `due` holds, so that the kill lands at a known stage of the batch
// however busy the machine is. True when the kill ended it; false when the batch ended first.
bool KillWhen(RunningChild& child, const std::function<bool()>& due) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  while (!due()) {
    if (child.Ended()) return false;
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the batch neither reached the stage nor ended";
      break;
    }
    std::this_thread::sleep_for(milliseconds(1));
  }
  return child.KillAndWait();
}

TEST(KilledBatch, LeavesEveryTargetCompleteOrUntouched) {
  // A full run first, to see that the batch completes and what it leaves.
  {
    ScratchFolder dir("kill-full");
    FillBatch(dir);
    const FolderState before = Snapshot(dir.path());
    const ChildResult run = RunCli(BatchArgs(dir));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const Outcome outcome = CheckAfterKill(dir, before);
    EXPECT_EQ(outcome.replaced, (kFrames + 2) / 3);
    EXPECT_EQ(outcome.new_files, kFrames - (kFrames + 2) / 3);
    EXPECT_EQ(outcome.temporaries, 0);
  }
  int killed_while_running = 0;
  int killed_midway = 0;  // some results written, not all
  int temporaries_seen = 0;
  // Each kill lands once that many results are written.
  for (const int results : {1, 2, 5, 9, 13, 17, 21}) {
    ScratchFolder dir("kill");
    FillBatch(dir);
    const FolderState before = Snapshot(dir.path());
    RunningChild child(TESSALY_CLI_PATH, BatchArgs(dir));
    killed_while_running += KillWhen(child, [&] { return ResultsWritten(dir, before) >= results; });
    const Outcome outcome = CheckAfterKill(dir, before);
    temporaries_seen += outcome.temporaries;
    SCOPED_TRACE("killed after " + std::to_string(results) + " results");
    const int written = outcome.replaced + outcome.new_files;
    EXPECT_LE(written, kFrames);
    killed_midway += written > 0 && written < kFrames;
    // A rerun completes the batch, and whatever the kill left of the temporary files is gone.
    ASSERT_EQ(RunCli(BatchArgs(dir)).exit_code, 0);
    const Outcome rerun = CheckAfterKill(dir, before);
    EXPECT_EQ(rerun.replaced + rerun.new_files, kFrames);
    EXPECT_EQ(rerun.temporaries, 0);
  }
  // Most kills must land while the batch is saving, or the test proves little.
  EXPECT_GE(killed_while_running, 5);
  EXPECT_GE(killed_midway, 3);
  RecordProperty("temporary_files_left", temporaries_seen);
}

// Where files cannot be written unnamed, a save writes them under a temporary name. One that a
// killed run left there is removed by the next run that saves into the folder, once it is old
// enough that no run could still be creating it; one that a living run holds locked is not, nor
// a file of the user's that only looks like the name an unnamed file takes before it replaces
// its target (whose digits come from the file itself).
TEST(KilledBatch, ItsOldTemporaryFilesGoWithTheNextRun) {
  ScratchFolder dir("stale");
  WriteBytes(dir / "a.bmp", FrameForMinute(1).bmp);
  const timespec hour_ago[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
  for (const char* name : {".tessaly-0000abcd.tmp", ".tessaly-0000beef.tmp",
                           ".tessaly-0000cafe.tmp", ".tessaly-0000f00d.new"}) {
    WriteBytes(dir / name, {1, 2, 3});
  }
  for (const char* name : {".tessaly-0000abcd.tmp", ".tessaly-0000beef.tmp"}) {
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / name).c_str(), hour_ago, 0), 0);
  }
  const int held = ::open((dir / ".tessaly-0000beef.tmp").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_SH), 0);

  ASSERT_EQ(RunCli({dir.path().string()}).exit_code, 0);
  ::close(held);

  EXPECT_FALSE(fs::exists(dir / ".tessaly-0000abcd.tmp"));  // old and unlocked
  EXPECT_TRUE(fs::exists(dir / ".tessaly-0000f00d.new"));   // not a name the tool gave it
  EXPECT_TRUE(fs::exists(dir / ".tessaly-0000beef.tmp"));   // held by a living run
  EXPECT_TRUE(fs::exists(dir / ".tessaly-0000cafe.tmp"));   // perhaps still being created
}

}  // namespace
}  // namespace tessaly::test
