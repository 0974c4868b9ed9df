// tessaly-cli on batches holding one broken or hostile file between two good frames: the bad
// file gets one message naming it, the good ones are saved, the exit status is 1, nothing that
// was there before is changed or removed, and no file makes the tool hang or balloon.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "folder_state.h"
#include "hardening_support.h"
#include "png_builder.h"

namespace tessaly::test {
namespace {

namespace fs = std::filesystem;

constexpr long kMemoryCeilingKb = 400 * 1024;  // a good frame needs a few tens of megabytes

Bytes Half(const Bytes& b) {
  return Bytes(b.begin(), b.begin() + static_cast<long>(b.size() / 2));
}

// A BMP file header and 40-byte info header claiming a width x height 8-bit picture, padded
// with zeros to `size` bytes.
Bytes BmpClaiming(std::int32_t width, std::int32_t height, std::size_t size) {
  Bytes b(size, 0);
  const auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  b[0] = 'B', b[1] = 'M';
  put32(2, static_cast<std::uint32_t>(size));
  put32(10, 1078);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(width));
  put32(22, static_cast<std::uint32_t>(height));
  b[26] = 1, b[28] = 8;
  return b;
}

// A 120-byte run-length (RLE8) BMP claiming a width x height picture: two colours, then codes
// that only end lines, then the end of the picture.
Bytes RunLengthBmpClaiming(std::int32_t width, std::int32_t height) {
  constexpr std::size_t kSize = 120, kPixels = 62;
  Bytes b = BmpClaiming(width, height, kSize);
  b[10] = kPixels, b[11] = 0;
  b[30] = 1;  // RLE8
  b[46] = 2;  // colours used
  b[58] = b[59] = b[60] = 0xFF;
  for (std::size_t at = kPixels; at + 2 < kSize; at += 2) b[at] = 0, b[at + 1] = 0;
  b[kSize - 2] = 0, b[kSize - 1] = 1;
  return b;
}

struct HostileCase {
  const char* what;
  const char* file_name;
  std::function<void(const fs::path&)> make;
  const char* message;  // a part of the one message the file must get
};

void PrintTo(const HostileCase& c, std::ostream* os) {
  *os << c.what;
}

std::vector<HostileCase> Cases() {
  return {
      {"truncated BMP", "cut.bmp",
       [](const fs::path& p) { WriteBytes(p, Half(FrameForMinute(3).bmp)); },
       "BMP file is truncated"},
      {"truncated PNG", "cut.png",
       [](const fs::path& p) { WriteBytes(p, Half(FrameForMinute(3).png)); }, "Damaged PNG"},
      {"BMP claiming 100000 x 100000 pixels in 1 KB", "huge-claim.bmp",
       [](const fs::path& p) { WriteBytes(p, BmpClaiming(100000, 100000, 1024)); },
       "larger than supported"},
      {"BMP claiming 16000 x 4000 pixels in 2 KB", "big-claim.bmp",
       [](const fs::path& p) { WriteBytes(p, BmpClaiming(16000, 4000, 2048)); },
       "BMP file is truncated"},
      {"PNG claiming 100000 x 100000 pixels", "huge-claim.png",
       [](const fs::path& p) { WriteBytes(p, PngWithImageData(100000, 100000, 8, 0, 64)); },
       "larger than supported"},
      // 2^26 pixels of 16-bit RGBA would be 512 MiB of buffers, from a 100-byte file.
      {"tiny PNG claiming 8192 x 8192 16-bit RGBA pixels", "tiny-bomb.png",
       [](const fs::path& p) { WriteBytes(p, PngWithImageData(8192, 8192, 16, 6, 64)); },
       "cannot hold a picture of 8192 x 8192 pixels"},
      // 100 x 100 grey needs 10100 bytes; this image data inflates to 256 MiB.
      {"PNG whose image data inflates far beyond the picture", "inflate-bomb.png",
       [](const fs::path& p) { WriteBytes(p, PngWithImageData(100, 100, 8, 0, 256u << 20)); },
       "too much compressed image data"},
      // 16 million pixels of blank from 58 bytes of codes.
      {"120-byte run-length BMP claiming 4000 x 4000 pixels", "rle-claim.bmp",
       [](const fs::path& p) { WriteBytes(p, RunLengthBmpClaiming(4000, 4000)); },
       "cannot paint a sixteenth of its picture of 4000 x 4000 pixels"},
      {"JPEG renamed to .png", "photo.png",
       [](const fs::path& p) {
         WriteBytes(p, {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',  0x00,
                        0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0xFF, 0xD9});
       },
       "Is not a valid PNG"},
      {"pipe named x.bmp", "x.bmp",
       [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0666), 0); }, "not a regular file"},
      {"link to an endless device", "zero.png",
       [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }, "not a regular file"},
      {"link to nothing", "gone.bmp",
       [](const fs::path& p) { fs::create_symlink(p.parent_path() / "missing.bmp", p); },
       "No such file or directory"},
      // Sparse: takes no disk space, but is larger than any picture the readers take.
      {"file of 3 GiB", "huge.bmp",
       [](const fs::path& p) {
         WriteBytes(p, {});
         fs::resize_file(p, std::uintmax_t{3} << 30);
       },
       "is larger than"},
      {"empty file", "empty.png", [](const fs::path& p) { WriteBytes(p, {}); },
       "fewer than 4 bytes"},
  };
}

