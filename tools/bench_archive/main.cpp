// bench_archive: what walking a folder tree (--recursive) and writing sidecar files (--sidecar)
// add to a tessaly-cli batch. The same small frames are laid out once as one folder and once as
// a tree of folders; each run starts with no results present, and the median of the runs of
// each kind is printed with its difference from the one-folder run.
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

// Removes the results and sidecars of an earlier run, so every run saves every file.
void ClearResults(const fs::path& root) {
  std::vector<fs::path> old;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const auto ext = e.path().extension();
    if (ext == ".png" || ext == ".json") old.push_back(e.path());
  }
  for (const auto& p : old) fs::remove(p);
}

double RunCli(const fs::path& root, const std::string& options, int jobs) {
  ClearResults(root);
  const std::string command = std::string("'") + TESSALY_CLI_PATH + "' -q --no-overwrite --jobs " +
                              std::to_string(jobs) + " " + options + " '" + root.string() +
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
  const fs::path flat = root / "flat";
  const fs::path tree = root / "tree";
  fs::create_directories(flat);
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
    const auto bytes = EncodeBmp(framegen::ToBitmap(framegen::MakeFrame(recipe)));
    const std::string name = "frame" + std::to_string(10000 + i) + ".bmp";
    WriteFileReplacing(flat / name, bytes);
    const fs::path folder = tree / ("y" + std::to_string(1000 + i % folders));
    fs::create_directories(folder);
    WriteFileReplacing(folder / name, bytes);
  }

  std::vector<double> one, one_sidecar, walked;
  for (int r = 0; r < reps; ++r) {
    // Interleaved, so that a change in the machine's load touches every kind alike.
    one.push_back(RunCli(flat, "", jobs));
    walked.push_back(RunCli(tree, "--recursive", jobs));
    one_sidecar.push_back(RunCli(flat, "--sidecar", jobs));
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
