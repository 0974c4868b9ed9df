// tessaly-cli end to end on generated frames: names, saved pictures and texts,
// JSON, source choices, the overwrite question, and batches with bad files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/files.h"
#include "cli_folder_test.h"
#include "framegen/framegen.h"
#include "picture_files/png_image.h"
#include "picture_files/png_io.h"
#include "support/bmp_writer.h"
#include "support/child_process.h"
#include "support/terminal.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using framegen::Frame;
using framegen::FrameRecipe;
using framegen::Layout;

// The worked example: satellite MET7, kind C02, 5 Dec 1999 12:30, picture code D2AB.
constexpr const char* kMet7Header = "MET7    C029912051230D2AB";
constexpr const char* kMet7Name = "D2AB 05-12-99 1230.png";

// One flat JSON object as the CLI prints it, each value as text ("true", "800", ...).
std::map<std::string, std::string> ParseJsonLine(const std::string& line) {
  std::map<std::string, std::string> fields;
  const nlohmann::json object = nlohmann::json::parse(line);
  for (auto it = object.begin(); it != object.end(); ++it) {
    fields[it.key()] = it->is_string() ? it->get<std::string>() : it->dump();
  }
  return fields;
}

std::vector<std::map<std::string, std::string>> JsonLines(const std::string& out) {
  std::vector<std::map<std::string, std::string>> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
    if (out[start] == '{') lines.push_back(ParseJsonLine(out.substr(start, end - start)));
  }
  return lines;
}

// The tEXt and uncompressed iTXt keywords and values of a PNG file, and the order of all its
// chunks.
struct PngChunks {
  std::vector<std::string> order;
  std::map<std::string, std::string> texts;
  std::map<std::string, std::string> international_texts;
};

