// The readers' defences that the end-to-end runs rest on, at the functions themselves: files
// that are no regular files, sizes no picture has, PNG data that lies about its length, and
// folders named like pictures. Valid files next to the limits still load.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <stdexcept>
#include <string>

#include "app/folders.h"
#include "base/errors.h"
#include "base/files.h"
#include "hardening_support.h"
#include "picture_files/ext_bitmap.h"
#include "picture_files/png_image.h"
#include "picture_files/png_io.h"
#include "png_builder.h"

namespace tessaly::test {
namespace {

namespace fs = std::filesystem;

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

// Runs the action on another thread and gives up waiting after ten seconds: a read that blocks
// shows as a failure instead of stalling the test run.
std::string ErrorWithin10s(std::function<void()> action) {
  auto result = std::async(std::launch::async, [action] { return ErrorOf(action); });
  if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "still blocked after 10 s";
    std::quick_exit(1);  // the blocked thread cannot be joined
  }
  return result.get();
}

// Bytes this process has read through read() and its kin so far.
std::uint64_t BytesReadByThisProcess() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  throw std::runtime_error("no rchar in /proc/self/io");
}

// CPU time of the calling thread: unlike the time on the clock, other processes cannot add to it.
std::chrono::nanoseconds ThreadCpuTime() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

TEST(FileReading, PipesAndFoldersAreRefusedAtOnceByBothLoaders) {
  ScratchFolder dir("pipe");
  const fs::path pipe = dir / "x.bmp";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0666), 0);
  EXPECT_EQ(ErrorWithin10s([&] { ReadFileBytes(pipe); }),
            "Cannot read \"" + pipe.string() + "\": it is not a regular file");
  EXPECT_NE(ErrorWithin10s([&] { TExtBitmap().LoadFromFile(pipe); }).find("not a regular file"),
            std::string::npos);
  EXPECT_EQ(ErrorOf([&] { TExtBitmap().LoadFromFile(dir.path()); }),
            "Cannot read \"" + dir.path().string() + "\": Is a directory");
}

TEST(FileReading, AFileLargerThanAnyPictureIsRefusedWithoutReadingIt) {
  ScratchFolder dir("large");
  const fs::path file = dir / "large.png";
  WriteBytes(file, {});
  fs::resize_file(file, kMaxReadFileBytes + 1);  // sparse
  const std::uint64_t read_before = BytesReadByThisProcess();
  EXPECT_NE(ErrorOf([&] { ReadFileBytes(file); }).find("is larger than"), std::string::npos);
  EXPECT_LT(BytesReadByThisProcess() - read_before, 1u << 20);
}

TEST(PngLimits, ChunksRunningPastTheDataAreRefusedButDataAfterTheEndIsNot) {
  const Bytes& good = FrameForMinute(1).png;
  Bitmap bitmap;
  // The length field of the first chunk after IHDR (at 8 + 25) claims about 2 GB.
  Bytes lying = good;
  lying[33] = 0x7F;
  EXPECT_NE(ErrorOf([&] { LoadPNGFromMemory(bitmap, lying, false); }).find("ends inside a chunk"),
            std::string::npos);
  Bytes trailing = good;
  trailing.insert(trailing.end(), {0x7F, 0xFF, 0xFF, 0xFF, 'j', 'u', 'n', 'k'});
  EXPECT_TRUE(LoadPNGFromMemory(bitmap, trailing, false));
  EXPECT_EQ(bitmap.Width(), 840);
}

// A thousand compressed texts of 512 KiB each, in a 0.5 MB file: only the first few dozen are
// inflated and kept (libpng's own limit would keep 999 of them, half a gigabyte).
TEST(PngLimits, ManyCompressedTextsAreNotAllKept) {
  Bytes text = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0};
  const Bytes inflates = DeflatedZeros(512u << 10);
  text.insert(text.end(), inflates.begin(), inflates.end());
  const Bytes png =
      PngWithImageData(16, 16, 8, 0, 17 * 16, std::vector<Chunk>(1000, {"zTXt", text}));
  TPngImage image;
  const auto start = ThreadCpuTime();
  image.LoadFromMemory(png);
  EXPECT_LT(ThreadCpuTime() - start, std::chrono::seconds(5));
  EXPECT_EQ(image.Width, 16u);
  EXPECT_GT(image.Texts.size(), 0u);
  EXPECT_LE(image.Texts.size(), 64u);
}

TEST(FolderListing, SubfoldersNamedLikePicturesAreLeftOut) {
  ScratchFolder dir("listing");
  fs::create_directory(dir / "a.bmp");
  fs::create_directory(dir / "b.png");
  WriteBytes(dir / "c.BMP", {});
  WriteBytes(dir / "d.png", {});
  const fs::path base = dir.path() / "";
  EXPECT_EQ(ListFolderPictures(dir.path()),
            (std::vector<fs::path>{base / "c.BMP", base / "d.png"}));
}

}  // namespace
}  // namespace tessaly::test
