// The data-line decoder: window means, tone level, the frame analysis steps, the cut and the
// handling of small and odd pictures.
#include "decoder/data_lines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "decoder_test_support.h"

namespace tessaly {
namespace {

using decoder_test::Decode;
using decoder_test::FillBlock;
using decoder_test::FilledImage;
using framegen::Frame;
using framegen::FrameRecipe;
using framegen::Layout;

constexpr double kPi = 3.141592653589793;

DataLinesResult Analyse(const IplImage* image, SatelliteType type = SatelliteType::GOES) {
  return AnalyseDataLines(image, 4.0f * static_cast<float>(image->width), type);
}

TEST(RunMean, RoundsHalvesToEvenAndCountsSamplesPastTheRowAsZero) {
  const std::uint16_t row[] = {1, 2, 3, 4, 100, 100};
  int mean = -1;
  RunMean(row, 6, 0, 2, mean);  // 1.5
  EXPECT_EQ(mean, 2);
  RunMean(row, 6, 1, 2, mean);  // 2.5
  EXPECT_EQ(mean, 2);
  RunMean(row, 6, 2, 2, mean);  // 3.5
  EXPECT_EQ(mean, 4);
  RunMean(row, 6, 4, 4, mean);  // (100 + 100 + 0 + 0) / 4
  EXPECT_EQ(mean, 50);
  RunMean(nullptr, 6, 0, 3, mean);
  EXPECT_EQ(mean, 0);
  mean = 77;
  RunMean(row, 6, 0, 0, mean);
  EXPECT_EQ(mean, 77);
}

TEST(RunMean, AddsIntoA32BitFloat) {
  // 512 x 32768 reaches 2^24, past which a float no longer holds odd integers: the 600 ones
  // after it are lost one by one. Exact: 16777816 / 1112 = 15087.96; float: 15087.42.
  std::vector<std::uint16_t> row(512, 32768);
  row.resize(1112, 1);
  int mean = 0;
  RunMean(row.data(), 1112, 0, 1112, mean);
  EXPECT_EQ(mean, 15087);
}

TEST(ToneLevel, MeasuresThe450HzToneAndNotAFlatRow) {
  const ResonatorCoefficients filter = DesignToneFilter(4000.0f);
  std::vector<std::uint16_t> tone(1000);
  for (int x = 0; x < 1000; ++x) {
    tone[x] = static_cast<std::uint16_t>(8000 + 4000 * std::sin(2 * kPi * 112.5 * x / 1000));
  }
  const float level = ToneLevel(tone.data(), 1000, 1000, filter);
  EXPECT_NEAR(level, 2 * 4000 / kPi * 101 / 100, 2 * 4000 / kPi * 0.05);
  const std::vector<std::uint16_t> flat(1000, 8000);
  EXPECT_LT(ToneLevel(flat.data(), 1000, 1000, filter), 10.0f);
  EXPECT_EQ(ToneLevel(tone.data(), 1000, 9, filter), 0.0f);
  EXPECT_EQ(ToneLevel(nullptr, 1000, 1000, filter), 0.0f);
  EXPECT_EQ(ToneLevel(tone.data(), 1000, -20, filter), 0.0f);
}

TEST(DecodeDataLines, PicturesNarrowerThan226AreNotDecoded) {
  IplImagePtr narrow = FilledImage(225, 100, 12000);
  FillBlock(narrow.get(), 0, 0, 225, 10, 400);
  const IplImage* before = narrow.get();
  const decoder_test::Decoded d = Decode(std::move(narrow));
  EXPECT_EQ(d.image.get(), before);
  EXPECT_EQ(d.header_text, "");
  EXPECT_EQ(d.black_level, 0);
  EXPECT_EQ(d.white_level, 16320);
  EXPECT_TRUE(Analyse(FilledImage(226, 100, 12000).get()).decoded);
}

TEST(DecodeDataLines, TopBlockIsOneRowWhenRowOneIsBelowHalfOfRowZero) {
  IplImagePtr image = FilledImage(300, 60, 4000);
  FillBlock(image.get(), 0, 0, 300, 1, 8002);  // half of 8002 is 4001
  EXPECT_EQ(Analyse(image.get()).top_rows, 1);
  FillBlock(image.get(), 0, 0, 300, 1, 8000);
  EXPECT_EQ(Analyse(image.get()).top_rows, 26);
}

TEST(DecodeDataLines, UniformPictureGivesTheLongestBlockAndTheLastStartColumn) {
  IplImagePtr image = FilledImage(1000, 100, 10000);
  const DataLinesResult goes = Analyse(image.get());
  EXPECT_EQ(goes.top_rows, 26);
  EXPECT_EQ(goes.start_column, 1000 / 10 + 1);  // minus 1000 div 1680 = 0
  EXPECT_EQ(goes.data_rows, 4);                 // uniform rows are at or below the mid level
  EXPECT_EQ(goes.header_text, std::string(25, ' '));
  const DataLinesResult meteosat = Analyse(image.get(), SatelliteType::Meteosat);
  EXPECT_EQ(meteosat.start_column, 1000 / 10 + 1 - 2);  // minus (1000 x 4) div 1680
  EXPECT_EQ(meteosat.data_rows, 2);
}

TEST(DecodeDataLines, HeaderBandOfOneTo26RowsIsRead) {
  for (int rows : {1, 13, 26}) {
    FrameRecipe recipe;
    recipe.top_rows = rows;
    recipe.noise = 6;
    const Frame frame = framegen::MakeFrame(recipe);
    const DataLinesResult result = Analyse(framegen::MakeWorkingImage(frame).get());
    EXPECT_EQ(result.top_rows, rows);
    EXPECT_EQ(result.header_text, frame.header);
  }
}

TEST(DecodeDataLines, MeteosatAlwaysTakesTwoDataRowsAnd800PictureRows) {
  FrameRecipe recipe;
  recipe.layout = Layout::Meteosat;
  recipe.picture_height = 300;
  recipe.header = "MET7    VIS0104011230D2  ";
  const Frame frame = framegen::MakeFrame(recipe);
  const decoder_test::Decoded d =
      Decode(framegen::MakeWorkingImage(frame), SatelliteType::Meteosat);
  EXPECT_EQ(d.header_text, frame.header);
  EXPECT_EQ(d.picture_height, 800);
  // The 800 rows are clipped to the frame: they reach its bottom.
  EXPECT_EQ(d.image->height, frame.height - frame.first_picture_row);
  EXPECT_EQ(frame.picture.height, d.image->height);
}

TEST(DecodeDataLines, NoDarkRowAfterTheBandGivesNoHeader) {
  FrameRecipe recipe;
  recipe.data_rows = 0;
  const Frame frame = framegen::MakeFrame(recipe);
  const DataLinesResult result = Analyse(framegen::MakeWorkingImage(frame).get());
  EXPECT_EQ(result.data_rows, 0);
  EXPECT_EQ(result.header_text, "");
}

TEST(DecodeDataLines, GmsLayoutIsRecognisedFromWindowsBAndC) {
  FrameRecipe recipe;
  recipe.layout = Layout::GMS;
  recipe.header = framegen::DefaultHeader(Layout::GMS);
  const Frame frame = framegen::MakeFrame(recipe);
  const DataLinesResult result = Analyse(framegen::MakeWorkingImage(frame).get());
  EXPECT_EQ(result.decoded_as, SatelliteType::GMS);
  EXPECT_EQ(result.window_b, recipe.white * 64);
  EXPECT_EQ(result.window_c, recipe.black * 64);
  EXPECT_EQ(result.black_level, recipe.black * 64);  // the band's black, not window B
}

TEST(DecodeDataLines, GoesTakesItsBlackLevelFromADarkWindowB) {
  FrameRecipe recipe;
  const Frame frame = framegen::MakeFrame(recipe);
  IplImagePtr image = framegen::MakeWorkingImage(frame);
  const int x = frame.start_column;
  const int y = frame.first_picture_row;
  FillBlock(image.get(), x, y, x + 90, y + 18, 3 * 64);
  DataLinesResult result = Analyse(image.get());
  EXPECT_EQ(result.decoded_as, SatelliteType::GOES);
  EXPECT_EQ(result.window_b, 3 * 64);
  EXPECT_EQ(result.black_level, 3 * 64);  // the band's darkest column is 8 x 64
  // A window B brighter than a seventh of the white level leaves the band's black.
  FillBlock(image.get(), x, y, x + 90, y + 18, 100 * 64);
  result = Analyse(image.get());
  EXPECT_EQ(result.decoded_as, SatelliteType::GOES);
  EXPECT_EQ(result.black_level, recipe.black * 64);
}

class ThousandPixelFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    spec_.width = 1000;
    spec_.data_rows = 1;
    frame_ = framegen::MakeFrame(spec_);
    const DataLinesResult plain = Analyse(framegen::MakeWorkingImage(frame_).get());
    ASSERT_EQ(plain.start_column, 32);
    ASSERT_EQ(plain.data_rows, 1);
    mid_ = (plain.black_level + plain.white_level) / 2;
  }
  // Data rows found when the first picture row is dark but for columns [from, to) after
  // the start column, which sit just above the mid level.
  int DataRowsWithBrightSpan(int from, int to) {
    IplImagePtr image = framegen::MakeWorkingImage(frame_);
    const int y = frame_.first_picture_row;
    FillBlock(image.get(), 0, y, 1000, y + 1, 0);
    FillBlock(image.get(), 32 + from, y, 32 + to, y + 1, static_cast<std::uint16_t>(mid_ + 1));
    return Analyse(image.get()).data_rows;
  }
  FrameRecipe spec_;
  Frame frame_;
  int mid_ = 0;
};

