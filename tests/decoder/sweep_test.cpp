// The header sweep thinned: the ten fixed headers at every 7th row width from 700 to 2200 and
// noise up to 4 must read exactly, at the start column and picture the frame was made with;
// narrow, very noisy and degraded frames of every header must never get a wrong name, and
// low-contrast frames and frames whose bits start half a bit off must be named right.
// tessaly-sweep-decode runs every width and compares with an earlier build.
#include <gtest/gtest.h>

#include <string>

#include "sweep_decode/sweep.h"

namespace tessaly {
namespace {

using framegen::Layout;
using sweep::Outcome;
using sweep::SweepResult;

enum class Expect {
  kExact,        // named right from the header as sent, at the start and picture sent
  kNamedRight,   // named right
  kNoWrongName,  // right, doubtful or not read, never a wrong name
};

struct SweepGroup {
  std::string name;
  Expect expect;
  sweep::SweepRange range;
  int min_cases;
};

sweep::SweepRange Range(int first, int last, int step, std::vector<int> noises, int degradation = 0,
                        std::vector<int> headers = {}) {
  return {first, last, step, std::move(noises), {degradation}, std::move(headers)};
}

int DegradationIndex(const std::string& name) {
  for (std::size_t d = 0; d < sweep::Degradations().size(); ++d) {
    if (name == sweep::Degradations()[d].name) return static_cast<int>(d);
  }
  ADD_FAILURE() << "no degradation " << name;
  return 0;
}

class ThinnedSweep : public ::testing::TestWithParam<SweepGroup> {};

TEST_P(ThinnedSweep, NamesEveryFrameAsTheGroupExpects) {
  const SweepGroup& group = GetParam();
  int checked = 0;
  for (const sweep::SweepCase& c : sweep::SweepCases(group.range)) {
    const SweepResult r = sweep::RunCase(c);
    ++checked;
    const std::string what = std::string(sweep::LayoutName(c.layout)) + " width " +
                             std::to_string(c.width) + " noise " + std::to_string(c.noise) +
                             " header " + std::to_string(c.header) + ": \"" + r.header +
                             "\" for \"" + r.sent_header + "\", " + sweep::OutcomeName(r.outcome) +
                             " \"" + r.name + "\"";
    EXPECT_NE(r.outcome, Outcome::kWrong) << what;
    if (group.expect == Expect::kNoWrongName) continue;
    EXPECT_EQ(r.outcome, Outcome::kRight) << what;
    if (group.expect == Expect::kNamedRight) continue;
    EXPECT_TRUE(r.right) << what;
    EXPECT_EQ(r.cut.x, r.sent_picture.x) << what;
    EXPECT_EQ(r.cut.y, r.sent_picture.y) << what;
    EXPECT_EQ(r.cut.width, r.sent_picture.width) << what;
  }
  EXPECT_GE(checked, group.min_cases);
}

std::string GroupName(const ::testing::TestParamInfo<SweepGroup>& info) {
  return info.param.name;
}

std::vector<SweepGroup> Groups() {
  std::vector<SweepGroup> groups;
  for (Layout layout : {Layout::GOES, Layout::GMS, Layout::Meteosat}) {
    std::vector<int> fixed;
    for (int h = 0; h < 10; ++h) {
      if (sweep::SweepHeaders()[static_cast<std::size_t>(h)].layout == layout) fixed.push_back(h);
    }
    for (int noise : {0, 2, 4}) {
      groups.push_back({std::string(sweep::LayoutName(layout)) + "_sigma" + std::to_string(noise),
                        Expect::kExact, Range(700, 2200, 7, {noise}, 0, fixed), 215 * 3});
    }
  }
  // Every header from here on: every kind, with varying dates and codes.
  groups.push_back({"Narrow_sigma8", Expect::kNoWrongName, Range(226, 699, 43, {8}), 12 * 29});
  groups.push_back(
      {"AllWidths_sigma32", Expect::kNoWrongName, Range(226, 2200, 188, {32}), 11 * 29});
  const auto degraded = [&](const char* name, Expect expect, const char* degradation, int step,
                            int noise) {
    const int widths = (2080 - 800) / step + 1;
    groups.push_back({name, expect, Range(800, 2080, step, {noise}, DegradationIndex(degradation)),
                      widths * 29});
  };
  degraded("LowContrast_sigma4", Expect::kNamedRight, "low-contrast", 320, 4);
  degraded("HalfBitEarly_sigma2", Expect::kNamedRight, "half-bit-early", 640, 2);
  degraded("HalfBitLate_sigma2", Expect::kNamedRight, "half-bit-late", 640, 2);
  degraded("Blur1_2_sigma2", Expect::kNoWrongName, "blur1.2", 640, 2);
  degraded("Blur2_sigma2", Expect::kNoWrongName, "blur2.0", 640, 2);
  degraded("Jpeg20_sigma2", Expect::kNoWrongName, "jpeg20", 640, 2);
  degraded("Dark_sigma8", Expect::kNoWrongName, "dark", 640, 8);
  return groups;
}

INSTANTIATE_TEST_SUITE_P(Sweep, ThinnedSweep, ::testing::ValuesIn(Groups()), GroupName);

}  // namespace
}  // namespace tessaly
