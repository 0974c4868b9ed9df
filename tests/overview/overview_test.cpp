// The overviews from tiles built by hand: missing slots, doubtful and failed frames on the
// sheet, and an animation of frames of three sizes read back with giflib.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "base/errors.h"
#include "base/files.h"
#include "overview/animation.h"
#include "overview/contact_sheet.h"
#include "picture_files/png_image.h"
#include "picture_files/png_io.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// A grey picture whose pixels all differ from their neighbours, in `block` x `block` squares.
Bitmap Pattern(int width, int height, int seed, int block = 1) {
  Bitmap picture;
  picture.SetFormat(PixelFormat::k8Bit);
  picture.SetPalette(GreyRamp());
  picture.SetSize(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      picture.Row(y)[x] = (x / block * 7 + y / block * 31 + seed) % 256;
  }
  return picture;
}

class OverviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tessaly-overview-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  Tile Saved(const std::string& clock, const Bitmap& picture,
             TileState state = TileState::kPresent) {
    const fs::path file = dir_ / (clock + ".png");
    WriteFileReplacing(file, EncodeToolPNG(picture, "", file));
    return {"2001-03-11T" + clock + "Z", "GOES8", "C1", state, file};
  }

  fs::path dir_;
};

// A box of one grey with a word in its middle.
void ExpectWordTile(const Bitmap& sheet, const TileBox& box, std::uint8_t fill) {
  const int last = kThumbnailSide - 1;
  EXPECT_EQ(sheet.Row(box.y)[box.x], fill);
  EXPECT_EQ(sheet.Row(box.y + last)[box.x + last], fill);
  int word = 0;
  for (int x = 0; x < kThumbnailSide; ++x) word += sheet.Row(box.y + last / 2)[box.x + x] != fill;
  EXPECT_GT(word, 5);
}

TEST_F(OverviewTest, MissingSlotsAndDoubtfulAndFailedFramesAreMarkedTilesInTheirPlaces) {
  const Bitmap doubtful = Pattern(100, 80, 1);
  const std::vector<Tile> frames{Saved("00:00", Pattern(100, 80, 0)),
                                 Saved("00:15", doubtful, TileState::kDoubtful),
                                 {"2001-03-11T00:45Z", "GOES8", "C1", TileState::kFailed, {}},
                                 Saved("01:00", Pattern(100, 80, 3))};
  const std::vector<MissingSlot> missing{{"2001-03-11T00:30Z", "GOES8", "C1"}};
  const ContactSheet made = MakeContactSheet(frames, missing, dir_ / "sheet.png");
  EXPECT_EQ(made.description,
            "Contact sheet of GOES8 C1 on 2001-03-11: 4 frames, 1 missing, 1 doubtful, 1 failed");
  Bitmap sheet;
  sheet.SetFormat(PixelFormat::k8Bit);
  TPngImage().LoadIntoGrey8(made.png, sheet);

  const SheetLayout layout = LayOutSheet(MergedTiles(frames, missing));
  ASSERT_EQ(layout.boxes.size(), 5u);
  const int pitch = layout.boxes[1].x - layout.boxes[0].x;
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(layout.boxes[i].x, layout.boxes[0].x + static_cast<int>(i) * pitch);
  }
  // In time order: 00:00, 00:15 doubtful, 00:30 missing, 00:45 failed, 01:00.
  const std::uint8_t missing_fill = sheet.Row(layout.boxes[2].y)[layout.boxes[2].x];
  const std::uint8_t failed_fill = sheet.Row(layout.boxes[3].y)[layout.boxes[3].x];
  EXPECT_NE(missing_fill, failed_fill);
  ExpectWordTile(sheet, layout.boxes[2], missing_fill);
  ExpectWordTile(sheet, layout.boxes[3], failed_fill);
  // The doubtful result (small enough to be shown as it is) under a strip that says so.
  const TileBox& box = layout.boxes[1];
  EXPECT_EQ(std::memcmp(sheet.Row(box.y + 79) + box.x, doubtful.Row(79), 100), 0);
  EXPECT_NE(std::memcmp(sheet.Row(box.y + 1) + box.x, doubtful.Row(1), 100), 0);
}

// The file's frames, each with its time in hundredths, as giflib reads them back.
struct ReadBack {
  std::vector<Bitmap> frames;
  std::vector<int> delays;
};