TEST_F(ThousandPixelFrame, DataRowWindowIsColumns827To935AfterTheStart) {
  EXPECT_EQ(DataRowsWithBrightSpan(827, 936), 1);
  EXPECT_EQ(DataRowsWithBrightSpan(826, 935), 2);
  EXPECT_EQ(DataRowsWithBrightSpan(828, 937), 2);
}

TEST_F(ThousandPixelFrame, LayoutWindowsAreColumns5To45And57To98AfterTheStart) {
  IplImagePtr image = framegen::MakeWorkingImage(frame_);
  const int y = frame_.first_picture_row;
  FillBlock(image.get(), 0, y, 200, y + 18, 0);
  FillBlock(image.get(), 32 + 5, y, 32 + 46, y + 18, 3000);
  FillBlock(image.get(), 32 + 57, y, 32 + 99, y + 18, 7000);
  const DataLinesResult result = Analyse(image.get());
  EXPECT_EQ(result.picture_width, 952);
  EXPECT_EQ(result.window_b, 3000);
  EXPECT_EQ(result.window_c, 7000);
}

TEST(DecodeDataLines, PictureHeightNeverExceeds800) {
  FrameRecipe recipe;
  recipe.picture_height = 1000;
  const Frame frame = framegen::MakeFrame(recipe);
  const decoder_test::Decoded d = Decode(framegen::MakeWorkingImage(frame));
  EXPECT_EQ(d.picture_height, 800);
  EXPECT_EQ(d.image->height, 800);
  EXPECT_EQ(d.header_text, frame.header);
}

