// bench_pipeline: where the time of one file goes (load, decode, render, resample, name,
// encode and write) beside a bare libpng encode of the same output pixels at the same
// settings, the peak memory of one file in a fresh process, and the throughput of
// tessaly-cli with one and two jobs on a batch of frames.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/processor.h"
#include "app/saving.h"
#include "app/source_prep.h"
#include "base/files.h"
#include "bench_files/plain_libpng.h"
#include "decoder/data_lines.h"
#include "framegen/framegen.h"
#include "naming/header_name.h"
#include "picture_files/byte_stream.h"
#include "picture_files/ext_bitmap.h"
#include "picture_files/png_io.h"
#include "support/bmp_writer.h"

namespace {

namespace fs = std::filesystem;
using namespace tessaly;
using Clock = std::chrono::steady_clock;

constexpr int kLevel = 4;       // what SaveBitmapAsPNG uses
constexpr int kFilters = 0x98;  // none, sub and Paeth

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A GOES frame of exactly width x height with a readable header whose picture code is `code`.
framegen::Frame MakeFrame(int width, int height, int code) {
  framegen::FrameRecipe recipe = framegen::SizedFrameRecipe(framegen::Layout::GOES, width, height);
  char header[32];
  std::snprintf(header, sizeof header, "MET7    C02991205123%04d ", code % 10000);
  recipe.header = header;
  recipe.noise = 6;
  recipe.seed = static_cast<std::uint64_t>(code) + 1;
  return framegen::MakeFrame(recipe);
}

fs::path WriteInput(const fs::path& dir, const framegen::Frame& frame, bool png, int code) {
  const fs::path path = dir / ("frame" + std::to_string(code) + (png ? ".png" : ".bmp"));
  const Bitmap bitmap = framegen::ToBitmap(frame);
  if (png) {
    SaveBitmapAsPNG(bitmap, path, "", "", "", "");
  } else {
    WriteFileReplacing(path, EncodeBmp(bitmap));
  }
  return path;
}

struct StageTimes {
  std::vector<double> load, decode, render, resample, name, encode, write, total, bare;
};

// The whole pipeline for one file, saved whatever stands under its name.
void ProcessAndSave(const fs::path& input) {
  const PictureResult result = ProcessPicture(input, ProcessingOptions{});
  if (result.changed) {
    SavePicture(result, [](const fs::path&, const fs::path&) { return Answer::kYes; });
  }
}

// One pass through the stages the pipeline runs, each timed on its own.
void TimeStages(const fs::path& input, bool png, StageTimes& t, const fs::path& out_dir) {
  auto start = Clock::now();
  TExtBitmap in;
  in.SetFormat(PixelFormat::k8Bit);
  SetGreyPalette(in);
  const std::vector<std::uint8_t> bytes = ReadFileBytes(input);
  if (png) {
    LoadPNGFromMemory(in, bytes, false);
  } else {
    ByteStream stream(bytes);
    in.LoadFromStream(stream);
  }
  t.load.push_back(Ms(Clock::now() - start));

  start = Clock::now();
  IplImage* sample = MakeSampleImage(in).release();
  int pw, ph, black, white, sc;
  std::string header;
  DecodeDataLines(sample, pw, ph, black, white, sc, header, 4.0f * sample->width,
                  SatelliteType::GOES);
  IplImagePtr cut(sample);
  t.decode.push_back(Ms(Clock::now() - start));

  start = Clock::now();
  TExtBitmap out;
  RenderOutput(*cut, black, white, out);
  cut.reset();
  t.render.push_back(Ms(Clock::now() - start));

  start = Clock::now();
  if (out.Width() > kMaxOutputWidth) Interpolate(out, kMaxOutputWidth, out.Height());
  t.resample.push_back(Ms(Clock::now() - start));

  start = Clock::now();
  const fs::path name = WithPngExtension(HeaderToFileName(input, header).name);
  t.name.push_back(Ms(Clock::now() - start));

  start = Clock::now();
  const std::vector<std::uint8_t> png_bytes = EncodeOutput(out, name);
  t.encode.push_back(Ms(Clock::now() - start));
  start = Clock::now();
  WriteFileReplacing(name, png_bytes);
  t.write.push_back(Ms(Clock::now() - start));

  bench::GreyPicture picture;
  picture.width = static_cast<std::uint32_t>(out.Width());
  picture.height = static_cast<std::uint32_t>(out.Height());
  for (int y = 0; y < out.Height(); ++y) {
    picture.pixels.insert(picture.pixels.end(), out.Row(y), out.Row(y) + out.Width());
  }
  start = Clock::now();
  bench::PlainEncode(picture, (out_dir / "bare.png").string(), kLevel, kFilters);
  t.bare.push_back(Ms(Clock::now() - start));

  start = Clock::now();
  ProcessAndSave(input);
  t.total.push_back(Ms(Clock::now() - start));
}

long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  }
  return -1;
}

