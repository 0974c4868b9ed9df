// The per-file processing: naming fall-backs, Save state, the overwrite
// question, skipped and refused files, format conversion and the width cap.
#include "app/processor.h"

#include <gtest/gtest.h>

#include "base/files.h"
#include "grey_bitmap.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>

#include "base/errors.h"
#include "picture_files/png_io.h"
#include "support/bmp_writer.h"
#include "support/manifest.h"
#include "support/sha256.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

using test::Grey8;

class ProcessorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tessaly-processor-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    processor_.ask_overwrite = [this](const std::string& caption, const std::string& text) {
      questions_.push_back(caption + "|" + text);
      return answer_;
    };
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path WriteBmp(const std::string& name, const Bitmap& b) {
    const auto bytes = EncodeBmp(b);
    WriteFileReplacing(dir_ / name, bytes);
    return dir_ / name;
  }

  fs::path dir_;
  FileProcessor processor_;
  std::vector<std::string> questions_;
  Answer answer_ = Answer::kNo;
};

TEST_F(ProcessorTest, UnreadableBmpHeaderIsProposedAsPngBesideItAndAutoSaved) {
  const fs::path input = WriteBmp("frame.bmp", Grey8(300, 40, 90));
  const FileOutcome outcome = processor_.ProcessFile(input, true);
  EXPECT_TRUE(outcome.saved);
  EXPECT_EQ(processor_.ProposedName(), dir_ / "frame.png");
  EXPECT_EQ(processor_.LabelOutputNameHint(), (dir_ / "frame.png").string());
  EXPECT_EQ(processor_.LabelOutputNameCaption(), "frame.png");
  EXPECT_EQ(processor_.LabelHelpCaption(), "frame.bmp");
  EXPECT_TRUE(processor_.SaveEnabled());
  EXPECT_TRUE(fs::exists(dir_ / "frame.png"));
  EXPECT_TRUE(questions_.empty());
}

TEST_F(ProcessorTest, PngProposedUnderItsOwnNameOrOnlyInAnotherCaseIsNotSaved) {
  Bitmap picture = Grey8(300, 40, 90);
  SaveBitmapAsPNG(picture, dir_ / "frame.png", "", "", "", "");
  const auto before = fs::last_write_time(dir_ / "frame.png");
  const FileOutcome outcome = processor_.ProcessFile(dir_ / "frame.png", true);
  EXPECT_FALSE(outcome.saved);
  EXPECT_FALSE(processor_.SaveEnabled());
  EXPECT_EQ(fs::last_write_time(dir_ / "frame.png"), before);

  SaveBitmapAsPNG(picture, dir_ / "UPPER.PNG", "", "", "", "");
  processor_.ProcessFile(dir_ / "UPPER.PNG", true);
  EXPECT_EQ(processor_.ProposedName(), dir_ / "UPPER.png");
  EXPECT_FALSE(processor_.SaveEnabled());
  EXPECT_FALSE(fs::exists(dir_ / "UPPER.png"));
}

TEST_F(ProcessorTest, ExistingTargetIsReplacedOnlyAfterYes) {
  const fs::path input = WriteBmp("frame.bmp", Grey8(300, 40, 90));
  std::ofstream(dir_ / "frame.png") << "keep me";
  processor_.ProcessFile(input, true);
  ASSERT_EQ(questions_.size(), 1u);
  EXPECT_EQ(questions_[0], "Overwrite image file?|The file \"" + (dir_ / "frame.png").string() +
                               "\" already exists. Do you want to overwrite this file?");
  EXPECT_EQ(fs::file_size(dir_ / "frame.png"), 7u);

  answer_ = Answer::kYes;
  EXPECT_TRUE(processor_.ButtonSaveClick());
  EXPECT_EQ(questions_.size(), 2u);
  EXPECT_GT(fs::file_size(dir_ / "frame.png"), 7u);

  processor_.ask_overwrite = nullptr;  // no one to ask: No
  EXPECT_FALSE(processor_.ButtonSaveClick());
}

