// Round trips: frames from the generator decode to their header text and picture area.
#include <gtest/gtest.h>

#include <string>

#include "decoder_test_support.h"

namespace tessaly {
namespace {

using decoder_test::Decode;
using decoder_test::DecoderType;
using framegen::Frame;
using framegen::FrameRecipe;
using framegen::Layout;

struct RoundTripCase {
  Layout layout;
  int width;
  double noise;
};

std::string CaseName(const ::testing::TestParamInfo<RoundTripCase>& info) {
  const char* names[] = {"GOES", "GMS", "Meteosat"};
  return std::string(names[static_cast<int>(info.param.layout)]) + "_" +
         std::to_string(info.param.width) + (info.param.noise > 0 ? "_noisy" : "_clean");
}

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, ReadsTheHeaderAndCutsThePictureArea) {
  const RoundTripCase& c = GetParam();
  FrameRecipe recipe;
  recipe.layout = c.layout;
  recipe.width = c.width;
  recipe.header = framegen::DefaultHeader(c.layout);
  recipe.noise = c.noise;
  recipe.seed = static_cast<std::uint64_t>(c.width) * 7 + static_cast<std::uint64_t>(c.noise);
  const Frame frame = framegen::MakeFrame(recipe);
  const decoder_test::Decoded d = Decode(framegen::MakeWorkingImage(frame), DecoderType(c.layout));

  EXPECT_EQ(d.header_text, frame.header);
  EXPECT_EQ(d.start_column, frame.start_column);
  EXPECT_EQ(d.picture_height, 800);
  ASSERT_EQ(d.image->width, frame.picture.width);
  ASSERT_EQ(d.image->height, frame.picture.height);
  int mismatches = 0;
  for (int y = 0; y < frame.picture.height; ++y) {
    for (int x = 0; x < frame.picture.width; ++x) {
      const int expected = frame.At(frame.picture.x + x, frame.picture.y + y) * 64;
      if (IplRow16(d.image.get(), y)[x] != expected) ++mismatches;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

std::vector<RoundTripCase> AllCases() {
  std::vector<RoundTripCase> cases;
  for (Layout layout : {Layout::GOES, Layout::GMS, Layout::Meteosat}) {
    for (int width : {814, 840, 880, 1000, 1040, 1680, 2080}) {
      for (double noise : {0.0, 12.0}) cases.push_back({layout, width, noise});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Layouts, RoundTrip, ::testing::ValuesIn(AllCases()), CaseName);

TEST(RoundTrip, OneToFourDataRowsUnderAnyPicture) {
  for (Layout layout : {Layout::GOES, Layout::GMS}) {
    for (int rows = 1; rows <= 4; ++rows) {
      FrameRecipe recipe;
      recipe.layout = layout;
      recipe.width = 1040;
      recipe.header = framegen::DefaultHeader(layout);
      recipe.data_rows = rows;
      recipe.content = rows % 2 ? framegen::Content::Gradient : framegen::Content::Flat;
      recipe.noise = 12;
      recipe.seed = static_cast<std::uint64_t>(rows);
      const Frame frame = framegen::MakeFrame(recipe);
      const DataLinesResult result =
          AnalyseDataLines(framegen::MakeWorkingImage(frame).get(), 4160.0f, SatelliteType::GOES);
      EXPECT_EQ(result.data_rows, rows);
      EXPECT_EQ(result.decoded_as,
                layout == Layout::GMS ? SatelliteType::GMS : SatelliteType::GOES);
      EXPECT_EQ(result.header_text, frame.header);
      EXPECT_EQ(result.cut.y, frame.picture.y);
      EXPECT_EQ(result.cut.height, frame.picture.height);
    }
  }
}

// Asked for GOES, the layout decides between GMS and GOES only. A Meteosat frame read that
// way starts its bit clock three quarters of a bit late, past the first bit: its header is read
// at best by the clock started half a bit earlier, the decoder's second try; read as Meteosat
// it is read at the clock's own start.
TEST(RoundTrip, MeteosatFramesNeedTheMeteosatType) {
  for (int width : {840, 2080}) {
    FrameRecipe recipe;
    recipe.layout = Layout::Meteosat;
    recipe.width = width;
    recipe.header = framegen::DefaultHeader(Layout::Meteosat);
    const Frame frame = framegen::MakeFrame(recipe);
    const IplImagePtr image = framegen::MakeWorkingImage(frame);
    const DataLinesResult goes = AnalyseDataLines(image.get(), 4.0f * width, SatelliteType::GOES);
    EXPECT_EQ(goes.start_column, frame.start_column + (width * 4) / 1680 - width / 1680);
    EXPECT_FALSE(goes.header_text == frame.header && goes.clock_shift == 0);
    const DataLinesResult meteosat =
        AnalyseDataLines(image.get(), 4.0f * width, SatelliteType::Meteosat);
    EXPECT_EQ(meteosat.header_text, frame.header);
    EXPECT_EQ(meteosat.clock_shift, 0);
  }
}

}  // namespace
}  // namespace tessaly
