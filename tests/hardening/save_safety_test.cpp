// tessaly-cli saving where other writers, long names, odd targets, parallel reading and a
// file-size limit could lose or spoil pictures: nothing agreed to be kept is replaced, every
// picture reported saved is there, and a failed save costs only its own file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "hardening_support.h"
#include "picture_store/bitmap.h"
#include "png_builder.h"
#include "support/bmp_writer.h"

namespace tessaly::test {
namespace {

namespace fs = std::filesystem;

// Every file of the folder (not below it) by name, with its picture's digest.
std::map<std::string, std::string> Pictures(const fs::path& folder) {
  std::map<std::string, std::string> pictures;
  for (const auto& entry : fs::directory_iterator(folder)) {
    pictures[entry.path().filename().string()] = PictureDigest(entry.path());
  }
  return pictures;
}

// The target named in each report line "<input> -> <target>: <note>" whose note is `note`.
std::vector<std::string> TargetsNoted(const std::string& out, const std::string& note) {
  std::vector<std::string> targets;
  for (const std::string& line : Lines(out)) {
    const std::size_t arrow = line.find(" -> ");
    if (arrow == std::string::npos || !line.ends_with(": " + note)) continue;
    const std::size_t from = arrow + 4;
    targets.push_back(line.substr(from, line.size() - note.size() - 2 - from));
  }
  return targets;
}

mode_t CurrentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

Bytes UndecodableBmp() {
  Bitmap bitmap;
  bitmap.SetFormat(PixelFormat::k8Bit);
  bitmap.SetPalette(GreyRamp());
  bitmap.SetSize(300, 40);
  return EncodeBmp(bitmap);
}

// Two --no-overwrite runs at once on one folder, reading different frames that propose the same
// names: each name is saved by exactly one of them, and holds the picture of the run that said
// "saved"; the other run said "not saved, the file exists", or found the result the first run had
// just made "up to date" (told with -v).
TEST(OverwriteRace, TwoNoOverwriteRunsOnOneFolderLoseNoSavedPicture) {
  constexpr int kFrames = 12;
  ScratchFolder dir("race");
  ScratchFolder reference("race-reference");
  std::vector<std::string> run_args[2];
  std::map<std::string, std::string> expected[2];  // target -> picture digest, per run
  for (int variant = 0; variant < 2; ++variant) {
    const fs::path ref = reference / std::to_string(variant);
    fs::create_directory(ref);
    run_args[variant] = {"--no-overwrite", "--jobs", "1", "-v"};
    for (int i = 0; i < kFrames; ++i) {
      const GoodFrame& frame = FrameForMinute(20 + i, variant);
      const std::string input = "v" + std::to_string(variant) + "-" + std::to_string(i) + ".bmp";
      WriteBytes(dir / input, frame.bmp);
      WriteBytes(ref / input, frame.bmp);
      run_args[variant].push_back((dir / input).string());
    }
    ASSERT_EQ(RunCli({"--no-overwrite", ref.string()}, {}).exit_code, 0);
    for (int i = 0; i < kFrames; ++i) {
      const std::string target = FrameForMinute(20 + i, variant).target;
      expected[variant][target] = PictureDigest(ref / target);
    }
  }

  ChildResult runs[2];
  std::thread other([&] { runs[1] = RunCli(run_args[1]); });
  runs[0] = RunCli(run_args[0]);
  other.join();

  std::map<std::string, int> saved_by;
  for (int variant = 0; variant < 2; ++variant) {
    EXPECT_EQ(runs[variant].exit_code, 0) << runs[variant].err;
    for (const std::string& target : TargetsNoted(runs[variant].out, "saved")) {
      EXPECT_EQ(saved_by.count(target), 0u) << target << " reported saved by both runs";
      saved_by[target] = variant;
    }
    EXPECT_EQ(TargetsNoted(runs[variant].out, "saved").size() +
                  TargetsNoted(runs[variant].out, "not saved, the file exists").size() +
                  TargetsNoted(runs[variant].out, "up to date").size(),
              std::size_t{kFrames})
        << runs[variant].out;
  }
  const auto pictures = Pictures(dir.path());
  EXPECT_EQ(pictures.size(), 3u * kFrames);  // inputs and targets, no temporary file
  ASSERT_EQ(saved_by.size(), std::size_t{kFrames});
  for (const auto& [target, variant] : saved_by) {
    ASSERT_EQ(pictures.count(target), 1u) << target;
    EXPECT_EQ(pictures.at(target), expected[variant].at(target)) << target;
  }
}

// The temporary file's name does not grow with the target's: a 255-byte target is legal.
TEST(LongNames, ATargetOfTheLongestLegalNameIsSaved) {
  ScratchFolder dir("long-name");
  const std::string stem(251, 'n');
  WriteBytes(dir / (stem + ".bmp"), UndecodableBmp());

  const ChildResult run = RunCli({"--no-overwrite", dir.path().string()});

  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(IsCompletePng(dir / (stem + ".png")));
  EXPECT_EQ(Pictures(dir.path()).size(), 2u);
}

// A target that is a link to a setuid program is replaced by an ordinary file; the program stays
// as it was. A replaced file of its own keeps its permission bits, but not setuid or setgid.
TEST(Modes, NoSavedPictureTakesSetuidOrSetgidBits) {
  ScratchFolder dir("modes");
  fs::create_directory(dir / "elsewhere");
  const fs::path program = dir / "elsewhere" / "program";
  WriteBytes(program, {'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'});
  ASSERT_EQ(::chmod(program.c_str(), 04755), 0);
  const GoodFrame& linked = FrameForMinute(1);
  const GoodFrame& own = FrameForMinute(2);
  WriteBytes(dir / "a.bmp", linked.bmp);
  WriteBytes(dir / "b.bmp", own.bmp);
  fs::create_symlink(fs::path("elsewhere") / "program", dir / linked.target);
  WriteBytes(dir / own.target, {'o', 'l', 'd'});
  ASSERT_EQ(::chmod((dir / own.target).c_str(), 06750), 0);

  const ChildResult run =
      RunCli({"--overwrite-originals", (dir / "a.bmp").string(), (dir / "b.bmp").string()});

  EXPECT_EQ(run.exit_code, 0) << run.err;
  struct stat info {};
  ASSERT_EQ(::lstat((dir / linked.target).c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(info.st_mode & 07777, 0666 & ~CurrentUmask());
  EXPECT_TRUE(IsCompletePng(dir / linked.target));
  ASSERT_EQ(::lstat(program.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 04755u);
  EXPECT_EQ(fs::file_size(program), 10u);
  ASSERT_EQ(::lstat((dir / own.target).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0750u);
  EXPECT_TRUE(IsCompletePng(dir / own.target));
}

// Each BMP frame's result replaces a PNG frame that comes later in the same batch. A run of one
// file at a time reads that PNG only after it was replaced; so must a run with more jobs, whose
// workers read ahead of the saves.
TEST(ParallelOrder, OutputsReplacingLaterInputsGiveTheSameFolderWithAnyNumberOfJobs) {
  constexpr int kChains = 6;
  std::map<int, std::map<std::string, std::string>> folders;
  for (const int jobs : {1, 2, 8}) {
    ScratchFolder dir("jobs" + std::to_string(jobs));
    for (int k = 0; k < kChains; ++k) {
      WriteBytes(dir / ("c" + std::to_string(k) + ".bmp"), FrameForMinute(1 + k).bmp);
      WriteBytes(dir / FrameForMinute(1 + k).target, FrameForMinute(30 + k).png);
    }
    const ChildResult run =
        RunCli({"--overwrite-originals", "--jobs", std::to_string(jobs), dir.path().string()});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    folders[jobs] = Pictures(dir.path());
    // The PNG frames were read only as the BMP frames' results, so their own names never came up.
    for (int k = 0; k < kChains; ++k) {
      EXPECT_EQ(folders[jobs].count(FrameForMinute(30 + k).target), 0u) << "--jobs " << jobs;
    }
  }
  EXPECT_EQ(folders[2], folders[1]);
  EXPECT_EQ(folders[8], folders[1]);
}

// Under a file-size limit each save fails with a message naming its file, the temporary file
// goes, and the batch goes on to the end instead of being killed by SIGXFSZ.
TEST(FileSizeLimit, EachSaveBeyondTheLimitFailsAloneAndLeavesNothingBehind) {
  ScratchFolder dir("file-size");
  WriteBytes(dir / "a.bmp", FrameForMinute(1).bmp);
  WriteBytes(dir / "b.bmp", FrameForMinute(2).bmp);
  WriteBytes(dir / "c.bmp", UndecodableBmp());  // small enough to fit

  const ChildResult run =
      RunChild("/bin/sh", {"-c", "ulimit -f 16 && exec \"$0\" \"$@\"", TESSALY_CLI_PATH,
                           "--no-overwrite", "--jobs", "1", dir.path().string()});

  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exit_code, 1) << run.err;
  const std::vector<std::string> errors = Lines(run.err);
  ASSERT_EQ(errors.size(), 2u) << run.err;
  EXPECT_NE(errors[0].find("\"" + (dir / FrameForMinute(1).target).string() + "\": File too large"),
            std::string::npos)
      << errors[0];
  EXPECT_NE(errors[1].find((dir / FrameForMinute(2).target).string()), std::string::npos);
  EXPECT_NE(run.out.find("3 files seen: 1 saved, 0 unchanged, 0 skipped, 2 failed"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(Pictures(dir.path()).size(), 4u);  // the inputs and c.png
  EXPECT_TRUE(IsCompletePng(dir / "c.png"));
}

// A picture within the size limits that needs more memory than the process may have fails
// alone, with a message naming it; the batch goes on.
TEST(Memory, AnAllocationFailureNamesTheFileAndTheBatchGoesOn) {
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer reserves terabytes of shadow address space at start-up, which no
  // `ulimit -v` lets through; the tool of this build cannot run under the limit at all.
  GTEST_SKIP() << "needs a tool built without AddressSanitizer";
#endif
  ScratchFolder dir("memory");
  // 8192 x 8192 pixels from a file of half a megabyte: its 8-bit picture and working picture
  // alone are 192 MiB, more than the limit leaves once the program is loaded.
  WriteBytes(dir / "a-deep.png", PngWithImageData(8192, 8192, 16, 6, 8192 * (1 + 8192 * 8)));
  WriteBytes(dir / "b.bmp", FrameForMinute(1).bmp);

  const ChildResult run =
      RunChild("/bin/sh", {"-c", "ulimit -v 200000 && exec \"$0\" \"$@\"", TESSALY_CLI_PATH,
                           "--no-overwrite", "--jobs", "1", dir.path().string()});

  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exit_code, 1) << run.err;
  const std::vector<std::string> errors = Lines(run.err);
  ASSERT_EQ(errors.size(), 1u) << run.err;
  EXPECT_NE(
      errors[0].find("Not enough memory to process \"" + (dir / "a-deep.png").string() + "\""),
      std::string::npos)
      << errors[0];
  EXPECT_TRUE(IsCompletePng(dir / FrameForMinute(1).target));
}

// Where no thread can be started (a thread's stack is the stack limit, more than the address
// space allows) the files are decoded and written on the main thread; a data limit that leaves
// room for few threads still saves every frame. Either way each file is named and summed up.
TEST(ThreadLimits, EveryFrameIsSavedWhenThreadsCannotStart) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "needs a tool built without AddressSanitizer, which cannot start under a limit";
#endif
  ScratchFolder dir("threads");
  for (int minute : {1, 2, 3}) {
    WriteBytes(dir / ("m" + std::to_string(minute) + ".bmp"), FrameForMinute(minute).bmp);
  }
  for (const char* limits : {"ulimit -v 400000 && ulimit -s 1000000", "ulimit -d 100000"}) {
    SCOPED_TRACE(limits);
    for (int minute : {1, 2, 3}) fs::remove(dir / FrameForMinute(minute).target);
    const ChildResult run =
        RunChild("/bin/sh", {"-c", std::string(limits) + " && exec \"$0\" \"$@\"", TESSALY_CLI_PATH,
                             "--no-overwrite", "--jobs", "2", "--sidecar", dir.path().string()});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.out.find("3 files seen: 3 saved"), std::string::npos) << run.out;
    for (int minute : {1, 2, 3}) EXPECT_TRUE(IsCompletePng(dir / FrameForMinute(minute).target));
  }
}

}  // namespace
}  // namespace tessaly::test