class HostileFile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileFile, FailsAloneWithOneMessageAndNothingIsLost) {
  const HostileCase& c = GetParam();
  ScratchFolder dir("hostile");
  const GoodFrame& first = FrameForMinute(1);
  const GoodFrame& last = FrameForMinute(2);
  WriteBytes(dir / "a-first.bmp", first.bmp);
  WriteBytes(dir / "z-last.png", last.png);
  WriteBytes(dir / "notes.txt", {'k', 'e', 'e', 'p'});
  const fs::path hostile = dir / c.file_name;
  c.make(hostile);
  const FolderState before = Snapshot(dir.path());

  const ChildResult run = RunCli({"--no-overwrite", (dir / "a-first.bmp").string(),
                                  hostile.string(), (dir / "z-last.png").string()});

  ASSERT_FALSE(run.timed_out) << "tessaly-cli hung on the " << c.what;
  EXPECT_EQ(run.exit_code, 1) << run.err;
  const std::vector<std::string> errors = Lines(run.err);
  ASSERT_EQ(errors.size(), 1u) << run.err;
  EXPECT_EQ(errors[0].rfind("tessaly-cli: ", 0), 0u) << errors[0];
  EXPECT_NE(errors[0].find(hostile.string()), std::string::npos) << errors[0];
  EXPECT_NE(errors[0].find(c.message), std::string::npos) << errors[0];
  EXPECT_NE(run.out.find("3 files seen: 2 saved, 0 unchanged, 0 skipped, 1 failed"),
            std::string::npos)
      << run.out;
  EXPECT_LT(run.max_rss_kb, kMemoryCeilingKb);

  const FolderState after = Snapshot(dir.path());
  EXPECT_EQ(ChangedOrRemoved(before, after), std::vector<std::string>{});
  std::vector<std::string> expected_new = {first.target, last.target};
  std::sort(expected_new.begin(), expected_new.end());
  EXPECT_EQ(Added(before, after), expected_new);
  EXPECT_TRUE(IsCompletePng(dir / first.target));
  EXPECT_TRUE(IsCompletePng(dir / last.target));
}

INSTANTIATE_TEST_SUITE_P(Batch, HostileFile, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<HostileCase>& info) {
                           std::string name;
                           for (const char ch : std::string(info.param.what)) {
                             if (std::isalnum(static_cast<unsigned char>(ch))) name += ch;
                           }
                           return name;
                         });

