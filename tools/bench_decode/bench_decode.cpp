// tessaly-bench-decode: the time DecodeDataLines takes on generated 840x880, 1040x1100 and
// 2080x2100 frames (the cut included, the making of the working picture not).
#include <benchmark/benchmark.h>

#include <string>

#include "decoder/data_lines.h"
#include "framegen/framegen.h"

namespace {

using tessaly::IplImage;
using tessaly::IplImagePtr;
namespace framegen = tessaly::framegen;

// A frame without stop tone makes the bottom scan measure every row up to row 750: the
// decoder's slowest case.
IplImagePtr WorkingFrame(int width, int height, std::string& header, bool stop_tone = true) {
  framegen::FrameRecipe recipe = framegen::SizedFrameRecipe(framegen::Layout::GOES, width, height);
  recipe.noise = 8.0;
  if (!stop_tone) {
    recipe.picture_height += recipe.tone_rows + recipe.below_rows;
    recipe.tone_rows = 0;
    recipe.below_rows = 0;
  }
  const framegen::Frame frame = framegen::MakeFrame(recipe);
  header = frame.header;
  return framegen::MakeWorkingImage(frame);
}

void BM_DecodeDataLines(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const bool stop_tone = state.range(2) != 0;
  std::string expected;
  const IplImagePtr frame = WorkingFrame(width, height, expected, stop_tone);
  const float sample_rate = 4.0f * static_cast<float>(width);
  int picture_width = 0;
  int picture_height = 0;
  int black = 0;
  int white = 0;
  int start = 0;
  std::string header;
  for (auto _ : state) {
    state.PauseTiming();
    IplImage* image = tessaly::iplCloneImage(frame.get());
    state.ResumeTiming();
    tessaly::DecodeDataLines(image, picture_width, picture_height, black, white, start, header,
                             sample_rate, tessaly::SatelliteType::GOES);
    state.PauseTiming();
    tessaly::iplDeallocate(image, tessaly::kIplImageAll);
    state.ResumeTiming();
  }
  if (header != expected) state.SkipWithError("the generated header was not read");
  state.SetLabel(std::to_string(width) + "x" + std::to_string(height) +
                 (stop_tone ? "" : " without stop tone"));
}

void BM_AnalyseDataLines(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  std::string expected;
  const IplImagePtr frame = WorkingFrame(width, height, expected);
  for (auto _ : state) {
    benchmark::DoNotOptimize(tessaly::AnalyseDataLines(
        frame.get(), 4.0f * static_cast<float>(width), tessaly::SatelliteType::GOES));
  }
  state.SetLabel(std::to_string(width) + "x" + std::to_string(height));
}

void FrameSizes(benchmark::internal::Benchmark* bench) {
  bench->Args({840, 880})->Args({1040, 1100})->Args({2080, 2100})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_DecodeDataLines)
    ->Args({840, 880, 1})
    ->Args({1040, 1100, 1})
    ->Args({2080, 2100, 1})
    ->Args({2080, 2100, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnalyseDataLines)->Apply(FrameSizes);

}  // namespace

BENCHMARK_MAIN();
