// bench_archive: what walking a folder tree (--recursive) and writing sidecar files (--sidecar)
// add to a tessaly-cli batch. The same small frames are laid out for every run afresh, as one
// folder or as a tree of folders, and the median of the runs of each kind is printed with its
// difference from the one-folder run.
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
using Clock = std::chrono::steady_clock;

// A fresh folder for one run: links to the frames, all in one folder or spread over
// `folders` folders. Runs never reuse a folder and nothing is removed until the end: a
// filesystem that has just freed many files can take far longer to make new ones (ext4 without
// a journal skips inodes freed moments ago), which would count against whichever run makes
// the most files rather than measure the options.
fs::path Layout(const fs::path& root, const std::vector<fs::path>& frames, int folders, int run) {
  const fs::path top = root / ("run" + std::to_string(run));
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const fs::path folder =
        folders > 1 ? top / ("y" + std::to_string(1000 + i % static_cast<std::size_t>(folders)))
                    : top;
    fs::create_directories(folder);
    fs::create_hard_link(frames[i], folder / frames[i].filename());
  }
  return top;
}

double RunCli(const fs::path& folder, const std::string& options, int jobs) {
  // Laying out the links dirtied thousands of inodes; their writeback would fall into the run.
  ::sync();
  const std::string command = std::string("'") + TESSALY_CLI_PATH + "' -q --no-overwrite --jobs " +
                              std::to_string(jobs) + " " + options + " '" + folder.string() +
                              "' > /dev/null";
  const auto start = Clock::now();
  const int status = std::system(command.c_str());
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (status != 0) std::fprintf(stderr, "tessaly-cli failed with status %d\n", status);
  return seconds;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Times tessaly-cli over one folder, a folder tree, and with sidecar files."};
  int files = 10000;
  int folders = 100;
  int width = 280;
  int height = 120;
  int reps = 3;
  int jobs = 2;
  std::string work = (fs::temp_directory_path() / "tessaly-bench-archive").string();
  app.add_option("--files", files, "frames in all")->capture_default_str();
  app.add_option("--folders", folders, "folders of the tree")->capture_default_str();
  app.add_option("--width", width, "frame width")->capture_default_str();
  app.add_option("--height", height, "frame height")->capture_default_str();
  app.add_option("--reps", reps, "runs of each kind (the median is printed)")
      ->capture_default_str();
  app.add_option("--jobs", jobs, "tessaly-cli --jobs")->capture_default_str();
  app.add_option("--work", work, "scratch folder (emptied first)")->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  const fs::path root(work);
  fs::remove_all(root);
  const fs::path master = root / "frames";
  fs::create_directories(master);
  std::vector<fs::path> frames;
  for (int i = 0; i < files; ++i) {
    framegen::FrameRecipe recipe =
        framegen::SizedFrameRecipe(framegen::Layout::GOES, width, height);
    // A header of its own for every frame (day, hour and minute from the number), so that
    // every run saves every file, in the tree as in the one folder.
    char header[32];
    std::snprintf(header, sizeof header, "MET7    C029912%02d%02d%02dF%03d", 1 + i / 1440 % 28,
                  i / 60 % 24, i % 60, i % 1000);
    recipe.header = header;
    recipe.seed = static_cast<std::uint64_t>(i) + 1;
    frames.push_back(master / ("frame" + std::to_string(10000 + i) + ".bmp"));
    WriteFileReplacing(frames.back(), EncodeBmp(framegen::ToBitmap(framegen::MakeFrame(recipe))));
  }

  std::vector<double> one, one_sidecar, walked;
  int run = 0;
  for (int r = 0; r < reps; ++r) {
    // Interleaved, so that a change in the machine's load touches every kind alike.
    one.push_back(RunCli(Layout(root, frames, 1, run++), "", jobs));
    walked.push_back(RunCli(Layout(root, frames, folders, run++), "--recursive", jobs));
    one_sidecar.push_back(RunCli(Layout(root, frames, 1, run++), "--sidecar", jobs));
  }
  const double base = Median(one);
  auto show = [&](const char* what, double seconds) {
    std::printf("%-34s %8.3f s  %+6.2f %%\n", what, seconds, (seconds / base - 1.0) * 100.0);
  };
  std::printf("%d frames of %d x %d, %d runs each, --jobs %d\n", files, width, height, reps, jobs);
  show("one folder", base);
  show(("--recursive, " + std::to_string(folders) + " folders").c_str(), Median(walked));
  show("one folder, --sidecar", Median(one_sidecar));
  fs::remove_all(root);
  return 0;
}
