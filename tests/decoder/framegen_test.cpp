// The frame generator the decoder tests rely on: sizes, repeatability and refused recipes.
#include "framegen/framegen.h"

#include <gtest/gtest.h>

#include "base/errors.h"

namespace tessaly {
namespace {

using framegen::FrameRecipe;
using framegen::Layout;

TEST(FrameGenerator, SizedSpecsFillTheRequestedFrame) {
  for (Layout layout : {Layout::GOES, Layout::GMS, Layout::Meteosat}) {
    const framegen::Frame frame =
        framegen::MakeFrame(framegen::SizedFrameRecipe(layout, 1040, 1100));
    EXPECT_EQ(frame.width, 1040);
    EXPECT_EQ(frame.height, 1100);
    EXPECT_EQ(frame.pixels.size(), 1040u * 1100u);
    EXPECT_EQ(frame.picture.width, 990);
    EXPECT_EQ(frame.picture.height, 800);
    EXPECT_EQ(frame.header, framegen::DefaultHeader(layout));
  }
  EXPECT_THROW(framegen::SizedFrameRecipe(Layout::GOES, 840, 60), Error);
}

TEST(FrameGenerator, EqualSpecsGiveEqualFramesAndTheSeedChangesTheNoise) {
  FrameRecipe recipe;
  recipe.noise = 10;
  recipe.seed = 42;
  const framegen::Frame a = framegen::MakeFrame(recipe);
  const framegen::Frame b = framegen::MakeFrame(recipe);
  EXPECT_EQ(a.pixels, b.pixels);
  recipe.seed = 43;
  EXPECT_NE(framegen::MakeFrame(recipe).pixels, a.pixels);
}

TEST(FrameGenerator, RefusesSpecsItsLayoutCannotHold) {
  FrameRecipe recipe;
  recipe.top_rows = 27;
  EXPECT_THROW(framegen::MakeFrame(recipe), Error);
  recipe = FrameRecipe();
  recipe.start_column = 90;  // past the first tenth of 840 columns
  EXPECT_THROW(framegen::MakeFrame(recipe), Error);
  recipe = FrameRecipe();
  recipe.layout = Layout::GMS;
  recipe.header = "\xE9t\xE9";  // no EBCDIC code for e-acute in a GMS header
  EXPECT_THROW(framegen::MakeFrame(recipe), Error);
}

TEST(FrameGenerator, WorkingImageHoldsGreyTimes64) {
  FrameRecipe recipe;
  recipe.width = 301;
  recipe.picture_height = 3;
  recipe.noise = 20;
  const framegen::Frame frame = framegen::MakeFrame(recipe);
  const IplImagePtr image = framegen::MakeWorkingImage(frame);
  ASSERT_EQ(image->width, 301);
  ASSERT_EQ(image->height, frame.height);
  for (int y = 0; y < frame.height; ++y) {
    for (int x = 0; x < frame.width; ++x)
      ASSERT_EQ(IplRow16(image.get(), y)[x], frame.At(x, y) * 64);
  }
}

}  // namespace
}  // namespace tessaly