ReadBack ReadGif(const std::vector<std::uint8_t>& bytes) {
  struct Source {
    const std::vector<std::uint8_t>* bytes;
    std::size_t at = 0;
  } source{&bytes};
  int error = 0;
  GifFileType* gif = DGifOpen(
      &source,
      [](GifFileType* g, GifByteType* to, int n) {
        auto* s = static_cast<Source*>(g->UserData);
        n = static_cast<int>(std::min<std::size_t>(n, s->bytes->size() - s->at));
        std::memcpy(to, s->bytes->data() + s->at, n);
        s->at += n;
        return n;
      },
      &error);
  EXPECT_EQ(DGifSlurp(gif), GIF_OK);
  ReadBack read;
  for (int i = 0; i < gif->ImageCount; ++i) {
    const SavedImage& image = gif->SavedImages[i];
    Bitmap frame = Pattern(image.ImageDesc.Width, image.ImageDesc.Height, 0);
    for (int y = 0; y < frame.Height(); ++y) {
      std::memcpy(frame.Row(y), image.RasterBits + y * frame.Width(), frame.Width());
    }
    GraphicsControlBlock control;
    DGifSavedExtensionToGCB(gif, i, &control);
    read.frames.push_back(frame);
    read.delays.push_back(control.DelayTime);
  }
  EXPECT_EQ(gif->SColorMap->ColorCount, 256);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(gif->SColorMap->Colors[i].Blue, i);
  DGifCloseFile(gif, &error);
  return read;
}

TEST_F(OverviewTest, AnimationFramesAreFittedToTheFirstAndGapsHeldInTheirPlace) {
  const Bitmap first = Pattern(40, 30, 0);
  const Bitmap narrow = Pattern(20, 30, 5);
  const std::vector<Tile> frames{
      Saved("00:00", first), Saved("00:15", narrow),
      // Twice the first's size in blocks of 2 x 2: its area average is the first.
      Saved("00:45", Pattern(80, 60, 0, 2))};
  std::vector<std::uint8_t> gif;
  const AnimationSummary summary =
      WriteAnimation(frames, std::vector<MissingSlot>{{"2001-03-11T00:30Z", "GOES8", "C1"}},
                     {200, GapPolicy::kHold}, [&gif](std::span<const std::uint8_t> bytes) {
                       gif.insert(gif.end(), bytes.begin(), bytes.end());
                     });
  EXPECT_EQ(
      summary.description,
      "Animation of GOES8 C1 on 2001-03-11: 3 frames of 200 ms, 1 slot without a picture held, 2 "
      "fitted to 40 x 30");
  const ReadBack read = ReadGif(gif);
  ASSERT_EQ(read.frames.size(), 3u);
  EXPECT_EQ(read.delays, (std::vector<int>{20, 40, 20}));
  for (const Bitmap& frame : read.frames) {
    ASSERT_EQ(frame.Width(), 40);
    ASSERT_EQ(frame.Height(), 30);
  }
  for (int y = 0; y < 30; ++y) {
    EXPECT_EQ(std::memcmp(read.frames[0].Row(y), first.Row(y), 40), 0);
    EXPECT_EQ(std::memcmp(read.frames[2].Row(y), first.Row(y), 40), 0);
    // The narrow frame centred on black.
    EXPECT_EQ(std::memcmp(read.frames[1].Row(y) + 10, narrow.Row(y), 20), 0);
    EXPECT_EQ(read.frames[1].Row(y)[9] + read.frames[1].Row(y)[30], 0);
  }
}

TEST_F(OverviewTest, AFailingSinkStopsTheAnimationWithItsOwnError) {
  // Large enough for the sink to be called while giflib encodes, not only once it is done.
  const std::vector<Tile> frames{Saved("00:00", Pattern(1000, 800, 0)),
                                 Saved("00:15", Pattern(1000, 800, 9))};
  int calls = 0;
  WriteAnimation(frames, {}, {}, [&calls](std::span<const std::uint8_t>) { ++calls; });
  ASSERT_GT(calls, 1);
  const auto full = [](std::span<const std::uint8_t>) { throw Error("No space left on device"); };
  try {
    WriteAnimation(frames, {}, {}, full);
    ADD_FAILURE() << "the sink's error was not passed on";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "No space left on device");
  }
}

}  // namespace
}  // namespace tessaly