PngChunks ReadChunks(const fs::path& file) {
  const std::vector<std::uint8_t> b = ReadFileBytes(file);
  PngChunks chunks;
  for (std::size_t at = 8; at + 8 <= b.size();) {
    const std::size_t length =
        (std::size_t{b[at]} << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
    const std::string type(b.begin() + at + 4, b.begin() + at + 8);
    if (chunks.order.empty() || chunks.order.back() != type) chunks.order.push_back(type);
    if (type == "tEXt") {
      const std::string data(b.begin() + at + 8, b.begin() + at + 8 + length);
      const std::size_t zero = data.find('\0');
      chunks.texts[data.substr(0, zero)] = data.substr(zero + 1);
    }
    if (type == "iTXt") {
      // keyword, 0, compression flag and method, language, 0, translated keyword, 0, text
      const std::string data(b.begin() + at + 8, b.begin() + at + 8 + length);
      const std::size_t zero = data.find('\0');
      const std::size_t text_at = data.find('\0', data.find('\0', zero + 3) + 1) + 1;
      chunks.international_texts[data.substr(0, zero)] = data.substr(text_at);
    }
    at += 12 + length;
  }
  return chunks;
}

class CliTest : public test::CliFolderTest {
 protected:
  CliTest() : CliFolderTest("tessaly-cli-") {}

  // Writes a generated frame; the extension chooses BMP or PNG.
  // Frames of 750 rows or more: the decoder's bottom scan finds their stop tone.
  Frame WriteFrame(const std::string& name, const std::string& header, int width = 840,
                   int picture_height = 800, Layout layout = Layout::GOES) {
    FrameRecipe recipe;
    recipe.layout = layout;
    recipe.header = header;
    recipe.width = width;
    recipe.picture_height = picture_height;
    recipe.noise = 4;
    Frame frame = framegen::MakeFrame(recipe);
    SaveFrame(name, frame);
    return frame;
  }
};

TEST_F(CliTest, AFullFrameIsRenamedCutAndStretchedWithItsTexts) {
  const Frame frame = WriteFrame("in.bmp", kMet7Header);
  const auto run = Cli({"--json", "in.bmp"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const auto lines = JsonLines(run.out);
  ASSERT_EQ(lines.size(), 1u) << run.out;
  auto j = lines[0];
  EXPECT_EQ(j["input"], (dir_ / "in.bmp").string());
  EXPECT_EQ(j["header"], kMet7Header);
  EXPECT_EQ(j["proposed"], (dir_ / kMet7Name).string());
  EXPECT_EQ(j["changed"], "true");
  EXPECT_EQ(j["saved"], "true");
  EXPECT_EQ(j.count("error"), 0u);

  // The saved picture is the generator's picture area, stretched between the
  // reported levels: ((g * 64 - black) * 255) div (white - black), clamped.
  const int black = std::stoi(j["black_level"]);
  const int white = std::stoi(j["white_level"]);
  ASSERT_LT(black, white);
  Bitmap saved;
  LoadPNGIntoBitmap(saved, dir_ / kMet7Name, false);
  ASSERT_EQ(saved.Width(), frame.picture.width);
  ASSERT_EQ(saved.Height(), frame.picture.height);
  EXPECT_EQ(std::stoi(j["width"]), saved.Width());
  EXPECT_EQ(std::stoi(j["height"]), saved.Height());
  int mismatches = 0;
  for (int y = 0; y < saved.Height(); ++y) {
    for (int x = 0; x < saved.Width(); ++x) {
      const int g = frame.At(frame.picture.x + x, frame.picture.y + y);
      const int expected = std::clamp((g * 64 - black) * 255 / (white - black), 0, 255);
      mismatches += saved.Row(y)[x] != expected;
    }
  }
  EXPECT_EQ(mismatches, 0);

  const PngChunks chunks = ReadChunks(dir_ / kMet7Name);
  EXPECT_EQ(chunks.order, (std::vector<std::string>{"IHDR", "tEXt", "IDAT", "tIME", "IEND"}));
  EXPECT_EQ(chunks.texts, (std::map<std::string, std::string>{{"Author", "Kestrelwood"},
                                                              {"Description", "GOES image"},
                                                              {"Software", "Tessaly"},
                                                              {"Title", kMet7Name}}));
  TPngImage png;
  png.LoadFromFile(dir_ / kMet7Name);
  EXPECT_EQ(png.ColorType, 0);  // 8-bit greyscale
  EXPECT_EQ(png.BitDepth, 8);
}

TEST_F(CliTest, WideFramesAreShrunkTo800AndGmsHeadersAreRead) {
  WriteFrame("wide.png", "GMSN    IR 0003151200IR1A", 1040, 780, Layout::GMS);
  const auto run = Cli({"--json", "wide.png"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  auto j = JsonLines(run.out).at(0);
  EXPECT_EQ(j["proposed"], (dir_ / "IR1A 15-03-00 1200.png").string());
  EXPECT_EQ(j["width"], "800");
  EXPECT_EQ(j["height"], "780");
}

TEST_F(CliTest, TheDataLinesChoiceReadsAPictureOfDataLinesOnly) {
  FrameRecipe recipe;
  recipe.header = "GOES-K  NH 0207040600    ";
  recipe.start_column = 27;
  recipe.picture_height = 300;
  SaveFrame("lines.bmp", framegen::DataLinesSource(framegen::MakeFrame(recipe), recipe));

  auto run = Cli({"--json", "--dry-run", "lines.bmp"});
  EXPECT_EQ(JsonLines(run.out).at(0)["proposed"], (dir_ / "lines.png").string());
  run = Cli({"--json", "--source", "data-lines", "lines.bmp"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  auto j = JsonLines(run.out).at(0);
  EXPECT_EQ(j["header"], recipe.header);
  EXPECT_EQ(j["proposed"], (dir_ / "GOES-K 04-07-02 0600 G10NH.png").string());
  EXPECT_TRUE(fs::exists(dir_ / "GOES-K 04-07-02 0600 G10NH.png"));
}

TEST_F(CliTest, AnExistingTargetIsReplacedOnlyWhenTheAnswerIsYes) {
  WriteFrame("in.bmp", kMet7Header);
  std::ofstream(dir_ / kMet7Name) << "old";
  auto unchanged = [&] { return fs::file_size(dir_ / kMet7Name) == 3; };

  auto run = Cli({"in.bmp"}, "y\n");  // not a terminal: answered No whatever comes in
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.out.find("not saved"), std::string::npos) << run.out;
  EXPECT_TRUE(unchanged());
  EXPECT_EQ(Cli({"--no-overwrite", "in.bmp"}).exit_code, 0);
  EXPECT_TRUE(unchanged());

  const std::string prompt = "[y/N/all/none] ";
  run = test::RunOnTerminal(TESSALY_CLI_PATH, {(dir_ / "in.bmp").string()}, prompt, {""});
  EXPECT_NE(run.out.find("Overwrite image file? The file \"" + (dir_ / kMet7Name).string() +
                         "\" already exists. Do you want to overwrite this file?"),
            std::string::npos)
      << run.out;
  EXPECT_TRUE(unchanged());  // Enter answers No
  run = test::RunOnTerminal(TESSALY_CLI_PATH, {(dir_ / "in.bmp").string()}, prompt, {"y"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_FALSE(unchanged());

  // --overwrite replaces the tool's own result, but not a file it did not write.
  EXPECT_EQ(Cli({"--overwrite", "in.bmp"}).exit_code, 0);
  EXPECT_FALSE(unchanged());
  std::ofstream(dir_ / kMet7Name) << "old";
  run = Cli({"--overwrite", "in.bmp"});
  EXPECT_NE(run.out.find("is kept"), std::string::npos) << run.out;
  EXPECT_TRUE(unchanged());
  EXPECT_EQ(Cli({"--overwrite-originals", "in.bmp"}).exit_code, 0);
  EXPECT_FALSE(unchanged());
}

TEST_F(CliTest, TwoInputsMappingToOneNameBehaveAsInASequentialRun) {
  const std::string admin = "MET7    ADM9912051230D2AB";
  WriteFrame("a.bmp", admin, 840, 790);
  WriteFrame("b.bmp", admin, 840, 770);
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(jobs);
    fs::remove(dir_ / "ADMIN.png");
    auto run = Cli({"--json", "--jobs", jobs, "a.bmp", "b.bmp"});
    auto lines = JsonLines(run.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["saved"], "true");
    EXPECT_EQ(lines[1]["saved"], "false");  // asked, answered No off a terminal
    Bitmap saved;
    LoadPNGIntoBitmap(saved, dir_ / "ADMIN.png", false);
    EXPECT_EQ(saved.Height(), 790);

    run = Cli({"--json", "--overwrite", "--jobs", jobs, "a.bmp", "b.bmp"});
    lines = JsonLines(run.out);
    EXPECT_EQ(lines[0]["saved"], "true");
    EXPECT_EQ(lines[1]["saved"], "true");
    LoadPNGIntoBitmap(saved, dir_ / "ADMIN.png", false);
    EXPECT_EQ(saved.Height(), 770);  // the later file wins, as it would one after the other
  }
}

// File names may hold any character but the slash. The Title text keeps every one (Latin-1 in
// tEXt where each has a Latin-1 form, UTF-8 in iTXt otherwise), and each file's report stays one
// line of plain text.
TEST_F(CliTest, TitlesKeepEveryCharacterAndEachReportStaysOneLine) {
  Frame flat;  // no header to read: each file is proposed under its own name
  flat.width = 300;
  flat.height = 40;
  flat.pixels.assign(300 * 40, 90);
  const std::string latin = "caf\xC3\xA9";           // "cafe" with an acute accent
  const std::string wide = "\xD0\x96-\xE5\x8C\x97";  // a Cyrillic and a Chinese letter
  const std::string controls = "two\nlines\x1B[2J";
  for (const std::string& name : {latin, wide, controls}) SaveFrame(name + ".bmp", flat);

  const auto run = Cli({"--no-overwrite", latin + ".bmp", wide + ".bmp", controls + ".bmp"});

  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(ReadChunks(dir_ / (latin + ".png")).texts.at("Title"), "caf\xE9.png");
  const PngChunks chunks = ReadChunks(dir_ / (wide + ".png"));
  EXPECT_EQ(chunks.texts.count("Title"), 0u);
  EXPECT_EQ(chunks.international_texts.at("Title"), wide + ".png");
  for (const std::string& name : {latin, wide, controls}) {
    TPngImage image;
    image.LoadFromFile(dir_ / (name + ".png"));
    EXPECT_EQ(image.Title, name + ".png");
  }
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 4) << run.out;  // 3 and the summary
  // The flat frames carry no header, so each keeps its own name; paths print as given.
  EXPECT_NE(run.out.find("two\\nlines\\x1b[2J.bmp: header not read, saved as "
                         "two\\nlines\\x1b[2J.png\n"),
            std::string::npos)
      << run.out;
}

TEST_F(CliTest, UnchangedNamesSaveNothing) {
  // A PNG whose header cannot be read is proposed under its own name.
  Frame flat = WriteFrame("plain.png", "");
  const auto before = fs::last_write_time(dir_ / "plain.png");
  // A PNG already carrying its standard name, in other letter case.
  WriteFrame("d2ab 05-12-99 1230.png", kMet7Header);
  const auto run = Cli({"--json", "plain.png", "d2ab 05-12-99 1230.png"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const auto lines = JsonLines(run.out);
  ASSERT_EQ(lines.size(), 2u);
  for (auto j : lines) {
    EXPECT_EQ(j["changed"], "false");
    EXPECT_EQ(j["saved"], "false");
  }
  EXPECT_EQ(JsonLines(run.out)[1].at("proposed"), (dir_ / kMet7Name).string());
  EXPECT_EQ(fs::last_write_time(dir_ / "plain.png"), before);
  EXPECT_FALSE(fs::exists(dir_ / kMet7Name));
  // Both keep their names; the headerless one, whose noise reads as a doubtful header, is also
  // counted as such.
  EXPECT_NE(run.err.find("2 unchanged, 0 skipped, 0 failed, 1 header doubtful"), std::string::npos)
      << run.err;
}

TEST_F(CliTest, ABadFileInTheMiddleFailsAloneAndTheBatchGoesOn) {
  WriteFrame("1.bmp", "MET7    C029912051230AAAA");
  std::ofstream(dir_ / "2.bmp") << "this is no picture";
  std::ofstream(dir_ / "notes.txt") << "text";
  Frame thin;
  thin.width = 300;
  thin.height = 1;
  thin.pixels.assign(300, 128);
  SaveFrame("thin.bmp", thin);
  WriteFrame("3.png", "MET7    C029912051230CCCC");

  const auto run = Cli({"--json", "1.bmp", "2.bmp", "notes.txt", "thin.bmp", "3.png"});
  EXPECT_EQ(run.exit_code, 1);
  const auto lines = JsonLines(run.out);
  ASSERT_EQ(lines.size(), 5u) << run.out;
  std::vector<std::string> inputs;
  for (auto j : lines) inputs.push_back(fs::path(j["input"]).filename().string());
  EXPECT_EQ(inputs, (std::vector<std::string>{"1.bmp", "2.bmp", "notes.txt", "thin.bmp", "3.png"}));
  EXPECT_EQ(lines[0].at("saved"), "true");
  EXPECT_NE(lines[1].at("error").find("2.bmp"), std::string::npos);
  EXPECT_NE(lines[2].at("skipped").find("notes.txt"), std::string::npos);
  EXPECT_NE(lines[3].at("error").find("thin.bmp"), std::string::npos);
  EXPECT_EQ(lines[4].at("saved"), "true");
  EXPECT_TRUE(fs::exists(dir_ / "AAAA 05-12-99 1230.png"));
  EXPECT_TRUE(fs::exists(dir_ / "CCCC 05-12-99 1230.png"));
  EXPECT_FALSE(fs::exists(dir_ / "thin.png"));
  EXPECT_NE(run.err.find("5 files seen: 2 saved, 0 unchanged, 1 skipped, 2 failed"),
            std::string::npos)
      << run.err;
}

TEST_F(CliTest, AFolderStandsForItsBmpThenPngFilesAndDryRunWritesNothing) {
  fs::create_directory(dir_ / "frames");
  fs::create_directory(dir_ / "frames" / "sub");
  WriteFrame("frames/b.png", "MET7    C029912051230BBBB");
  WriteFrame("frames/C.BMP", "MET7    C029912051230CCCC");
  WriteFrame("frames/a.bmp", "MET7    C029912051230AAAA");
  WriteFrame("frames/sub/d.bmp", "MET7    C029912051230DDDD");
  const auto run = Cli({"--json", "--dry-run", "frames"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::vector<std::string> order;
  for (auto j : JsonLines(run.out)) order.push_back(fs::path(j["input"]).filename().string());
  EXPECT_EQ(order, (std::vector<std::string>{"a.bmp", "C.BMP", "b.png"}));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "frames"), fs::directory_iterator()), 4);
}

}  // namespace
}  // namespace tessaly