// Small files claiming pictures far larger than any received frame (16384 x 16384 pixels):
// each is refused at once, before its picture is allocated, with a message naming the file and
// the limit.
TEST(HugeClaims, SmallFilesClaimingHugePicturesAreRefusedAtOnce) {
  constexpr std::uint32_t kSide = 16384;
  ScratchFolder dir("huge-claims");
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"rle.bmp", RunLengthBmpClaiming(kSide, kSide)},
      // 33 KB of deflated rows of 1-bit grey.
      {"bits.png", PngWithImageData(kSide, kSide, 1, 0, kSide * (1 + kSide / 8))},
      // 2 MB of deflated rows of 16-bit RGBA.
      {"deep.png", PngWithImageData(kSide, kSide, 16, 6, std::size_t{kSide} * (1 + kSide * 8))},
  };
  std::vector<std::string> args = {"--no-overwrite", "--jobs", "1"};
  for (const auto& [name, bytes] : files) {
    WriteBytes(dir / name, bytes);
    args.push_back((dir / name).string());
  }

  const ChildResult run = RunCli(args);

  EXPECT_EQ(run.exit_code, 1) << run.err;
  const std::vector<std::string> errors = Lines(run.err);
  ASSERT_EQ(errors.size(), files.size()) << run.err;
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_NE(errors[i].find("\"" + (dir / files[i].first).string() + "\""), std::string::npos)
        << errors[i];
    EXPECT_NE(errors[i].find("16384 pixels a side, 2^26 pixels in all"), std::string::npos)
        << errors[i];
  }
  EXPECT_LT(run.max_rss_kb, 512 * 1024);
  EXPECT_LT(run.elapsed, std::chrono::seconds(5));  // a refusal, not a decode: milliseconds
}

// Endless and huge inputs stay within their limits: a list from a device that never ends is
// refused within seconds, saying which limit it passed; a half-megabyte PNG declaring 8192 x 8192
// 16-bit RGBA pixels is read a row at a time into its 8-bit picture; and a report that cannot be
// written fails the run.
TEST(EndlessInputs, ListsPicturesAndTheReportStayWithinTheirLimits) {
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer's shadow and its quarantine of freed blocks (256 MiB) count too; the limit
  // still tells a refusal from a list read on for gigabytes.
  constexpr long kLimitKb = 1024 * 1024;
#else
  constexpr long kLimitKb = 256 * 1024;
#endif
  ChildOptions options;
  options.time_limit = std::chrono::seconds(10);
  for (const auto& [list, limit] :
       {std::pair{"--from-file /dev/zero", "a name in it is longer than 4096 bytes"},
        std::pair{"-0 --from-file - < /dev/zero", "it is longer than 64 MiB"}}) {
    SCOPED_TRACE(list);
    const ChildResult run =
        RunChild("/bin/sh", {"-c", std::string("exec \"$0\" ") + list, TESSALY_CLI_PATH}, options);
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_NE(run.err.find(limit), std::string::npos) << run.err;
    EXPECT_LT(run.max_rss_kb, kLimitKb);
  }

  ScratchFolder dir("endless");
  WriteBytes(dir / "deep.png", PngWithImageData(8192, 8192, 16, 6, 8192 * (1 + 8192 * 8)));
  ChildResult run = RunCli({"--jobs", "1", (dir / "deep.png").string()});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_LT(run.max_rss_kb, kLimitKb);

  WriteBytes(dir / "a.bmp", FrameForMinute(1).bmp);
  run = RunChild("/bin/sh", {"-c", "exec \"$0\" \"$@\" > /dev/full", TESSALY_CLI_PATH, "--json",
                             "--dry-run", (dir / "a.bmp").string()});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("tessaly-cli: write error: No space left on device\n"), std::string::npos)
      << run.err;
}

}  // namespace
}  // namespace tessaly::test
