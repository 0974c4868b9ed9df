// The header sweep thinned: the ten fixed headers at every 7th row width from 700 to 2200 and
// noise up to 4 must read exactly, at the start column and picture the frame was made with;
// narrow, very noisy, degraded and impaired frames of every header must never get a wrong
// name, and low-contrast frames, frames whose bits start half a bit off and each kind of the
// damage of reception and copies must be named right (that damage: at least the share its
// group names). tessaly-sweep-decode runs every width and compares with an earlier build.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/processor.h"
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
  double min_right_share = 0.0;  // of the group's frames named right, with kNoWrongName
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

// TESSALY_SWEEP_EVERY=N takes every Nth case of each group: the sanitizer build, which looks
// for memory faults at many widths rather than for the groups' shares, runs the frames at a
// fraction of its cost. The plain build runs them all and alone checks the shares.
int CaseStride() {
  const char* every = std::getenv("TESSALY_SWEEP_EVERY");
  const int stride = every == nullptr ? 1 : std::atoi(every);
  return stride > 1 ? stride : 1;
}

class ThinnedSweep : public ::testing::TestWithParam<SweepGroup> {};

TEST_P(ThinnedSweep, NamesEveryFrameAsTheGroupExpects) {
  const SweepGroup& group = GetParam();
  const int stride = CaseStride();
  int index = 0;
  int checked = 0;
  int right = 0;
  for (const sweep::SweepCase& c : sweep::SweepCases(group.range)) {
    if (index++ % stride != 0) continue;
    const SweepResult r = sweep::RunCase(c);
    ++checked;
    if (r.outcome == Outcome::kRight) ++right;
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
  EXPECT_GE(checked, group.min_cases / stride);
  if (stride > 1) return;
  EXPECT_GE(right, group.min_right_share * checked) << right << " of " << checked << " right";
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
  // One group a kind of the damage of reception and copies, at two widths (970 and 1790); the
  // shares are a little below what the --impaired tables give there.
  const auto impaired = [&](const char* name, const char* degradation, double share) {
    groups.push_back({name, Expect::kNoWrongName,
                      Range(970, 1790, 820, {4}, DegradationIndex(degradation)), 2 * 29, share});
  };
  impaired("CrashDropoutSatellite", "crash+dropout-satellite", 0.75);
  impaired("CrashDropoutKind", "crash+dropout-kind", 0.75);
  impaired("CrashDropoutDate", "crash+dropout-date", 0.75);
  impaired("CrashDropoutCode", "crash+dropout-code", 0.75);
  impaired("Phasing40", "phasing-40%", 0.95);
  impaired("CropLeft10", "crop-left-10", 0.95);
  impaired("CropTop12", "crop-top-12", 0.95);
  impaired("Negative", "negative", 0.95);
  impaired("Scale073Bicubic", "scale-0.73-bicubic", 0.75);
  impaired("Scale085Nearest", "scale-0.85-nearest", 0.9);
  impaired("Scale137Nearest", "scale-1.37-nearest", 0.9);
  impaired("Slant05", "slant-0.5", 0.8);
  impaired("SaltAndPepper2", "salt-pepper-2%", 0.8);
  impaired("SaltAndPepper5", "salt-pepper-5%", 0.7);
  impaired("SaltAndPepper10", "salt-pepper-10%", 0.5);
  impaired("NoisyRows2", "noisy-rows-2", 0.8);
  impaired("Streaks8", "streaks-8", 0.75);
  impaired("Fading80", "fading-80%", 0.8);
  impaired("Levels4", "levels-4", 0.95);
  impaired("Gamma22", "gamma-2.2", 0.75);
  impaired("MixPhasingSlant", "mix-phasing-slant", 0.9);
  // Frames made 560 pixels wide and copied by nearest-neighbour sampling at 0.85 (1.13 samples
  // a bit, one column in seven left out) and 1.37 (1.83 samples a bit, some columns twice), and
  // at 0.5 from 970 pixels (1.15 samples a bit).
  groups.push_back({"Scale085NearestNarrow", Expect::kNoWrongName,
                    Range(560, 560, 41, {4}, DegradationIndex("scale-0.85-nearest")), 29, 0.55});
  groups.push_back({"Scale137NearestNarrow", Expect::kNoWrongName,
                    Range(560, 560, 41, {4}, DegradationIndex("scale-1.37-nearest")), 29, 0.8});
  groups.push_back({"Scale05NearestNarrow", Expect::kNoWrongName,
                    Range(970, 970, 41, {4}, DegradationIndex("scale-0.5-nearest")), 29, 0.9});
  return groups;
}

INSTANTIATE_TEST_SUITE_P(Sweep, ThinnedSweep, ::testing::ValuesIn(Groups()), GroupName);

// A bright burst of static over the second data row's window ends the count of data rows there,
// and a dropout over the first character of the one row left gave clean zero bits, read as a
// blank with full confidence: the frame was named "OES-10 29-02-04 0000 WV". The rows beyond
// the burst carry the character.
TEST(ImpairedFrames, ACrashPlusADropoutOverTheSatelliteNamesTheFrameRight) {
  for (const int width : {560, 1040, 2200}) {
    framegen::FrameRecipe recipe;
    recipe.width = width;
    recipe.header = "GOES-10 WV 0402290000    ";
    recipe.data_rows = 2;
    recipe.picture_height = 40;
    recipe.content = framegen::Content::Flat;
    recipe.noise = 4;
    recipe.impairment = {.crash_row = 2, .dropout_row = 1, .dropout_first = 0, .dropout_length = 1};
    TExtBitmap bitmap;
    bitmap.Assign(framegen::ToBitmap(framegen::MakeFrame(recipe)));
    const PictureResult result = ProcessLoadedPicture("frame.bmp", std::move(bitmap), {});
    EXPECT_EQ(result.proposed_name, "GOES-10 29-02-04 0000 WV.png") << width;
    EXPECT_FALSE(result.header_doubtful) << width;
    // With one data row, nothing is left to read the character from: no name.
    recipe.data_rows = 1;
    bitmap.Assign(framegen::ToBitmap(framegen::MakeFrame(recipe)));
    const PictureResult one_row = ProcessLoadedPicture("frame.bmp", std::move(bitmap), {});
    EXPECT_EQ(one_row.named_from, NamedFrom::kInputName) << width;
    EXPECT_TRUE(one_row.header_doubtful) << width;
  }
}

}  // namespace
}  // namespace tessaly