TEST(DecodeDataLines, BottomScanKeepsRowsAbove740) {
  FrameRecipe recipe;
  recipe.picture_height = 700;
  recipe.tone_rows = 200;  // rows 722 to 921
  recipe.below_rows = 10;
  const Frame frame = framegen::MakeFrame(recipe);
  const DataLinesResult result = Analyse(framegen::MakeWorkingImage(frame).get());
  EXPECT_EQ(result.picture_height, 740 - frame.first_picture_row);
}

TEST(DecodeDataLines, ShortFramesLoseAtMostOneRowPerPass) {
  // Below row 750 each pass measures a single row: one row after one tone row is trimmed
  // exactly; with more rows after the tone, the first pass drops one and the second finds no
  // tone, so the tone and the rest stay in the picture.
  FrameRecipe recipe;
  recipe.picture_height = 300;
  recipe.tone_rows = 1;
  recipe.below_rows = 1;
  Frame frame = framegen::MakeFrame(recipe);
  EXPECT_EQ(Analyse(framegen::MakeWorkingImage(frame).get()).picture_height, 300);
  recipe.tone_rows = 5;
  recipe.below_rows = 3;
  frame = framegen::MakeFrame(recipe);
  EXPECT_EQ(Analyse(framegen::MakeWorkingImage(frame).get()).picture_height, 300 + 5 + 3 - 1);
}

