// Saves where a name can only be claimed: forced on any file system, and tessaly-cli on a FAT
// drive (an image mounted through FUSE), which has no unnamed files, no renames that refuse to
// replace and no links. A claim in progress is taken, the empty claim of a killed save is taken
// over, and the leftovers of saves killed at their last step are swept, the user's files never.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "base/files.h"
#include "hardening_support.h"
#include "picture_store/bitmap.h"
#include "support/bmp_writer.h"

namespace tessaly::test {
namespace {

namespace fs = std::filesystem;

bool Says(const ChildResult& run, const std::string& text) {
  return run.out.find(text) != std::string::npos;
}

// A save to `target` in a child process killed just before its last rename.
void KilledSave(const fs::path& target, bool claim, bool replacing = false) {
  if (::fork() == 0) {
    auto file = WritePending(target, Bytes{1}, nullptr, {claim, [] { ::raise(SIGKILL); }});
    replacing ? file->PublishReplacing() : static_cast<void>(file->PublishIfAbsent());
    ::_exit(0);
  }
  ::wait(nullptr);
}

// While a save holds its claim, the name is taken for every other save, whichever way it
// publishes. The empty claim of a killed save counts as free, and the next save takes it over;
// a user's empty file is no claim.
TEST(ClaimedNames, AClaimIsTakenWhileItsSaveLivesAndTakenOverOnceItWasKilled) {
  ScratchFolder dir("claims");
  const fs::path target = dir / "a.png";
  const auto save = [&](const fs::path& name, bool claim) {
    return WritePending(name, Bytes{2, 3}, nullptr, {claim, {}})->PublishIfAbsent();
  };
  bool checked = false;
  const PublishSeam holding{true, [&] {
                              EXPECT_TRUE(NameIsTaken(target));
                              EXPECT_FALSE(save(target, true) || save(target, false));
                              checked = true;
                            }};
  EXPECT_TRUE(WritePending(target, Bytes{1}, nullptr, holding)->PublishIfAbsent() && checked);
  for (const bool claim : {true, false}) {
    fs::remove(target);
    KilledSave(target, true);
    ASSERT_EQ(fs::file_size(target), 0u);
    EXPECT_FALSE(NameIsTaken(target));
    EXPECT_TRUE(save(target, claim));
    EXPECT_EQ(fs::file_size(target), 2u);
  }
  WriteBytes(dir / "b.png", {});
  EXPECT_FALSE(save(dir / "b.png", true));
}

// An unnamed file takes a ".new" name for the moment before it replaces its target. One that a
// kill left there goes with the next sweep; a user's file that only looks like one stays.
TEST(ClaimedNames, TheSweepTakesTheToolsLeftoversOnly) {
  ScratchFolder dir("sweep");
  WriteBytes(dir / "a.png", {1});
  KilledSave(dir / "a.png", false, true);
  WriteBytes(dir / ".tessaly-0000f00d.new", {1});
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 3);
  RemoveStaleTemporaries(dir.path());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2);
  EXPECT_TRUE(fs::exists(dir / ".tessaly-0000f00d.new"));
}

TEST(FatDrive, ResultsAreSavedReplacedAndKeptAsOnAnyOtherDrive) {
  ScratchFolder dir("fat");
  const fs::path drive = dir / "drive", out = drive / "out";
  fs::create_directory(drive);
  const ChildResult mount = RunChild(
      "/bin/sh", {"-c",
                  "PATH=/usr/sbin:/sbin:$PATH; truncate -s 32M \"$0.img\" && mkfs.vfat \"$0.img\" "
                  ">/dev/null && fusefat -o rw+ \"$0.img\" \"$0\" >/dev/null",
                  drive.string()});
  struct statfs info {};
  if (mount.exit_code != 0 || ::statfs(drive.c_str(), &info) != 0 || info.f_type != 0x65735546) {
    GTEST_SKIP() << "no FAT drive through FUSE here (mkfs.vfat, fusefat, /dev/fuse): " << mount.err;
  }
  struct Unmount {
    fs::path drive;
    ~Unmount() { RunChild("/bin/sh", {"-c", "fusermount -u \"$0\"", drive.string()}); }
  } unmount{drive};
  Bitmap bitmap;
  bitmap.SetFormat(PixelFormat::k8Bit);
  bitmap.SetPalette(GreyRamp());
  bitmap.SetSize(300, 40);
  fs::create_directory(dir / "in");
  for (const char* name : {"f0.bmp", "f1.bmp", "f2.bmp"}) {
    WriteBytes(dir / "in" / name, EncodeBmp(bitmap));
    // FAT keeps times to two seconds, rounded down: a result saved in the second its input was
    // written would seem older than the input.
    fs::last_write_time(dir / "in" / name,
                        fs::last_write_time(dir / "in" / name) - std::chrono::hours(1));
  }
  const auto run = [&](const std::string& option) {
    return RunCli({option, "--sidecar", "-o", out.string(), (dir / "in").string()});
  };

  const ChildResult first = run("--no-overwrite");
  EXPECT_TRUE(Says(first, "3 files seen: 3 saved")) << first.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(out), {}), 6);  // nothing left besides
  EXPECT_TRUE(IsCompletePng(out / "f2.png"));
  EXPECT_TRUE(Says(run("--no-overwrite"), "0 failed, 3 up to date"));
  EXPECT_TRUE(Says(run("--overwrite"), "3 files seen: 3 saved"));
  // A file of the user's under a target name is kept; the empty claim of a save killed on the
  // drive is not the user's, and is taken over without a question.
  fs::remove(out / "f0.png");  // the FUSE driver does not truncate a file opened for writing
  WriteBytes(out / "f0.png", {'k', 'e', 'e', 'p'});
  fs::remove(out / "f1.png");
  KilledSave(out / "f1.png", false);
  ASSERT_EQ(fs::file_size(out / "f1.png"), 0u);
  const ChildResult last = run("--no-overwrite");
  EXPECT_TRUE(Says(last, "f0.png: not saved, the file exists")) << last.out;
  EXPECT_TRUE(Says(last, "saved as " + (out / "f1.png").string())) << last.out;
  EXPECT_EQ(fs::file_size(out / "f0.png"), 4u);
  EXPECT_TRUE(IsCompletePng(out / "f1.png"));
}

}  // namespace
}  // namespace tessaly::test
