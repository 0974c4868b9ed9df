// The header sweep thinned to every 7th row width from 700 to 2200: every layout, noise level
// and header must read exactly, at the start column and picture the frame was made with.
// tessaly-sweep-decode runs every width and compares with an earlier build.
#include <gtest/gtest.h>

#include <string>

#include "sweep_decode/sweep.h"

namespace tessaly {
namespace {

using framegen::Layout;
using sweep::SweepResult;

struct SweepGroup {
  Layout layout;
  int noise;
};

class ThinnedSweep : public ::testing::TestWithParam<SweepGroup> {};

TEST_P(ThinnedSweep, ReadsEveryHeaderAtEveryWidth) {
  const SweepGroup group = GetParam();
  sweep::SweepRange range;
  range.width_step = 7;
  range.noises = {group.noise};
  int checked = 0;
  for (const sweep::SweepCase& c : sweep::SweepCases(range)) {
    if (c.layout != group.layout) continue;
    const SweepResult r = sweep::RunCase(c);
    ++checked;
    const std::string sent = sweep::SweepHeaders()[static_cast<std::size_t>(c.header)].text;
    EXPECT_TRUE(r.right) << "width " << c.width << ": \"" << r.header << "\" for \"" << sent
                         << "\"";
    EXPECT_EQ(r.start_column, r.sent_start_column) << "width " << c.width;
    EXPECT_EQ(r.cut.x, r.sent_picture.x) << "width " << c.width;
    EXPECT_EQ(r.cut.y, r.sent_picture.y) << "width " << c.width;
    EXPECT_EQ(r.cut.width, r.sent_picture.width) << "width " << c.width;
  }
  EXPECT_GE(checked, 215 * 3);  // 215 widths, at least 3 headers each
}

std::string GroupName(const ::testing::TestParamInfo<SweepGroup>& info) {
  return std::string(sweep::LayoutName(info.param.layout)) + "_sigma" +
         std::to_string(info.param.noise);
}

std::vector<SweepGroup> Groups() {
  std::vector<SweepGroup> groups;
  for (Layout layout : {Layout::GOES, Layout::GMS, Layout::Meteosat}) {
    for (int noise : {0, 2, 4}) groups.push_back({layout, noise});
  }
  return groups;
}

INSTANTIATE_TEST_SUITE_P(Widths700To2200, ThinnedSweep, ::testing::ValuesIn(Groups()), GroupName);

}  // namespace
}  // namespace tessaly
