// tessaly-cli filing an archive elsewhere, end to end: a read-only tree mirrored under
// --output-dir, templates with folders that cannot leave it, folders swapped for links while a
// run saves, quiet reruns on a terminal, and names taken twice in one run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <string>
#include <vector>

#include "cli_folder_test.h"
#include "support/terminal.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

const std::string kDay5 = "1999/12/05/D2AB 05-12-99 1230.png";
const std::string kDay6 = "1999/12/06/D2AB 06-12-99 1230.png";

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::set<std::string> Tree(const fs::path& root) {
  std::set<std::string> entries;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    entries.insert(e.path().lexically_relative(root).string());
  }
  return entries;
}

int Pictures(const fs::path& folder) {
  std::error_code ec;
  return static_cast<int>(std::distance(fs::directory_iterator(folder, ec), {}));
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class OutputDirTest : public test::CliFolderTest {
 protected:
  OutputDirTest() : CliFolderTest("tessaly-output-dir-") {}

  // A dated tree of two frames and one whose header reads in no form.
  void WriteArchive() {
    for (const auto& [name, header] :
         {std::pair{"arch/1999/12/05/rx000.bmp", "MET7    C029912051230D2AB"},
          std::pair{"arch/1999/12/06/rx000.bmp", "MET7    C029912061230D2AB"},
          std::pair{"arch/bad/rx000.bmp", "nothing here to read at al"}}) {
      framegen::FrameRecipe recipe;
      recipe.header = header;
      recipe.noise = 4;
      SaveFrame(name, framegen::MakeFrame(recipe));
    }
  }

  // `count` small pictures without a header, quick to decode.
  void WriteSmallFrames(const std::string& folder, int count) {
    Bitmap bitmap;
    bitmap.SetFormat(PixelFormat::k8Bit);
    bitmap.SetPalette(GreyRamp());
    bitmap.SetSize(300, 40);
    const std::vector<std::uint8_t> bmp = EncodeBmp(bitmap);
    fs::create_directories(dir_ / folder);
    for (int i = 0; i < count; ++i) {
      std::ofstream(dir_ / folder / ("f" + std::to_string(1000 + i) + ".bmp"), std::ios::binary)
          .write(reinterpret_cast<const char*>(bmp.data()),
                 static_cast<std::streamsize>(bmp.size()));
    }
  }
};

TEST_F(OutputDirTest, AReadOnlyArchiveIsMirroredAndRerunsAskOnlyAboutWhatChanged) {
  if (test::RunningAsRoot() && !test::UnprivilegedUserExists()) {
    GTEST_SKIP() << "running as root without a user \"nobody\": the archive cannot be read-only";
  }
  WriteArchive();
  const std::vector<std::string> folders{
      "arch", "arch/1999", "arch/1999/12", "arch/1999/12/05", "arch/1999/12/06", "arch/bad"};
  for (const auto& f : folders) ::chmod((dir_ / f).c_str(), 0555);
  fs::create_directory(dir_ / "pub");
  ::chmod((dir_ / "pub").c_str(), 0777);
  const std::set<std::string> archive = Tree(dir_ / "arch");

  test::ChildOptions as_user;
  as_user.as_nobody = test::RunningAsRoot();  // permission bits bind root only through nobody
  as_user.working_dir = dir_.string();
  auto run = test::RunChild(TESSALY_CLI_PATH, {"-r", "--output-dir", "pub/out", "arch/"}, as_user);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(Has(run.out, "arch/1999/12/05/rx000.bmp -> pub/out/" + kDay5 + ": saved")) << run.out;
  EXPECT_EQ(Tree(dir_ / "pub/out"),
            (std::set<std::string>{"1999", "1999/12", "1999/12/05", "1999/12/06", kDay5, kDay6,
                                   "bad", "bad/rx000.png"}));
  EXPECT_EQ(Tree(dir_ / "arch"), archive);

  // Again on a terminal: everything is up to date, silently, and nothing is asked.
  const std::vector<std::string> args{"-r", "-o", (dir_ / "pub/out").string(),
                                      (dir_ / "arch").string()};
  const std::string prompt = "[y/N/all/none] ";
  run = test::RunOnTerminal(TESSALY_CLI_PATH, args, prompt, {});
  EXPECT_FALSE(Has(run.out, prompt)) << run.out;
  EXPECT_FALSE(Has(run.out, "-> ")) << run.out;
  EXPECT_TRUE(Has(run.out,
                  "3 files seen: 0 saved, 0 unchanged, 0 skipped, 0 failed, 3 up to "
                  "date"))
      << run.out;
  // An input changed since its result was made: it alone is asked about, and redone.
  const fs::path changed = dir_ / "arch/1999/12/06/rx000.bmp";
  const fs::path result = dir_ / "pub/out" / kDay6;
  fs::last_write_time(result, fs::last_write_time(changed) - std::chrono::hours(1));
  run = test::RunOnTerminal(TESSALY_CLI_PATH, args, prompt, {"y"});
  EXPECT_EQ(run.exit_code, 0) << run.out;
  EXPECT_TRUE(Has(run.out, changed.string() + ": Overwrite image file?")) << run.out;
  EXPECT_TRUE(Has(run.out,
                  "3 files seen: 1 saved, 0 unchanged, 0 skipped, 0 failed, 2 up to "
                  "date"))
      << run.out;
  EXPECT_GE(fs::last_write_time(result), fs::last_write_time(changed));
  for (const auto& f : folders) ::chmod((dir_ / f).c_str(), 0755);
}

TEST_F(OutputDirTest, TemplatesLayOutFoldersButNeverLeaveTheOutputFolder) {
  WriteArchive();
  auto run = Cli({"-r", "-o", "out", "--name-template", "{yyyy}/{mm}/{dd}/{name}", "arch"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  // The header that did not read keeps the standard rules in the mirrored folder.
  for (const auto& file : {kDay5, kDay6, std::string("bad/rx000.png")}) {
    EXPECT_TRUE(fs::is_regular_file(dir_ / "out" / file)) << file;
  }
  fs::create_directories(dir_ / "elsewhere");
  fs::create_directories(dir_ / "out2");
  fs::create_directory_symlink("../elsewhere", dir_ / "out2/1999");
  const std::set<std::string> before = Tree(dir_);
  struct Row {
    std::string name_template;
    int status;
    std::string said;
  };
  for (const Row& row : std::vector<Row>{
           {"../{name}", 2, "\"..\""},
           {"/{yyyy}/{name}", 2, "empty folder name"},
           {"{yyyy}/../../{name}", 2, "\"..\""},
           {"{yyyy}/{name}", 1, "\"out2/1999\" is a link that leads out of the output folder"},
       }) {
    run = Cli({"-r", "-o", "out2", "--name-template", row.name_template, "arch/1999"});
    EXPECT_EQ(run.exit_code, row.status) << row.name_template;
    EXPECT_TRUE(Has(run.err, row.said)) << run.err;
  }
  EXPECT_EQ(Tree(dir_), before);  // nothing landed beside out2, nor through its link
  EXPECT_FALSE(fs::exists("/1999"));
}

// Links swapped in while a run saves 300 frames into out/a: out/a and a link to a folder outside
// trade names back and forth (in one step, so one of them always stands there), and then the
// output folder itself is replaced by such a link after its first result. No file reaches the
// link's target: every file saved is in the tree that was opened, the others failed for the link.
TEST_F(OutputDirTest, LinksSwappedInDuringARunLetNoFileOut) {
  constexpr int kFrames = 300;
  WriteSmallFrames("arch/a", kFrames);
  fs::create_directories(dir_ / "out/a");
  fs::create_directories(dir_ / "elsewhere");
  fs::create_directory_symlink(dir_ / "elsewhere", dir_ / "out/link");
  const fs::path a = dir_ / "out/a", link = dir_ / "out/link";
  const auto exchange = [&] {
    return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE) == 0;
  };
  std::atomic<bool> done{false};
  auto swaps = std::async(std::launch::async, [&] {
    int n = 0;
    while (!done) n += exchange();
    return n;
  });
  auto run = Cli({"-r", "-o", "out", "arch"});
  done = true;
  if (swaps.get() % 2 != 0) {
    ASSERT_TRUE(exchange());
  }
  EXPECT_TRUE(fs::is_empty(dir_ / "elsewhere")) << Pictures(dir_ / "elsewhere") << " got out";
  EXPECT_EQ(Count(run.out, "saved as"), Pictures(a)) << run.out;
  EXPECT_EQ(Count(run.err, "\n"), Count(run.err, "is a link that leads out of the output folder"));

  fs::remove_all(dir_ / "out");
  auto later = std::async(std::launch::async, [&] {
    return Cli({"-r", "--jobs", "1", "-o", "out", "arch"});
  });
  while (Pictures(dir_ / "out/a") == 0 &&
         later.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
  }
  fs::rename(dir_ / "out", dir_ / "held");
  fs::create_directory_symlink(dir_ / "elsewhere", dir_ / "out");
  const int before = Pictures(dir_ / "held/a");
  run = later.get();
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(fs::is_empty(dir_ / "elsewhere")) << Pictures(dir_ / "elsewhere") << " got out";
  EXPECT_EQ(Pictures(dir_ / "held/a"), kFrames);
  EXPECT_LT(before, kFrames) << "the run ended before the folder was replaced";
}

TEST_F(OutputDirTest, DryRunsForeseeCollisionsAndAFileGivenTwiceIsTakenOnce) {
  WriteArchive();
  fs::copy_file(dir_ / "arch/1999/12/06/rx000.bmp", dir_ / "arch/1999/12/05/rx001.bmp");
  const std::vector<std::string> month{"-o", "out", "--name-template", "{yyyy}-{mm}",
                                       "arch//1999/12/05/"};
  std::vector<std::string> dry{"--dry-run"};
  dry.insert(dry.end(), month.begin(), month.end());
  auto run = Cli(dry);
  EXPECT_TRUE(Has(run.out,
                  "arch/1999/12/05/rx001.bmp -> out/1999-12.png: would collide with "
                  "arch/1999/12/05/rx000.bmp (dry run)"))
      << run.out;
  EXPECT_TRUE(Has(run.out, "1 would be saved, 0 unchanged, 0 skipped, 0 failed, 1 would collide"))
      << run.out;
  run = Cli(month);
  EXPECT_TRUE(Has(run.out,
                  "rx001.bmp -> out/1999-12.png: not saved, arch/1999/12/05/rx000.bmp "
                  "took that name in this run"))
      << run.out;
  EXPECT_TRUE(Has(run.out, "1 saved, 0 unchanged, 0 skipped, 0 failed, 1 collided")) << run.out;

  // One file under three spellings, and a folder of folders named without -r.
  run = Cli(
      {"--json", "--dry-run", "arch/bad/rx000.bmp", "./arch/bad//rx000.bmp", "arch/bad", "arch"});
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
  EXPECT_TRUE(Has(run.err, "1 file seen: 1 would be saved")) << run.err;
  EXPECT_TRUE(Has(run.err, "\"arch\" holds no pictures, only folders; -r (--recursive)"))
      << run.err;
}

}  // namespace
}  // namespace tessaly