// Child mode: processes one file in this fresh process and prints the growth of its peak
// resident memory in kB.
int MeasureOne(const std::string& file) {
  { std::ofstream("/proc/self/clear_refs") << "5"; }  // resets the peak to the present size
  const long before = StatusKb("VmRSS:");
  ProcessAndSave(file);
  const long peak = StatusKb("VmHWM:");
  std::printf("%ld\n", peak - before);
  return 0;
}

long PeakKbOfOneFile(const std::string& self, const fs::path& file) {
  const std::string command = "'" + self + "' --measure-one '" + file.string() + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  long kb = -1;
  if (std::fscanf(pipe, "%ld", &kb) != 1) kb = -1;
  ::pclose(pipe);
  return kb;
}

double RunBatch(const fs::path& dir, int jobs) {
  // The outputs of an earlier run would be inputs of this one: the folder stands for its PNGs too.
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".png") fs::remove(entry.path());
  }
  const std::string command = std::string("'") + TESSALY_CLI_PATH + "' --overwrite --jobs " +
                              std::to_string(jobs) + " '" + dir.string() + "' > /dev/null";
  const auto start = Clock::now();
  const int status = std::system(command.c_str());
  const double seconds = Ms(Clock::now() - start) / 1000.0;
  if (status != 0) std::fprintf(stderr, "tessaly-cli failed with status %d\n", status);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Times the per-file processing stage by stage, its peak memory, and the batch "
      "throughput of tessaly-cli."};
  int reps = 7;
  int batch = 200;
  std::string measure_one;
  app.add_option("--reps", reps, "repetitions per frame (the median is printed)")
      ->capture_default_str();
  app.add_option("--batch", batch, "frames in the throughput batch (0 skips it)")
      ->capture_default_str();
  app.add_option("--measure-one", measure_one, "internal: peak memory of one file")->group("");
  CLI11_PARSE(app, argc, argv);
  if (!measure_one.empty()) return MeasureOne(measure_one);

  char tmpl[] = "/tmp/tessaly-bench-XXXXXX";
  const fs::path dir = ::mkdtemp(tmpl);
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const int sizes[][2] = {{840, 880}, {1040, 1100}, {2080, 2100}};

  std::printf(
      "Per-file processing, median of %d runs, ms (write = temporary file, fsync, "
      "rename)\n",
      reps);
  std::printf("%-10s %-4s %7s %7s %7s %8s %6s %7s %6s %8s | %8s %7s | %8s %9s %6s\n", "frame", "in",
              "load", "decode", "render", "resample", "name", "encode", "write", "total",
              "bare-png", "ratio", "peak MB", "budget MB", "share");
  for (const auto& size : sizes) {
    for (const bool png : {false, true}) {
      const framegen::Frame frame = MakeFrame(size[0], size[1], 7);
      const fs::path input = WriteInput(dir, frame, png, 7);
      StageTimes t;
      for (int r = 0; r < reps; ++r) TimeStages(input, png, t, dir);
      const long peak_kb = PeakKbOfOneFile(self, input);
      const double in_mb = size[0] * double(size[1]) / 1e6;
      Bitmap out;
      LoadPNGIntoBitmap(out, dir / "bare.png", false);
      const double out_mb = out.Width() * double(out.Height()) / 1e6;
      const double budget = 4 * (in_mb + out_mb);
      std::printf(
          "%4dx%-5d %-4s %7.2f %7.2f %7.2f %8.2f %6.3f %7.2f %6.2f %8.2f | %8.2f %7.3f | "
          "%8.1f %9.1f %6.2f\n",
          size[0], size[1], png ? "png" : "bmp", Median(t.load), Median(t.decode), Median(t.render),
          Median(t.resample), Median(t.name), Median(t.encode), Median(t.write), Median(t.total),
          Median(t.bare), Median(t.total) / Median(t.bare), peak_kb / 1024.0, budget,
          peak_kb / 1024.0 / budget);
    }
  }
  std::printf(
      "ratio = total / bare-png; budget = 4 x (input pixels + output pixels); "
      "share = peak / budget\n");

  if (batch > 0) {
    const fs::path batch_dir = dir / "batch";
    fs::create_directories(batch_dir);
    for (int i = 0; i < batch; ++i) WriteInput(batch_dir, MakeFrame(1040, 1100, i), false, i);
    const double one = RunBatch(batch_dir, 1);
    const double two = RunBatch(batch_dir, 2);
    std::printf(
        "\ntessaly-cli on %d BMP frames of 1040x1100: --jobs 1 %.2f s (%.1f files/s), "
        "--jobs 2 %.2f s (%.1f files/s), speed-up %.2fx\n",
        batch, one, batch / one, two, batch / two, one / two);
  }
  fs::remove_all(dir);
  return 0;
}