// Another program creates the target after the save found the name free and before the new file
// takes it: the window's save and the batch tool's both leave that file alone unless asked.
TEST_F(ProcessorTest, AFileAppearingDuringTheSaveIsReplacedOnlyAfterYes) {
  const fs::path input = WriteBmp("frame.bmp", Grey8(300, 40, 90));
  const fs::path target = dir_ / "frame.png";
  processor_.before_publish = [&] { std::ofstream(target) << "other writer"; };
  const auto Content = [&] {
    std::ifstream in(target);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const auto Names = [&] {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  };

  const FileOutcome outcome = processor_.ProcessFile(input, true);
  EXPECT_FALSE(outcome.saved);
  EXPECT_TRUE(outcome.declined);
  EXPECT_EQ(questions_.size(), 1u);  // asked about the file that appeared
  EXPECT_EQ(Content(), "other writer");
  EXPECT_EQ(Names(), (std::vector<std::string>{"frame.bmp", "frame.png"}));  // no temporary left

  fs::remove(target);
  answer_ = Answer::kYes;
  EXPECT_TRUE(processor_.ButtonSaveClick());
  EXPECT_EQ(questions_.size(), 2u);
  EXPECT_EQ(Content().substr(1, 3), "PNG");

  // The batch tool's save with --no-overwrite: no one to ask.
  fs::remove(target);
  const std::vector<std::uint8_t> png = EncodeOutput(processor_.OutputBitmap(), target);
  EXPECT_FALSE(SaveEncodedOutput(png, target, nullptr, processor_.before_publish));
  EXPECT_EQ(Content(), "other writer");
  EXPECT_EQ(Names(), (std::vector<std::string>{"frame.bmp", "frame.png"}));
}

TEST_F(ProcessorTest, AFolderUnderTheTargetNameIsAnErrorNotAQuestion) {
  const fs::path input = WriteBmp("frame.bmp", Grey8(300, 40, 90));
  fs::create_directory(dir_ / "frame.png");
  answer_ = Answer::kYes;
  EXPECT_THROW(processor_.ProcessFile(input, true), Error);
  EXPECT_TRUE(questions_.empty());
  EXPECT_TRUE(fs::is_directory(dir_ / "frame.png"));
}

TEST_F(ProcessorTest, OtherExtensionsAreSkippedWithoutLoadingAnything) {
  const fs::path input = WriteBmp("frame.bmp", Grey8(300, 40, 90));
  processor_.ProcessFile(input, false);
  const int width = processor_.InputBitmap().Width();
  std::ofstream(dir_ / "notes.txt") << "text";
  const FileOutcome outcome = processor_.ProcessFile(dir_ / "notes.txt", true);
  EXPECT_EQ(outcome.status, FileOutcome::Status::kSkipped);
  EXPECT_NE(outcome.message.find("notes.txt"), std::string::npos);
  EXPECT_FALSE(processor_.SaveEnabled());
  EXPECT_FALSE(outcome.saved);
  EXPECT_EQ(processor_.InputBitmap().Width(), width);
  EXPECT_FALSE(fs::exists(dir_ / "notes.png"));
}

TEST_F(ProcessorTest, PicturesBelowTwoRowsAreRefusedNamingTheFile) {
  const fs::path input = WriteBmp("thin.bmp", Grey8(300, 1, 90));
  try {
    processor_.ProcessFile(input, true);
    FAIL() << "a one-row picture was accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("thin.bmp"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(processor_.SaveEnabled());
  EXPECT_FALSE(fs::exists(dir_ / "thin.png"));
}

TEST_F(ProcessorTest, ColourPicturesAreConvertedToGrey) {
  Bitmap colour;
  colour.SetFormat(PixelFormat::k24Bit);
  colour.SetSize(240, 10);
  colour.FillRect({0, 0, 240, 10}, MakeColor(200, 100, 50));
  const fs::path input = WriteBmp("colour.bmp", colour);
  processor_.ProcessFile(input, false);
  EXPECT_EQ(processor_.InputBitmap().Format(), PixelFormat::k8Bit);
  // Luma of (200, 100, 50): (299 * 200 + 587 * 100 + 114 * 50 + 500) div 1000.
  EXPECT_EQ(processor_.InputBitmap().Row(0)[0], 124);
  EXPECT_EQ(processor_.OutputBitmap().Format(), PixelFormat::k8Bit);
  EXPECT_EQ(processor_.OutputBitmap().GetPalette(), GreyRamp());
}

TEST_F(ProcessorTest, PngInputsOfEveryKindBecomeTheirGreyPicture) {
  // Packed palette, 16-bit grey, grey with alpha, and 8-bit palette pictures:
  // the loaded input must equal the corpus's grey reference, except that an
  // 8-bit palette picture keeps its indices (its index is the grey level).
  std::map<std::string, std::string> hashes;
  for (const auto& e : test::ReadManifest(test::CorpusDir("pngsuite") + "/manifest.tsv"))
    hashes[e.file] = e.grey_sha256;
  for (const char* name : {"basn3p01.png", "basn3p04.png", "basn0g16.png", "basn4a08.png"}) {
    SCOPED_TRACE(name);
    // The suite's files carry gAMA 1.0, which the reader would apply; without it
    // the stored samples are the picture.
    std::vector<std::uint8_t> png = ReadFileBytes(fs::path(test::CorpusDir("pngsuite")) / name);
    const std::string gama = "gAMA";
    auto at = std::search(png.begin(), png.end(), gama.begin(), gama.end());
    ASSERT_NE(at, png.end());
    png.erase(at - 4, at + 12);  // length, type, 4 data bytes, CRC
    WriteFileReplacing(dir_ / name, png);
    processor_.ProcessFile(dir_ / name, false);
    const Bitmap& input = processor_.InputBitmap();
    ASSERT_EQ(input.Format(), PixelFormat::k8Bit);
    std::vector<std::uint8_t> grey;
    for (int y = 0; y < input.Height(); ++y)
      grey.insert(grey.end(), input.Row(y), input.Row(y) + input.Width());
    EXPECT_EQ(test::Sha256Hex(grey), hashes[name]);
  }
}

TEST_F(ProcessorTest, OutputsWiderThan800AreShrunkTo800KeepingTheHeight) {
  // Below the decodable width nothing is cut, so the output has the input's size.
  processor_.ProcessFile(WriteBmp("w801.bmp", Grey8(801, 6, 90)), false);
  EXPECT_EQ(processor_.OutputBitmap().Width(), 800);
  EXPECT_EQ(processor_.OutputBitmap().Height(), 6);
}

TEST_F(ProcessorTest, SourceChoiceReprocessesTheCurrentFileWithoutSaving) {
  processor_.RadioGroupSourceIDClick();  // before any file: nothing happens
  EXPECT_TRUE(processor_.CurrentFile().empty());
  EXPECT_EQ(processor_.LabelHelpCaption(), kLabelHelpText);

  const fs::path input = WriteBmp("frame.bmp", Grey8(300, 40, 90));
  processor_.ProcessFile(input, false);
  EXPECT_LT(processor_.OutputBitmap().Width(), 300);
  processor_.source_id = kSourceDataLinesOnly;
  processor_.RadioGroupSourceIDClick();
  // The data-lines layout is 840 wide, then shrunk to 800.
  EXPECT_EQ(processor_.OutputBitmap().Width(), 800);
  EXPECT_TRUE(processor_.SaveEnabled());
  EXPECT_FALSE(fs::exists(dir_ / "frame.png"));
}

}  // namespace
}  // namespace tessaly
