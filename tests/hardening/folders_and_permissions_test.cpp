// tessaly-cli on what the file system can put in the way: unreadable files, read-only folders,
// a folder standing where the result goes, and folders named like pictures. As root, permission
// bits do not bind, so those runs use the unprivileged user "nobody".
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "folder_state.h"
#include "hardening_support.h"

namespace tessaly::test {
namespace {

namespace fs = std::filesystem;

// Meets permission bits whoever runs the tests.
ChildOptions Unprivileged() {
  ChildOptions options;
  options.as_nobody = RunningAsRoot();
  return options;
}

// As root, permission bits bind only an ordinary user; without one they cannot be tested.
// Empty when they can.
std::string WhyPermissionsCannotBind() {
  if (!RunningAsRoot() || UnprivilegedUserExists()) return {};
  return std::string("running as root and there is no user \"") + kUnprivilegedUser +
         "\" to run tessaly-cli as, so permission bits would not bind";
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST(Permissions, AnUnreadableFileFailsAloneAndTheOthersAreSaved) {
  if (const std::string why = WhyPermissionsCannotBind(); !why.empty()) GTEST_SKIP() << why;
  ScratchFolder dir("unreadable");
  WriteBytes(dir / "a.bmp", FrameForMinute(1).bmp);
  WriteBytes(dir / "locked.bmp", FrameForMinute(4).bmp);
  WriteBytes(dir / "z.png", FrameForMinute(2).png);
  ASSERT_EQ(::chmod((dir / "locked.bmp").c_str(), 0), 0);
  const FolderState before = Snapshot(dir.path());

  const ChildResult run = RunCli({"--no-overwrite", dir.path().string()}, Unprivileged());

  EXPECT_EQ(run.exit_code, 1) << run.err;
  const auto errors = Lines(run.err);
  ASSERT_EQ(errors.size(), 1u) << run.err;
  EXPECT_NE(
      errors[0].find("Cannot read \"" + (dir / "locked.bmp").string() + "\": Permission denied"),
      std::string::npos)
      << errors[0];
  const FolderState after = Snapshot(dir.path());
  EXPECT_EQ(ChangedOrRemoved(before, after), std::vector<std::string>{});
  EXPECT_EQ(Added(before, after), Sorted({FrameForMinute(1).target, FrameForMinute(2).target}));
}

TEST(Permissions, AReadOnlyFolderRefusesItsSavesAndOtherFoldersGoOn) {
  if (const std::string why = WhyPermissionsCannotBind(); !why.empty()) GTEST_SKIP() << why;
  ScratchFolder dir("read-only");
  fs::create_directory(dir / "ro");
  fs::create_directory(dir / "rw");
  ::chmod((dir / "rw").c_str(), 0777);
  WriteBytes(dir / "ro" / "a.bmp", FrameForMinute(1).bmp);
  WriteBytes(dir / "ro" / "b.png", FrameForMinute(2).png);
  WriteBytes(dir / "rw" / "c.bmp", FrameForMinute(5).bmp);
  // A file under a target name in the read-only folder must survive the attempt to replace it
  // (--overwrite-originals: it is no result of the tool, which --overwrite alone would keep).
  WriteBytes(dir / "ro" / FrameForMinute(2).target, {'o', 'l', 'd'});
  ASSERT_EQ(::chmod((dir / "ro").c_str(), 0555), 0);
  const FolderState before = Snapshot(dir.path());

  const ChildResult run = RunCli({"--overwrite-originals", (dir / "ro" / "a.bmp").string(),
                                  (dir / "rw" / "c.bmp").string(), (dir / "ro" / "b.png").string()},
                                 Unprivileged());

  EXPECT_EQ(run.exit_code, 1) << run.err;
  const auto errors = Lines(run.err);
  ASSERT_EQ(errors.size(), 2u) << run.err;
  for (const auto& [line, target] : {std::pair{errors[0], FrameForMinute(1).target},
                                     std::pair{errors[1], FrameForMinute(2).target}}) {
    EXPECT_NE(
        line.find("Cannot save \"" + (dir / "ro" / target).string() + "\": Permission denied"),
        std::string::npos)
        << line;
  }
  EXPECT_NE(run.out.find("3 files seen: 1 saved, 0 unchanged, 0 skipped, 2 failed"),
            std::string::npos)
      << run.out;
  const FolderState after = Snapshot(dir.path());
  EXPECT_EQ(ChangedOrRemoved(before, after), std::vector<std::string>{});
  EXPECT_EQ(Added(before, after), std::vector<std::string>{"rw/" + FrameForMinute(5).target});
}

// The build tree may sit in a folder only its owner may enter (a clone under a private home
// or a mktemp folder): the unprivileged runs must not need to reach the tool by its path.
TEST(Permissions, TheToolRunsUnprivilegedFromAFolderOnlyItsOwnerMayEnter) {
  if (const std::string why = WhyPermissionsCannotBind(); !why.empty()) GTEST_SKIP() << why;
  ScratchFolder hidden("private-tool");
  ASSERT_EQ(::chmod(hidden.path().c_str(), 0700), 0);
  const fs::path tool = hidden / "tessaly-cli";
  fs::copy_file(TESSALY_CLI_PATH, tool);
  ScratchFolder dir("private-tool-input");
  WriteBytes(dir / "a.bmp", FrameForMinute(1).bmp);

  const ChildResult run =
      RunChild(tool.string(), {"--no-overwrite", dir.path().string()}, Unprivileged());

  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(IsCompletePng(dir / FrameForMinute(1).target));
}

TEST(TargetInTheWay, AFolderUnderTheProposedNameIsLeftAloneAndReported) {
  ScratchFolder dir("target-folder");
  WriteBytes(dir / "a.bmp", FrameForMinute(1).bmp);
  WriteBytes(dir / "b.bmp", FrameForMinute(6).bmp);
  WriteBytes(dir / "c.png", FrameForMinute(2).png);
  const fs::path blocked = dir / FrameForMinute(6).target;
  fs::create_directory(blocked);
  WriteBytes(blocked / "inside.txt", {'x'});
  const FolderState before = Snapshot(dir.path());

  const ChildResult run = RunCli({"--overwrite", dir.path().string()});

  EXPECT_EQ(run.exit_code, 1) << run.err;
  const auto errors = Lines(run.err);
  ASSERT_EQ(errors.size(), 1u) << run.err;
  EXPECT_NE(errors[0].find("Cannot save \"" + blocked.string() +
                           "\": a folder of that name is in the way"),
            std::string::npos)
      << errors[0];
  const FolderState after = Snapshot(dir.path());
  EXPECT_EQ(ChangedOrRemoved(before, after), std::vector<std::string>{});
  EXPECT_EQ(Added(before, after), Sorted({FrameForMinute(1).target, FrameForMinute(2).target}));
}

// Named on the command line, a folder is a folder whatever its name: its pictures are processed.
TEST(FolderNamedLikeAPicture, GivenDirectlyItIsExpanded) {
  ScratchFolder dir("folder-named-bmp");
  fs::create_directory(dir / "x.bmp");
  ::chmod((dir / "x.bmp").c_str(), 0777);
  WriteBytes(dir / "x.bmp" / "frame.bmp", FrameForMinute(7).bmp);

  const ChildResult run = RunCli({"--no-overwrite", (dir / "x.bmp").string()});

  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(run.err.empty()) << run.err;
  EXPECT_TRUE(IsCompletePng(dir / "x.bmp" / FrameForMinute(7).target));
}

// Inside a named folder, subfolders are not searched, and one called x.bmp is no picture either.
TEST(FolderNamedLikeAPicture, InsideAFolderItIsLeftOut) {
  ScratchFolder dir("subfolder-named-bmp");
  WriteBytes(dir / "a.bmp", FrameForMinute(1).bmp);
  fs::create_directory(dir / "x.bmp");
  fs::create_directory(dir / "y.PNG");
  WriteBytes(dir / "x.bmp" / "inner.bmp", FrameForMinute(8).bmp);
  WriteBytes(dir / "z.png", FrameForMinute(2).png);
  const FolderState before = Snapshot(dir.path());

  const ChildResult run = RunCli({"--no-overwrite", dir.path().string()});

  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(run.err.empty()) << run.err;
  EXPECT_NE(run.out.find("2 files seen: 2 saved"), std::string::npos) << run.out;
  const FolderState after = Snapshot(dir.path());
  EXPECT_EQ(ChangedOrRemoved(before, after), std::vector<std::string>{});
  EXPECT_EQ(Added(before, after), Sorted({FrameForMinute(1).target, FrameForMinute(2).target}));
}

}  // namespace
}  // namespace tessaly::test
