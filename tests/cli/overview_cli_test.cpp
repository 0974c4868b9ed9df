// tessaly-cli --sheet and --animate end to end on a generated catalogue: the sheet read back
// tile by tile, the animation read back frame by frame with Pillow, a filter that matches
// nothing, and an output that stands already.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include <cstdio>
#include <sstream>

#include "cli_folder_test.h"
#include "overview/contact_sheet.h"
#include "overview/result_picture.h"
#include "picture_files/png_image.h"
#include "support/sha256.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// Every 15 minutes from 00:00 to 01:15 of 11 March 2001, but for 00:30.
const std::vector<std::string> kClocks{"0000", "0015", "0045", "0100", "0115"};

class OverviewCliTest : public test::CliFolderTest {
 protected:
  OverviewCliTest() : CliFolderTest("tessaly-overview-cli-") {}

  // The day's frames, each picture of its own, catalogued with their results below out/.
  void SetUp() override {
    CliFolderTest::SetUp();
    for (std::size_t i = 0; i < kClocks.size(); ++i) {
      framegen::FrameRecipe recipe;
      recipe.header = "GOES8   VIS010311" + kClocks[i] + "C1  ";
      recipe.picture_height = 300;
      recipe.seed = i + 1;
      SaveFrame("in/rx" + std::to_string(i) + ".bmp", framegen::MakeFrame(recipe));
    }
    const auto run = Cli({"--catalog", "cat.db", "-o", "out", "in"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
  }

  fs::path Result(const std::string& clock) {
    return dir_ / "out" / ("C1   11-03-01 " + clock + ".png");
  }

  // The tiles the catalogue holds, as the sheet lays them out.
  std::vector<Tile> Tiles() {
    std::vector<Tile> tiles;
    for (const std::string& clock : kClocks) {
      const std::string time = "2001-03-11T" + clock.substr(0, 2) + ":" + clock.substr(2) + "Z";
      tiles.push_back({time, "GOES8", "C1", TileState::kPresent, Result(clock)});
    }
    return tiles;
  }

  static Bitmap Grey(const fs::path& png) {
    Bitmap picture;
    picture.SetFormat(PixelFormat::k8Bit);
    TPngImage().LoadIntoGrey8(ReadFileBytes(png), picture);
    return picture;
  }
};

bool Shows(const Bitmap& sheet, const TileBox& box, const Bitmap& thumbnail) {
  for (int y = 0; y < thumbnail.Height(); ++y) {
    for (int x = 0; x < thumbnail.Width(); ++x) {
      if (sheet.Row(box.y + y)[box.x + x] != thumbnail.Row(y)[x]) return false;
    }
  }
  return true;
}

TEST_F(OverviewCliTest, TheSheetShowsEachResultInItsSlotAndAGoneResultAsAGoneTile) {
  fs::remove(Result("0100"));
  const auto run = Cli({"--catalog", "cat.db", "--sheet", "sheet.png", "--since", "2001-03-11",
                        "--until", "2001-03-11"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  // The gaps report finds the day's other 91 slots of a frame every 15 minutes missing.
  const std::string shows = "Contact sheet of GOES8 C1 on 2001-03-11: 5 frames, 91 missing, 1 gone";
  EXPECT_NE(run.out.find("sheet.png: " + shows), std::string::npos) << run.out;
  TPngImage png;
  png.LoadFromFile(dir_ / "sheet.png");
  EXPECT_EQ(png.Texts, (std::vector<std::string>{"Author=Kestrelwood", "Description=" + shows,
                                                 "Software=Tessaly", "Title=sheet.png"}));

  const Bitmap sheet = Grey(dir_ / "sheet.png");
  std::vector<MissingSlot> missing;
  for (int minute = 0; minute < 24 * 60; minute += 15) {
    char clock[8];
    std::snprintf(clock, sizeof clock, "%02d%02d", minute / 60, minute % 60);
    if (std::find(kClocks.begin(), kClocks.end(), clock) != kClocks.end()) continue;
    missing.push_back(
        {"2001-03-11T" + std::string(clock, 2) + ":" + (clock + 2) + "Z", "GOES8", "C1"});
  }
  const std::vector<Tile> tiles = MergedTiles(Tiles(), missing);
  const SheetLayout layout = LayOutSheet(tiles);
  ASSERT_EQ(layout.boxes.size(), 96u);
  EXPECT_EQ(sheet.Width(), layout.width);
  EXPECT_EQ(sheet.Height(), layout.height);
  // The slot of 00:30 has no frame: its tile says "missing" in its place.
  const int pitch = layout.boxes[1].x - layout.boxes[0].x;
  EXPECT_EQ(layout.boxes[2].x - layout.boxes[1].x, pitch);
  EXPECT_EQ(tiles[layout.boxes[2].tile].state, TileState::kMissing);
  for (const TileBox& box : layout.boxes) {
    const Tile& tile = tiles[box.tile];
    if (tile.state == TileState::kMissing && tile.time != "2001-03-11T00:30Z") continue;
    if (fs::exists(tile.result)) {
      ResultPicture result = ReadResult(tile.result);
      ShrinkToFit(result.picture, kThumbnailSide, kThumbnailSide);
      EXPECT_TRUE(Shows(sheet, box, result.picture)) << tile.time;
      continue;
    }
    // The gone tile and the missing one: a flat box, its word in the middle.
    EXPECT_TRUE(tile.time == "2001-03-11T01:00Z" || tile.state == TileState::kMissing);
    const int last = kThumbnailSide - 1;
    const std::uint8_t fill = sheet.Row(box.y)[box.x];
    EXPECT_NE(fill, 255);
    EXPECT_EQ(sheet.Row(box.y + last)[box.x + last], fill);
    int word = 0;
    for (int x = 0; x < kThumbnailSide; ++x) word += sheet.Row(box.y + last / 2)[box.x + x] != fill;
    EXPECT_GT(word, 5);
  }
}

TEST_F(OverviewCliTest, TheAnimationHoldsEachResultInTimeOrderWithItsGreysAndTiming) {
  fs::remove(Result("0045"));
  ASSERT_EQ(Cli({"--catalog", "cat.db", "--animate", "hold.gif"}).exit_code, 0);
  const auto run = Cli({"--catalog", "cat.db", "--animate", "skip.gif", "--gaps", "skip",
                        "--frame-ms", "120", "--code", "C1"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(run.out.find("4 frames of 120 ms, 92 slots without a picture left out"),
            std::string::npos)
      << run.out;

  std::vector<std::string> pictures;
  for (const std::string& clock : kClocks) {
    if (!fs::exists(Result(clock))) continue;
    const Bitmap picture = Grey(Result(clock));
    std::vector<std::uint8_t> pixels;
    for (int y = 0; y < picture.Height(); ++y) {
      pixels.insert(pixels.end(), picture.Row(y), picture.Row(y) + picture.Width());
    }
    pictures.push_back(test::Sha256Hex(pixels));
  }
  ASSERT_EQ(pictures.size(), 4u);
  // What Pillow finds: the loop, then each frame's time and the SHA-256 of its greys.
  const std::string script =
      "import sys, hashlib\n"
      "from PIL import Image, ImageSequence\n"
      "im = Image.open(sys.argv[1])\n"
      "print('loop', im.info.get('loop'))\n"
      "for f in ImageSequence.Iterator(im):\n"
      "    print(f.info['duration'], hashlib.sha256(f.convert('L').tobytes()).hexdigest())\n";
  // Held, 00:15 stays on for the missing 00:30 and the gone 00:45, and 01:15 for the rest of
  // the day.
  for (const auto& [file, times] : {std::pair{"hold.gif", std::vector{250, 750, 250, 22750}},
                                    {"skip.gif", {120, 120, 120, 120}}}) {
    const auto pillow = test::RunChild("/usr/bin/python3", {"-c", script, (dir_ / file).string()});
    if (pillow.err.find("No module named 'PIL'") != std::string::npos) {
      GTEST_SKIP() << "python3-pil is not installed (scripts/setup installs it)";
    }
    std::ostringstream expected;
    expected << "loop 0\n";
    for (std::size_t i = 0; i < pictures.size(); ++i)
      expected << times[i] << ' ' << pictures[i] << '\n';
    EXPECT_EQ(pillow.out, expected.str()) << file << '\n' << pillow.err;
  }
}

TEST_F(OverviewCliTest, NothingMatchedOrAnOutputInTheWayWritesNothing) {
  auto run = Cli({"--catalog", "cat.db", "--sheet", "none.png", "--satellite", "GMS5"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err,
            "tessaly-cli: no frame of \"cat.db\" matches --satellite GMS5; nothing written\n");
  EXPECT_FALSE(fs::exists(dir_ / "none.png"));

  const std::vector<std::uint8_t> mine{'m', 'i', 'n', 'e'};
  WriteFileReplacing(dir_ / "mine.gif", mine);
  run = Cli({"--catalog", "cat.db", "--sheet", "sheet.png", "--animate", "mine.gif"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err, "tessaly-cli: \"mine.gif\" exists; --overwrite replaces it\n");
  EXPECT_EQ(ReadFileBytes(dir_ / "mine.gif"), mine);
  EXPECT_FALSE(fs::exists(dir_ / "sheet.png")) << "checked before anything is written";

  run = Cli({"--catalog", "cat.db", "--animate", "mine.gif", "--overwrite"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  const std::vector<std::uint8_t> gif = ReadFileBytes(dir_ / "mine.gif");
  EXPECT_EQ(std::string(gif.begin(), gif.begin() + std::min<std::size_t>(gif.size(), 6)), "GIF89a");
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_FALSE(IsTemporaryFileName(entry.path().filename().string())) << entry.path();
  }
}

}  // namespace
}  // namespace tessaly
