// bench_overview: the contact sheet of a busy day (100 frames of one code) and the animation of
// a day of 96 frames of 800 x 800, each made by tessaly-cli from a catalogue of generated frames;
// prints the wall and processor time, the peak memory and the size of each output.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "base/files.h"
#include "framegen/framegen.h"
#include "support/bmp_writer.h"

namespace {

namespace fs = std::filesystem;
using namespace tessaly;

struct Measured {
  double wall = 0;  // seconds
  double cpu = 0;   // user and system seconds
  long peak_kb = 0;
};

// Runs tessaly-cli in `folder` with its output discarded and measures it as wait4 reports it.
Measured Run(const fs::path& folder, const std::vector<std::string>& args) {
  std::vector<std::string> storage{TESSALY_CLI_PATH};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : storage) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(folder.c_str()) != 0 || !std::freopen("/dev/null", "w", stdout)) ::_exit(127);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  Measured m;
  m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
          usage.ru_stime.tv_usec / 1e6;
  m.peak_kb = usage.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "tessaly-cli %s failed (status %d)\n", args.back().c_str(), status);
    std::exit(1);
  }
  return m;
}

// `count` frames of code `code` on 11 March 2001, `spacing` minutes apart from 00:00; each
// picture 800 x 800 once cut and shrunk, with clouds of its own and received noise.
void MakeFrames(const fs::path& folder, const std::string& code, int count, int spacing,
                double noise) {
  for (int i = 0; i < count; ++i) {
    framegen::FrameRecipe recipe;
    recipe.width = 1040;
    recipe.picture_height = 800;
    recipe.noise = noise;
    recipe.seed = static_cast<std::uint64_t>(i) + 1;
    char header[64];
    std::snprintf(header, sizeof header, "GOES8   VIS010311%02d%02d%-4s", i * spacing / 60,
                  i * spacing % 60, code.c_str());
    recipe.header = header;
    WriteFileReplacing(folder / (code + "-" + std::to_string(1000 + i) + ".bmp"),
                       EncodeBmp(framegen::ToBitmap(framegen::MakeFrame(recipe))));
  }
}

Measured Median(std::vector<Measured> runs) {
  std::sort(runs.begin(), runs.end(), [](auto& a, auto& b) { return a.wall < b.wall; });
  return runs[runs.size() / 2];
}

void Show(const char* what, const Measured& m, const fs::path& output) {
  std::printf("%-44s %6.2f s wall  %6.2f s CPU  %7.1f MiB peak  %7.2f MiB file\n", what, m.wall,
              m.cpu, m.peak_kb / 1024.0, fs::file_size(output) / 1048576.0);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Times tessaly-cli --sheet and --animate over a catalogue of generated frames."};
  int sheet_frames = 100;
  int animation_frames = 96;
  double noise = 4.0;
  int reps = 3;
  std::string work = (fs::temp_directory_path() / "tessaly-bench-overview").string();
  app.add_option("--sheet-frames", sheet_frames, "frames of the sheet's day")
      ->capture_default_str();
  app.add_option("--animation-frames", animation_frames, "frames of the animation")
      ->capture_default_str();
  app.add_option("--noise", noise, "noise of the frames, grey levels")->capture_default_str();
  app.add_option("--reps", reps, "runs of each (the median is printed)")->capture_default_str();
  app.add_option("--work", work, "scratch folder (emptied first)")->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  const fs::path root(work);
  fs::remove_all(root);
  fs::create_directories(root / "frames");
  // A busy day at one frame every 14 minutes; the animation's code every 15 minutes.
  MakeFrames(root / "frames", "C1", sheet_frames, 24 * 60 / std::max(sheet_frames, 1), noise);
  MakeFrames(root / "frames", "C2", animation_frames, 24 * 60 / std::max(animation_frames, 1),
             noise);
  Run(root, {"-q", "--catalog", "cat.db", "-o", "results", "frames"});

  std::vector<Measured> sheets, animations;
  for (int r = 0; r < reps; ++r) {
    // Interleaved, so that a change in the machine's load touches both alike.
    sheets.push_back(
        Run(root, {"--catalog", "cat.db", "--code", "C1", "--overwrite", "--sheet", "sheet.png"}));
    animations.push_back(
        Run(root, {"--catalog", "cat.db", "--code", "C2", "--overwrite", "--animate", "day.gif"}));
  }
  std::printf("%d runs each, frames with noise %.1f\n", reps, noise);
  Show(("--sheet, " + std::to_string(sheet_frames) + " frames").c_str(), Median(sheets),
       root / "sheet.png");
  Show(("--animate, " + std::to_string(animation_frames) + " frames of 800 x 800").c_str(),
       Median(animations), root / "day.gif");
  fs::remove_all(root);
  return 0;
}
