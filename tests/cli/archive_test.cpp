// tessaly-cli on archive-shaped inputs, end to end on generated frame trees: folder
// trees, name lists, repeated runs over one folder, quiet and verbose reports,
// questions on a terminal, pipes and over-long names, and batches stopped by signals.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "base/files.h"
#include "cli_folder_test.h"
#include "framegen/framegen.h"
#include "picture_files/png_io.h"
#include "support/bmp_writer.h"
#include "support/child_process.h"
#include "support/terminal.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A MET7 frame header naming the picture "<code> 05-12-99 12<minute>".
std::string Header(const std::string& code, int minute = 30) {
  const std::string mm = (minute < 10 ? "0" : "") + std::to_string(minute);
  return "MET7    C0299120512" + mm + code;
}
std::string TargetName(const std::string& code, int minute = 30) {
  const std::string mm = (minute < 10 ? "0" : "") + std::to_string(minute);
  return code + " 05-12-99 12" + mm + ".png";
}

std::vector<json> JsonLines(const std::string& out) {
  std::vector<json> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
    if (out[start] == '{') lines.push_back(json::parse(out.substr(start, end - start)));
  }
  return lines;
}

std::vector<std::string> Inputs(const std::vector<json>& lines) {
  std::vector<std::string> inputs;
  for (const json& j : lines) inputs.push_back(j["input"]);
  return inputs;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::vector<std::uint8_t> Bytes(const fs::path& file) {
  return ReadFileBytes(file);
}

// Changes the file's bytes and puts its last change back, as a failing disk or a sync tool may.
void ChangeKeepingTime(const fs::path& file,
                       const std::function<void(std::vector<std::uint8_t>&)>& change) {
  const auto time = fs::last_write_time(file);
  std::vector<std::uint8_t> bytes = Bytes(file);
  change(bytes);
  WriteFileReplacing(file, bytes);
  fs::last_write_time(file, time);
}

// A byte inside the first IDAT chunk's data flipped: only reading the file whole finds it.
void FlipImageByte(std::vector<std::uint8_t>& png) {
  const std::string idat = "IDAT";
  const auto at = std::search(png.begin(), png.end(), idat.begin(), idat.end());
  ASSERT_NE(at, png.end());
  *(at + 100) ^= 0xFF;
}

class ArchiveTest : public test::CliFolderTest {
 protected:
  ArchiveTest() : CliFolderTest("tessaly-archive-") {}

  // A generated frame under `name` (relative to the test folder); .png or .bmp by extension.
  void WriteFrame(const fs::path& name, const std::string& header, std::uint64_t seed = 1) {
    framegen::FrameRecipe recipe;
    recipe.header = header;
    recipe.noise = 4;
    recipe.seed = seed;
    SaveFrame(name, framegen::MakeFrame(recipe));
  }
};

TEST_F(ArchiveTest, ATreeIsWalkedFolderByFolderWithoutFollowingLinks) {
  WriteFrame("root/b.bmp", Header("BBBB"));
  WriteFrame("root/A.png", Header("AAAA"));
  WriteFrame("root/Sub2/c.bmp", Header("CCCC"));
  WriteFrame("root/sub1/d.bmp", Header("DDDD"));
  WriteFrame("root/sub1/deep/e.bmp", Header("EEEE"));
  fs::create_directory_symlink("../..", dir_ / "root/sub1/deep/loop");  // back to root
  fs::create_directory_symlink("sub1", dir_ / "root/alias");

  // Without --recursive a tree gives its top folder's pictures only.
  auto run = Cli({"--json", "--dry-run", "root"});
  EXPECT_EQ(Inputs(JsonLines(run.out)).size(), 2u);

  run = Cli({"--json", "--dry-run", "-r", "./root"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  // Each folder's pictures (BMP, then PNG), then its subfolders by name in any case;
  // paths are full and plain, with no "/./" from the way they were given.
  const std::vector<std::string> expected{"root/b.bmp", "root/A.png", "root/sub1/d.bmp",
                                          "root/sub1/deep/e.bmp", "root/Sub2/c.bmp"};
  std::vector<std::string> full;
  for (const auto& e : expected) full.push_back((dir_ / e).string());
  EXPECT_EQ(Inputs(JsonLines(run.out)), full);
  EXPECT_TRUE(Contains(run.err, "5 files seen: 5 would be saved, 0 unchanged, 0 skipped, 0 failed"))
      << run.err;

  run = Cli({"--recursive", "./root"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  // The report names each file below the folder as it was given.
  EXPECT_TRUE(Contains(run.out, "./root/sub1/deep/e.bmp -> " + TargetName("EEEE") + ": saved"))
      << run.out;
  EXPECT_FALSE(Contains(run.out, dir_.string()));
  EXPECT_TRUE(fs::exists(dir_ / "root/sub1/deep" / TargetName("EEEE")));
  EXPECT_TRUE(fs::exists(dir_ / "root/Sub2" / TargetName("CCCC")));
  EXPECT_TRUE(fs::exists(dir_ / "root" / TargetName("AAAA")));
  EXPECT_TRUE(Contains(run.out, "5 files seen: 5 saved"));
}

TEST_F(ArchiveTest, ASecondRunSkipsResultsAndOverwriteKeepsOriginals) {
  WriteFrame("a.bmp", Header("AAAA"));
  WriteFrame("b.bmp", Header("BBBB"), 2);
  // An original frame that already carries the name b.bmp's picture would get.
  WriteFrame(TargetName("BBBB"), Header("BBBB"), 3);
  const auto original = Bytes(dir_ / TargetName("BBBB"));

  auto run = Cli({"--overwrite", "."});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "./b.bmp -> " + TargetName("BBBB") + ": not saved")) << run.out;
  EXPECT_TRUE(Contains(run.out, "was not written by this tool and is kept")) << run.out;
  EXPECT_TRUE(Contains(run.out,
                       "3 files seen: 1 saved, 1 unchanged, 0 skipped, 0 failed, "
                       "1 original kept"))
      << run.out;
  EXPECT_EQ(Bytes(dir_ / TargetName("BBBB")), original);
  const auto first_result = Bytes(dir_ / TargetName("AAAA"));

  // Again over the same folder: the result is not taken as an input, and is replaced.
  run = Cli({"--json", "--overwrite", "."});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::map<std::string, json> by_name;
  for (const json& j : JsonLines(run.out)) {
    by_name[fs::path(j["input"].get<std::string>()).filename().string()] = j;
  }
  ASSERT_EQ(by_name.size(), 4u) << run.out;
  EXPECT_EQ(by_name[TargetName("AAAA")]["skipped"], "already a result");
  EXPECT_EQ(by_name["a.bmp"]["saved"], true);
  EXPECT_EQ(by_name["b.bmp"]["saved"], false);
  EXPECT_EQ(by_name["b.bmp"]["kept_original"], true);
  EXPECT_TRUE(Contains(run.err, "1 already a result, 1 original kept")) << run.err;
  EXPECT_EQ(Bytes(dir_ / TargetName("BBBB")), original);
  EXPECT_EQ(Bytes(dir_ / TargetName("AAAA")).size(), first_result.size());

  // A result named on the command line, or any with --include-results, is read.
  run = Cli({"--json", "--dry-run", "--include-results", "."});
  EXPECT_EQ(JsonLines(run.out).size(), 4u);
  for (const json& j : JsonLines(run.out)) EXPECT_FALSE(j.contains("skipped")) << j;
  run = Cli({"--json", "--dry-run", TargetName("AAAA")});
  EXPECT_FALSE(JsonLines(run.out).at(0).contains("skipped"));

  // Only --overwrite-originals replaces the original.
  run = Cli({"--overwrite-originals", "b.bmp"});
  EXPECT_TRUE(Contains(run.out, ": saved")) << run.out;
  EXPECT_NE(Bytes(dir_ / TargetName("BBBB")), original);
}

// A result cut short or copied from another frame is no longer up to date: the rerun says why
// and remakes it under the usual consent. A flipped byte inside the image data passes the quick
// checks and is found by --verify; a change of --creation-time makes the result again too.
TEST_F(ArchiveTest, DamagedForeignAndOtherwiseMadeResultsAreMadeAgainAndSayWhy) {
  WriteFrame("a.bmp", Header("AAAA"));
  WriteFrame("b.bmp", Header("BBBB"), 2);
  ASSERT_EQ(Cli({"a.bmp", "b.bmp"}).exit_code, 0);
  const fs::path a = dir_ / TargetName("AAAA");
  const std::size_t whole = Bytes(a).size();
  ChangeKeepingTime(a, [](auto& png) { png.resize(png.size() / 2); });
  const std::string damaged = "a.bmp -> " + TargetName("AAAA") + ": ";
  auto run = Cli({"a.bmp", "b.bmp"});
  EXPECT_TRUE(Contains(run.out, damaged + "not saved, the file exists (its result is damaged)\n"))
      << run.out;
  EXPECT_TRUE(Contains(run.out, "1 skipped, 0 failed, 1 up to date")) << run.out;
  run = Cli({"--overwrite", "a.bmp"});
  EXPECT_TRUE(Contains(run.out, damaged + "saved (its result is damaged)\n")) << run.out;
  EXPECT_EQ(Bytes(a).size(), whole);

  fs::copy_file(dir_ / TargetName("BBBB"), a, fs::copy_options::overwrite_existing);
  run = Cli({"--json", "a.bmp"});
  EXPECT_EQ(JsonLines(run.out).at(0)["result_problem"], "its result belongs to another frame")
      << run.out;
  ASSERT_EQ(Cli({"--overwrite", "a.bmp"}).exit_code, 0);
  EXPECT_EQ(Bytes(a).size(), whole);

  ChangeKeepingTime(a, FlipImageByte);
  EXPECT_TRUE(Contains(Cli({"a.bmp"}).out, "1 up to date")) << "the quick checks pass it";
  run = Cli({"--verify", "a.bmp"});
  EXPECT_TRUE(Contains(run.out, damaged + "not saved, the file exists (its result is damaged)\n"))
      << run.out;

  run = Cli({"--creation-time", "a.bmp"});
  EXPECT_TRUE(Contains(run.out, "(its result was saved with another choice of --creation-time)"))
      << run.out;
}

TEST_F(ArchiveTest, QuietPrintsErrorsAndTheSummaryVerboseAddsHeaderAndLevels) {
  WriteFrame("a.bmp", Header("AAAA"));
  std::ofstream(dir_ / "bad.bmp") << "no picture";
  auto run = Cli({"-q", "--dry-run", "."});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "2 files seen: 1 would be saved, 0 unchanged, 0 skipped, 1 failed\n");
  EXPECT_TRUE(Contains(run.err, "bad.bmp")) << run.err;

  run = Cli({"--verbose", "--dry-run", "a.bmp"});
  EXPECT_TRUE(Contains(run.out, "a.bmp -> " + TargetName("AAAA") + ": would be saved (dry run)\n"))
      << run.out;
  EXPECT_TRUE(Contains(run.out, "header \"" + Header("AAAA") + "\"; black ")) << run.out;
  EXPECT_TRUE(Contains(run.out, "white ")) << run.out;
  EXPECT_TRUE(Contains(run.out, "; output 800 x 800")) << run.out;
}

TEST_F(ArchiveTest, ListsTakeNamesWithSpacesNewlinesAndLeadingDashes) {
  WriteFrame("with space.bmp", Header("SPCE"));
  WriteFrame("-dash.bmp", Header("DASH"));
  WriteFrame("new\nline.bmp", Header("NEWL"));
  std::ofstream(dir_ / "list.txt") << "with space.bmp\r\n\n-dash.bmp\n";

  auto run = Cli({"--json", "--dry-run", "--from-file", "list.txt"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(Inputs(JsonLines(run.out)),
            (std::vector<std::string>{(dir_ / "with space.bmp").string(),
                                      (dir_ / "-dash.bmp").string()}));

  constexpr char kList[] = "new\nline.bmp\0-dash.bmp\0with space.bmp";  // the last unended
  const std::string list(kList, sizeof kList - 1);
  run = Cli({"--json", "-0", "--from-file", "-", "--", "-dash.bmp"}, list);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const auto lines = JsonLines(run.out);
  ASSERT_EQ(lines.size(), 3u) << run.out;  // -dash.bmp, given twice, is taken once
  EXPECT_EQ(Inputs(lines)[0], (dir_ / "-dash.bmp").string());  // the command line comes first
  EXPECT_EQ(Inputs(lines)[1], (dir_ / "new\nline.bmp").string());
  EXPECT_EQ(lines[1]["proposed"], (dir_ / TargetName("NEWL")).string());
  EXPECT_TRUE(fs::exists(dir_ / TargetName("SPCE")));

  run = Cli({"--from-file", "missing.txt"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(Contains(run.err, "missing.txt")) << run.err;
}

TEST_F(ArchiveTest, TheQuestionNamesInputAndTargetAndTakesAnAnswerForAll) {
  for (const char* code : {"AAAA", "BBBB", "CCCC"}) {
    WriteFrame(std::string(code) + ".bmp", Header(code));
    std::ofstream(dir_ / TargetName(code)) << "old";
  }
  const std::vector<std::string> args{(dir_ / "AAAA.bmp").string(), (dir_ / "BBBB.bmp").string(),
                                      (dir_ / "CCCC.bmp").string()};
  const std::string prompt = "[y/N/all/none] ";
  ::setenv("TERM", "xterm", 1);
  auto run = test::RunOnTerminal(TESSALY_CLI_PATH, args, prompt, {"n", "all"});
  EXPECT_EQ(run.exit_code, 0) << run.out;
  EXPECT_TRUE(Contains(run.out, (dir_ / "BBBB.bmp").string() +
                                    ": Overwrite image file? The file \"" +
                                    (dir_ / TargetName("BBBB")).string() + "\" already exists."))
      << run.out;
  // Two questions: the third file takes the answer given for all.
  std::size_t asked = 0;
  for (std::size_t at = 0; (at = run.out.find(prompt, at)) != std::string::npos; ++at) ++asked;
  EXPECT_EQ(asked, 2u);
  EXPECT_EQ(fs::file_size(dir_ / TargetName("AAAA")), 3u);
  EXPECT_GT(fs::file_size(dir_ / TargetName("BBBB")), 3u);
  EXPECT_GT(fs::file_size(dir_ / TargetName("CCCC")), 3u);
  EXPECT_TRUE(Contains(run.out, "\033[K"));  // the progress line of a capable terminal

  ::setenv("TERM", "dumb", 1);
  run = test::RunOnTerminal(TESSALY_CLI_PATH, args, prompt, {"none"});
  ::unsetenv("TERM");
  EXPECT_FALSE(Contains(run.out, "\033")) << run.out;
  // The results the first run made are up to date: only the kept file is asked about again.
  EXPECT_TRUE(
      Contains(run.out, "3 files seen: 0 saved, 0 unchanged, 1 skipped, 0 failed, 2 up to date"))
      << run.out;
}

// A frame's sidecar, read back.
json Sidecar(const fs::path& picture) {
  std::ifstream in(fs::path(picture).replace_extension(".json"));
  return json::parse(in);
}

TEST_F(ArchiveTest, SidecarsHoldTheHeaderItsFieldsLevelsCutAndSizes) {
  framegen::FrameRecipe recipe;
  recipe.header = Header("D2AB");
  recipe.noise = 4;
  const framegen::Frame frame = framegen::MakeFrame(recipe);
  WriteFileReplacing(dir_ / "a.bmp", EncodeBmp(framegen::ToBitmap(frame)));
  WriteFrame("u.bmp", "nothing to read here at al");
  WriteFrame("adm.bmp", "MET7    ADMxxxxxxxxxxxxxx");
  WriteFrame("alt.bmp", "ABCDEFGHI99 DEC 05 12 XYZ");

  auto run = Cli({"--json", "--sidecar", "--dry-run", "."});
  EXPECT_FALSE(fs::exists(dir_ / "u.json"));  // nothing saved, no sidecar
  run = Cli({"--json", "--sidecar", "."});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::map<std::string, json> by_name;
  for (const json& j : JsonLines(run.out)) {
    by_name[fs::path(j["input"].get<std::string>()).filename().string()] = j;
  }

  const json a = Sidecar(dir_ / TargetName("D2AB"));
  EXPECT_EQ(a["source"], (dir_ / "a.bmp").string());
  EXPECT_EQ(a["header"], Header("D2AB"));
  EXPECT_EQ(a["parsed"], json::parse(R"({"satellite": "MET7", "kind": "C02", "code": "D2AB",
                                         "time": "1999-12-05T12:30Z"})"));
  EXPECT_EQ(a["named_from"], "header");
  EXPECT_EQ(a["reading"], "goes");
  const json& line = by_name["a.bmp"];
  EXPECT_EQ(line["named_from"], "header");
  EXPECT_EQ(a["levels"]["black"], line["black_level"]);
  EXPECT_EQ(a["levels"]["white"], line["white_level"]);
  EXPECT_EQ(a["levels"]["black_grey"], line["black_level"].get<int>() / 64);
  EXPECT_EQ(a["levels"]["white_grey"], line["white_level"].get<int>() / 64);
  // The cut is the generator's picture area, in working-picture coordinates.
  EXPECT_EQ(a["cut"], (json{{"x", frame.picture.x},
                            {"y", frame.picture.y},
                            {"width", frame.picture.width},
                            {"height", frame.picture.height}}));
  EXPECT_EQ(a["output"], (json{{"width", 800}, {"height", 800}}));
  EXPECT_EQ(a["tool"]["name"], "tessaly-cli");
  EXPECT_FALSE(a["tool"]["version"].get<std::string>().empty());
  EXPECT_EQ(a["made_with"], (json{{"source", "full"}}));
  // A result made from the other --source, as its sidecar records, is made again.
  json other = a;
  other["made_with"]["source"] = "data-lines";
  const std::string text = other.dump();
  const fs::path a_json = dir_ / fs::path(TargetName("D2AB")).replace_extension(".json");
  WriteFileReplacing(a_json,
                     std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  EXPECT_TRUE(
      Contains(Cli({"--sidecar", "a.bmp"}).out,
               "not saved, the file exists (its result was made with --source data-lines)"));

  const json u = Sidecar(dir_ / "u.png");
  EXPECT_TRUE(u["parsed"].is_null());
  EXPECT_EQ(u["named_from"], "input");
  EXPECT_EQ(by_name["u.bmp"]["named_from"], "input");
  EXPECT_EQ(Sidecar(dir_ / "ADMIN.png")["parsed"]["message"], "ADMIN");
  EXPECT_TRUE(Sidecar(dir_ / "ADMIN.png")["parsed"]["time"].is_null());
  const json alt = Sidecar(dir_ / "ABCDEFGHI99 DEC 05 12 XYZ.png");
  EXPECT_EQ(alt["named_from"], "alternative");
  EXPECT_EQ(alt["parsed"]["time"], "1999-12-05T12:00Z");
}

TEST_F(ArchiveTest, ASidecarReplacesOnlyTheToolsOwnAndItsFailureLeavesThePictureSaved) {
  WriteFrame("a.bmp", Header("AAAA"));
  WriteFrame("b.bmp", Header("BBBB"), 2);
  const fs::path user_json = dir_ / fs::path(TargetName("BBBB")).replace_extension(".json");
  const std::string users = "{\"my\": \"notes\"}\n";
  WriteFileReplacing(user_json,
                     std::span(reinterpret_cast<const std::uint8_t*>(users.data()), users.size()));
  auto run = Cli({"--sidecar", "."});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "./b.bmp -> " + TargetName("BBBB") +
                                    ": saved; sidecar not "
                                    "written"))
      << run.out;
  EXPECT_TRUE(Contains(run.out,
                       "2 saved, 0 unchanged, 0 skipped, 0 failed, 1 sidecar not "
                       "written"))
      << run.out;
  EXPECT_EQ(Bytes(user_json), std::vector<std::uint8_t>(users.begin(), users.end()));
  // The tool's own sidecar is replaced with its picture; the user's file still is not, unless
  // originals may be replaced.
  const fs::path own_json = dir_ / fs::path(TargetName("AAAA")).replace_extension(".json");
  ASSERT_TRUE(fs::exists(own_json));
  run = Cli({"--sidecar", "--overwrite", "a.bmp", "b.bmp"});
  EXPECT_TRUE(Contains(run.out, "a.bmp -> " + TargetName("AAAA") + ": saved\n")) << run.out;
  EXPECT_TRUE(Contains(run.out,
                       "2 saved, 0 unchanged, 0 skipped, 0 failed, 1 sidecar not "
                       "written"))
      << run.out;
  EXPECT_EQ(Bytes(user_json), std::vector<std::uint8_t>(users.begin(), users.end()));
  run = Cli({"--sidecar", "--overwrite-originals", "b.bmp"});
  EXPECT_EQ(Sidecar(user_json)["tool"]["name"], "tessaly-cli");

  // A sidecar that cannot be written (a folder stands in its way, to be replaced as any
  // original) fails the run, but its picture stands saved.
  fs::remove(dir_ / TargetName("AAAA"));
  fs::remove(own_json);
  fs::create_directory(own_json);
  run = Cli({"--json", "--sidecar", "--overwrite-originals", "a.bmp"});
  EXPECT_EQ(run.exit_code, 1) << run.err;
  EXPECT_TRUE(fs::is_regular_file(dir_ / TargetName("AAAA")));
  const json line = JsonLines(run.out).at(0);
  EXPECT_EQ(line["saved"], true);
  EXPECT_TRUE(Contains(line["sidecar_error"].get<std::string>(), own_json.filename().string()))
      << line;
  EXPECT_TRUE(Contains(run.err, "1 saved, 0 unchanged, 0 skipped, 1 failed")) << run.err;
  // A rerun gives the up-to-date picture its missing sidecar, and only that; the next says
  // nothing of it.
  fs::remove(own_json);
  run = Cli({"--sidecar", "a.bmp"});
  EXPECT_TRUE(Contains(
      run.out, "a.bmp -> " + TargetName("AAAA") + ": up to date; its missing sidecar written\n"))
      << run.out;
  EXPECT_TRUE(Contains(run.out, "1 up to date, 1 missing sidecar written")) << run.out;
  EXPECT_EQ(Sidecar(own_json)["tool"]["name"], "tessaly-cli");
  run = Cli({"--sidecar", "a.bmp"});
  EXPECT_FALSE(Contains(run.out, "a.bmp")) << run.out;
}

TEST_F(ArchiveTest, AnUnreadHeaderIsReportedCountedApartAndLeftWithSkipUnread) {
  WriteFrame("a.bmp", Header("AAAA"));
  WriteFrame("u.bmp", "nothing to read here at al");
  auto run = Cli({"--skip-unread", "."});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(Contains(run.out,
                       "./u.bmp: header read, but its date and time \"read here \" are not digits, "
                       "not saved (--skip-unread)"))
      << run.out;
  EXPECT_FALSE(fs::exists(dir_ / "u.png"));
  EXPECT_TRUE(Contains(run.out,
                       "2 files seen: 1 saved, 0 unchanged, 0 skipped, 0 failed, "
                       "1 header gave no name"))
      << run.out;
  run = Cli({"u.bmp"});
  EXPECT_TRUE(Contains(
      run.out,
      "u.bmp: header read, but its date and time \"read here \" are not digits, saved as u.png"))
      << run.out;
  EXPECT_TRUE(Contains(run.out,
                       "1 file seen: 1 saved, 0 unchanged, 0 skipped, 0 failed, "
                       "1 header gave no name"))
      << run.out;
  EXPECT_TRUE(fs::exists(dir_ / "u.png"));
}

// A reading too weak to trust names nothing unless accepted, a sure one that gives no name says
// why, and --strict turns either into status 1; the sidecar and the catalogue keep the doubt.
TEST_F(ArchiveTest, DoubtfulAndNamelessHeadersAreReportedCountedAndFailStrictRuns) {
  SaveFrame("d.bmp", framegen::MakeFrame(framegen::DoubtfulFrameRecipe()));
  WriteFrame("date.bmp", "MET7    C0299023012300000");
  auto run = Cli({"--strict", "--sidecar", "--catalog", "cat.db", "."});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(Contains(run.out,
                       "./d.bmp: header doubtful (\"GOES-I  FD 0101311445\"), saved as "
                       "d.png\n    the doubtful header would name it GOES-I 31-01-01 "
                       "1445 G8FD.png (--accept-doubtful)\n"))
      << run.out;
  EXPECT_TRUE(Contains(run.out,
                       "./date.bmp: header read, but 30-02-99 is not a date, saved as "
                       "date.png"))
      << run.out;
  EXPECT_TRUE(Contains(run.out, "0 failed, 1 header gave no name, 1 header doubtful\n")) << run.out;
  EXPECT_TRUE(Contains(run.err,
                       "--strict: 2 files' headers were not read, doubtful or gave no "
                       "name"))
      << run.err;
  const json sidecar = Sidecar(dir_ / "d.png");
  EXPECT_EQ(sidecar["named_from"], "input");
  EXPECT_EQ(sidecar["header_doubtful"], true);
  EXPECT_LT(sidecar["header_confidence"].get<double>(), 4.0);
  EXPECT_FALSE(Sidecar(dir_ / "date.png").contains("header_doubtful"));
  run = Cli({"--catalog", "cat.db", "--report", "doubtful"});
  EXPECT_TRUE(Contains(run.out, "d.bmp: header doubtful (confidence ")) << run.out;

  run = Cli({"--json", "--dry-run", "--accept-doubtful", "d.bmp", "date.bmp"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  const std::vector<json> lines = JsonLines(run.out);
  ASSERT_EQ(lines.size(), 2u) << run.out;
  EXPECT_EQ(lines[0]["named_from"], "header");
  EXPECT_EQ(fs::path(lines[0]["proposed"]).filename(), "GOES-I 31-01-01 1445 G8FD.png");
  EXPECT_EQ(lines[0]["header_doubtful"], true);
  EXPECT_EQ(lines[1]["header_problem"], "30-02-99 is not a date");
}

TEST_F(ArchiveTest, TemplatesNameFromFieldsAndFallBackToTheStandardName) {
  WriteFrame("a.bmp", Header("D2AB"));
  WriteFrame("u.bmp", "nothing to read here at al");
  // A satellite field that would lead out of the folder through the template.
  WriteFrame("x.bmp", "../x    C029912051231ESCP");
  const std::string tmpl = "{yyyy}-{mm}-{dd}_{HH}{MM}_{code}";
  auto run = Cli({"--json", "--name-template", tmpl, "."});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(fs::exists(dir_ / "1999-12-05_1230_D2AB.png"));
  EXPECT_TRUE(fs::exists(dir_ / "u.png"));  // no fields: the standard rules
  EXPECT_TRUE(fs::exists(dir_ / "1999-12-05_1231_ESCP.png"));

  run = Cli({"--name-template", "{satellite}_{code}", "x.bmp"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(fs::exists(dir_ / "ESCP 05-12-99 1231 C02.png")) << run.out;  // standard name
  EXPECT_FALSE(fs::exists(dir_.parent_path() / "x_ESCP.png"));

  run = Cli({"--name-template", "../{code}", "a.bmp"});
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_TRUE(Contains(run.err, "\"/\"")) << run.err;
}

// Pipes never stall a batch: one among a folder's pictures is skipped, one under a target is
// not the tool's result and is kept, and a list that is a pipe no program writes to ends on
// SIGTERM.
TEST_F(ArchiveTest, PipesAreSkippedOrKeptAndNeverWaitedFor) {
  WriteFrame("d/a.bmp", Header("AAAA"));
  WriteFrame("d/b.bmp", Header("BBBB"));
  for (const fs::path& pipe : {dir_ / "d/x.png", dir_ / "d" / TargetName("BBBB"), dir_ / "list"}) {
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0666), 0) << pipe;
  }
  test::ChildOptions options;
  options.working_dir = dir_.string();
  options.time_limit = std::chrono::seconds(30);
  const test::ChildResult run =
      test::RunChild(TESSALY_CLI_PATH, {"--overwrite", "-r", "d"}, options);
  ASSERT_FALSE(run.timed_out) << "tessaly-cli waited for a pipe";
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "Skipped \"d/x.png\": it is not a regular file\n")) << run.out;
  EXPECT_TRUE(Contains(run.out, TargetName("BBBB") + "\" was not written by this tool")) << run.out;
  EXPECT_TRUE(fs::is_regular_file(dir_ / "d" / TargetName("AAAA")));
  EXPECT_TRUE(fs::is_fifo(dir_ / "d" / TargetName("BBBB")));

  test::RunningChild waiting(TESSALY_CLI_PATH, {"--from-file", (dir_ / "list").string()});
  ASSERT_TRUE(waiting.WaitUntilCatching(SIGTERM, std::chrono::seconds(30)));
  const auto sent = std::chrono::steady_clock::now();
  EXPECT_EQ(waiting.SignalAndWait(SIGTERM, std::chrono::seconds(30)), 128 + SIGTERM);
  // A tenth of a second on a quiet machine: the list is polled in such steps.
  EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(5));
}

// A template's name beyond 255 bytes gives way to the standard name and says why; a picture
// whose sidecar's name would pass 255 bytes is not saved without its sidecar.
TEST_F(ArchiveTest, NamesTooLongForAFileSystemAreRefusedWhenMade) {
  WriteFrame("a.bmp", Header("AAAA"));
  const std::string part(248, 'x');  // with the code and ".png", 256 bytes
  auto run = Cli({"--name-template", part + "{code}", "a.bmp"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "a.bmp -> " + TargetName("AAAA") + ": saved")) << run.out;
  EXPECT_TRUE(Contains(run.err, "gives a name of 256 bytes, longer than the 255")) << run.err;

  fs::remove(dir_ / TargetName("AAAA"));
  run = Cli({"--sidecar", "--name-template", part.substr(1) + "{code}", "a.bmp"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(Contains(run.err, "the sidecar's name would be 256 bytes")) << run.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

// A 50-file batch stopped by a signal sent once the report has reached a given line.
class InterruptTest : public ArchiveTest {
 protected:
  static constexpr int kFiles = 50;

  // The batch's frames, made once and copied for each run.
  static const fs::path& Frames() {
    static const fs::path frames = [] {
      const fs::path dir = fs::temp_directory_path() /
                           ("tessaly-archive-interrupt-frames-" + std::to_string(::getpid()));
      fs::remove_all(dir);
      fs::create_directories(dir);
      for (int i = 0; i < kFiles; ++i) {
        framegen::FrameRecipe recipe;
        recipe.header = Header("F" + std::to_string(100 + i), i);
        recipe.seed = static_cast<std::uint64_t>(i) + 1;
        recipe.noise = 4;
        WriteFileReplacing(dir / ("f" + std::to_string(100 + i) + ".bmp"),
                           EncodeBmp(framegen::ToBitmap(framegen::MakeFrame(recipe))));
      }
      return dir;
    }();
    return frames;
  }

  struct Stopped {
    int exit_code = -1;
    int lines = 0;  // per-file lines printed
    std::string out, err;
  };

  // Runs the batch over a fresh copy, sending `signal` after `after_lines` lines of report.
  Stopped RunAndSignal(int signal, int after_lines) {
    fs::remove_all(dir_ / "batch");
    fs::copy(Frames(), dir_ / "batch");
    int out_pipe[2], err_pipe[2];
    EXPECT_EQ(::pipe(out_pipe), 0);
    EXPECT_EQ(::pipe(err_pipe), 0);
    std::vector<std::string> storage;
    std::vector<char*> argv =
        test::Argv(TESSALY_CLI_PATH, {"--jobs", "2", (dir_ / "batch").string()}, storage);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(out_pipe[1], 1);
      ::dup2(err_pipe[1], 2);
      ::close(out_pipe[0]);
      ::close(err_pipe[0]);
      ::execv(TESSALY_CLI_PATH, argv.data());
      ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    Stopped s;
    bool sent = false;
    char buffer[4096];
    for (ssize_t n; (n = ::read(out_pipe[0], buffer, sizeof buffer)) > 0;) {
      s.out.append(buffer, static_cast<std::size_t>(n));
      if (!sent && std::count(s.out.begin(), s.out.end(), '\n') >= after_lines) {
        ::kill(pid, signal);
        sent = true;
      }
    }
    for (ssize_t n; (n = ::read(err_pipe[0], buffer, sizeof buffer)) > 0;) {
      s.err.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    s.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    s.lines = static_cast<int>(std::count(s.out.begin(), s.out.end(), '\n')) - 1;  // less summary
    return s;
  }

  // Every saved line's target is a complete picture; nothing else was added.
  void CheckFolder(const Stopped& s) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_ / "batch")) {
      names.insert(e.path().filename().string());
    }
    int results = 0;
    for (const std::string& name : names) {
      if (name.size() == 8 && name[0] == 'f' && name.ends_with(".bmp")) continue;  // an input
      Bitmap saved;
      EXPECT_TRUE(name.ends_with(".png") && LoadPNGIntoBitmap(saved, dir_ / "batch" / name, false))
          << name << " is no complete result";
      EXPECT_TRUE(Contains(s.out, "-> " + name + ": saved")) << name << " was not reported";
      ++results;
    }
    EXPECT_EQ(results, s.lines);
    EXPECT_TRUE(Contains(s.out, std::to_string(s.lines) + (s.lines == 1 ? " file" : " files") +
                                    " seen: " + std::to_string(s.lines) + " saved"))
        << s.out;
  }
};

TEST_F(InterruptTest, SignalsStopTakingFilesAndLeaveOnlyCompleteResults) {
  int interrupted = 0;
  // SIGHUP: a closed terminal or a dropped connection; SIGQUIT: the quit key.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    for (const int after : {1, 12, 33}) {
      SCOPED_TRACE(std::to_string(signal) + " after line " + std::to_string(after));
      const Stopped s = RunAndSignal(signal, after);
      if (s.exit_code == 0) {
        // The batch finished before the signal came: that too leaves a whole folder.
        EXPECT_EQ(s.lines, kFiles);
      } else {
        ++interrupted;
        EXPECT_EQ(s.exit_code, 128 + signal) << s.err;
        EXPECT_GE(s.lines, after);
        EXPECT_LT(s.lines, kFiles);
        EXPECT_TRUE(
            Contains(s.err, "interrupted by SIG" + std::string(sigabbrev_np(signal)) + "; "))
            << s.err;
        EXPECT_TRUE(Contains(s.err, std::to_string(kFiles - s.lines) + " files not taken"))
            << s.err;
      }
      CheckFolder(s);
    }
  }
  // A batch of 50 files lasts long enough that most signals find it running.
  EXPECT_GE(interrupted, 6);
}

}  // namespace
}  // namespace tessaly