TEST(DecodeDataLines, NothingIsCutWhenTheRectangleLiesOutsideThePicture) {
  IplImagePtr image = FilledImage(300, 20, 9000);
  const IplImage* before = image.get();
  const decoder_test::Decoded d = Decode(std::move(image), SatelliteType::Meteosat);
  EXPECT_EQ(d.picture_height, 800);  // from row 22 of a 20-row picture
  EXPECT_EQ(d.image.get(), before);
  EXPECT_EQ(d.image->height, 20);
}

// Tiny and odd sizes: every step reads rows and windows past the picture's edges.
TEST(DecodeDataLines, TinyAndOddPicturesStayInsideTheirBuffers) {
  for (int width : {0, 1, 9, 10, 11, 225, 226, 227, 231, 301}) {
    for (int height : {0, 1, 2, 3, 4, 5, 6, 27, 30, 47, 48, 49}) {
      for (SatelliteType type : {SatelliteType::GOES, SatelliteType::Meteosat}) {
        IplImagePtr image = FilledImage(width, height, 0);
        for (int y = 0; y < height; ++y) {
          for (int x = 0; x < width; ++x) {
            IplRow16(image.get(), y)[x] =
                static_cast<std::uint16_t>(((x * 37 + y * 101) % 256) * 64);
          }
        }
        if (height > 3 && width > 0) FillBlock(image.get(), 0, 0, width, 3, 250 * 64);
        const IplImage* before = image.get();
        const DataLinesResult expected = Analyse(image.get(), type);
        const decoder_test::Decoded d = Decode(std::move(image), type);
        SCOPED_TRACE(::testing::Message() << width << " x " << height);
        EXPECT_LE(d.header_text.size(), 25u);
        if (width < kMinDecodableWidth) {
          EXPECT_EQ(d.header_text, "");
          EXPECT_EQ(d.image.get(), before);
          continue;
        }
        EXPECT_EQ(d.header_text, expected.header_text);
        if (expected.cut.empty()) {
          EXPECT_EQ(d.image.get(), before);
        } else {
          EXPECT_EQ(d.image->width, expected.cut.width);
          EXPECT_EQ(d.image->height, expected.cut.height);
          EXPECT_LE(expected.cut.x + expected.cut.width, width);
          EXPECT_LE(expected.cut.y + expected.cut.height, height);
        }
      }
    }
  }
}

TEST(DecodeDataLines, RefusesAPictureThatIsNotSixteenBitGrey) {
  IplImage* eight = iplCreateImageHeader(1, 0, kIplDepth8U, "GRAY", "GRAY", 0, 0, 8, 300, 40,
                                         nullptr, nullptr, nullptr, nullptr);
  iplAllocateImage(eight, 1, 0);
  EXPECT_THROW(AnalyseDataLines(eight, 1200.0f, SatelliteType::GOES), Error);
  iplDeallocate(eight, kIplImageAll);
}

TEST(DecodeDataLines, FramesDecodeOnSeveralThreadsAtOnce) {
  std::vector<Frame> frames;
  for (int width : {840, 1040, 1680, 2080}) {
    FrameRecipe recipe;
    recipe.width = width;
    recipe.header = "THREADS " + std::to_string(width);
    frames.push_back(framegen::MakeFrame(recipe));
  }
  std::vector<std::string> alone;
  for (const Frame& frame : frames) {
    alone.push_back(Analyse(framegen::MakeWorkingImage(frame).get()).header_text);
  }
  std::vector<std::vector<std::string>> together(2);
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        for (std::size_t i = 0; i < frames.size(); ++i) {
          const Frame& frame = frames[(i + t) % frames.size()];
          together[t].push_back(Analyse(framegen::MakeWorkingImage(frame).get()).header_text);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 2; ++t) {
    for (std::size_t i = 0; i < together[t].size(); ++i) {
      EXPECT_EQ(together[t][i], alone[(i + t) % frames.size()]);
    }
  }
}

}  // namespace
}  // namespace tessaly
