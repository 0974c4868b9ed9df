// The per-file pipeline: the value it returns (levels, cut, name and its source, changed),
// naming fall-backs, the overwrite question, skipped and refused files, format conversion and
// the width cap.
#include "app/processor.h"
#include "app/results.h"
#include "app/saving.h"
#include "app/source_prep.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <png.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <random>

#include "base/errors.h"
#include "base/files.h"
#include "framegen/framegen.h"
#include "grey_bitmap.h"
#include "picture_files/png_image.h"
#include "picture_files/png_io.h"
#include "support/bmp_writer.h"
#include "support/child_process.h"
#include "support/manifest.h"
#include "support/sha256.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

using test::Grey8;

// What the processing made of one file.
struct Processed {
  std::string header;
  std::int32_t black = 0;
  std::int32_t white = 0;
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
  friend bool operator==(const Processed&, const Processed&) = default;
};

void PrintTo(const Processed& p, std::ostream* os) {
  *os << '"' << p.header << "\", levels " << p.black << " to " << p.white << ", " << p.width
      << " x " << p.height;
}

Processed Outcome(const PictureResult& result) {
  const Bitmap& out = result.output;
  Processed p{result.header_text, result.black_level, result.white_level,
              out.Width(),        out.Height(),       {}};
  for (int y = 0; y < out.Height(); ++y)
    p.pixels.insert(p.pixels.end(), out.Row(y), out.Row(y) + out.Width());
  return p;
}

Processed ProcessAlone(const fs::path& file, Source source) {
  ProcessingOptions options;
  options.source = source;
  return Outcome(ProcessPicture(file, options));
}

// An 8-bit grey picture written by libpng itself, as other programs write PNG files: as RGB,
// RGB with alpha, grey with alpha, or palette pictures whose index is the grey level; or tinted
// (grey g as Tint(g)) as RGB, and as a palette with transparency.
enum class PngKind {
  kRgb,
  kRgbaRandomAlpha,
  kGreyRandomAlpha,
  kGreyPaletteRandomTrns,
  kFalseColourPalette,
  kTintedRgb,
  kTintedPaletteRandomTrns
};

std::array<std::uint8_t, 3> Tint(std::uint8_t g) {
  return {g, static_cast<std::uint8_t>(g * 7 / 8), static_cast<std::uint8_t>(g * 3 / 4)};
}

std::vector<std::uint8_t> WriteWithLibpng(const Bitmap& grey, PngKind kind) {
  std::mt19937 random(7);
  const auto alpha = [&] { return static_cast<std::uint8_t>(random() % 256); };
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(grey.Width());
  image.height = static_cast<png_uint_32>(grey.Height());
  image.flags =
      PNG_IMAGE_FLAG_COLORSPACE_NOT_sRGB;  // no gAMA or sRGB chunk for the reader to apply
  std::vector<std::uint8_t> colormap;
  std::vector<std::uint8_t> pixels;
  for (int y = 0; y < grey.Height(); ++y) {
    for (int x = 0; x < grey.Width(); ++x) {
      const std::uint8_t g = grey.Row(y)[x];
      switch (kind) {
        case PngKind::kRgb:
          pixels.insert(pixels.end(), {g, g, g});
          break;
        case PngKind::kRgbaRandomAlpha:
          pixels.insert(pixels.end(), {g, g, g, alpha()});
          break;
        case PngKind::kGreyRandomAlpha:
          pixels.insert(pixels.end(), {g, alpha()});
          break;
        case PngKind::kTintedRgb: {
          const std::array<std::uint8_t, 3> c = Tint(g);
          pixels.insert(pixels.end(), c.begin(), c.end());
          break;
        }
        default:
          pixels.push_back(g);
      }
    }
  }
  if (kind == PngKind::kRgb) image.format = PNG_FORMAT_RGB;
  if (kind == PngKind::kRgbaRandomAlpha) image.format = PNG_FORMAT_RGBA;
  if (kind == PngKind::kGreyRandomAlpha) image.format = PNG_FORMAT_GA;
  if (kind == PngKind::kTintedRgb) image.format = PNG_FORMAT_RGB;
  if (kind == PngKind::kGreyPaletteRandomTrns || kind == PngKind::kTintedPaletteRandomTrns) {
    image.format = PNG_FORMAT_RGBA_COLORMAP;
    for (int i = 0; i < 256; ++i) {
      const auto v = static_cast<std::uint8_t>(i);
      const auto c = kind == PngKind::kTintedPaletteRandomTrns ? Tint(v) : std::array{v, v, v};
      colormap.insert(colormap.end(), {c[0], c[1], c[2], alpha()});
    }
  }
  if (kind == PngKind::kFalseColourPalette) {
    image.format = PNG_FORMAT_RGB_COLORMAP;
    for (int i = 0; i < 256; ++i) {
      colormap.insert(colormap.end(),
                      {static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i * 7),
                       static_cast<std::uint8_t>(i / 2)});
    }
  }
  image.colormap_entries = colormap.empty() ? 0 : 256;
  png_alloc_size_t size = 0;
  const void* map = colormap.empty() ? nullptr : colormap.data();
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, map)) {
    throw std::runtime_error(image.message);
  }
  std::vector<std::uint8_t> png(size);
  if (!png_image_write_to_memory(&image, png.data(), &size, 0, pixels.data(), 0, map)) {
    throw std::runtime_error(image.message);
  }
  png.resize(size);
  return png;
}

class ProcessorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tessaly-processor-" + std::to_string(::getpid()) + "-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    ask_ = [this](const fs::path& input, const fs::path& target) {
      questions_.push_back(input.string() + "|" + target.string());
      return answer_;
    };
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path WriteBmp(const std::string& name, const Bitmap& b) {
    const auto bytes = EncodeBmp(b);
    WriteFileReplacing(dir_ / name, bytes);
    return dir_ / name;
  }

  static PictureResult Process(const fs::path& file, Source source = Source::kFullFrame) {
    ProcessingOptions options;
    options.source = source;
    return ProcessPicture(file, options);
  }

  fs::path dir_;
  OverwriteQuestion ask_;
  std::vector<std::string> questions_;
  Answer answer_ = Answer::kNo;
};

TEST_F(ProcessorTest, AFrameGivesItsHeaderLevelsCutAndNameFromThePrimaryForm) {
  framegen::FrameRecipe recipe;
  recipe.header = "GOES8   VIS9812241200D2  ";
  const framegen::Frame frame = framegen::MakeFrame(recipe);
  const fs::path input = WriteBmp("frame.bmp", framegen::ToBitmap(frame));
  ProcessingOptions options;
  std::vector<std::uint8_t> seen;  // what a batch hashes without reading the file again
  options.on_file_bytes = [&](std::span<const std::uint8_t> bytes) {
    seen.assign(bytes.begin(), bytes.end());
  };
  const PictureResult result = ProcessPicture(input, options);
  EXPECT_EQ(seen, ReadFileBytes(input));
  EXPECT_EQ(result.input_name, input);
  EXPECT_EQ(result.header_text, frame.header);
  EXPECT_EQ(result.named_from, NamedFrom::kPrimaryForm);
  // The code field is four characters wide and keeps its blanks.
  EXPECT_EQ(result.proposed_name, dir_ / "D2   24-12-98 1200.png");
  EXPECT_TRUE(result.changed);
  EXPECT_TRUE(result.bad_header_message.empty());
  EXPECT_FALSE(result.header_doubtful);
  EXPECT_GE(result.header_confidence, kDoubtfulBelow);
  EXPECT_TRUE(result.doubtful_name.empty());
  EXPECT_EQ(result.cut.x, frame.picture.x);
  EXPECT_EQ(result.cut.y, frame.picture.y);
  EXPECT_EQ(result.cut.width, frame.picture.width);
  EXPECT_EQ(result.cut.height, frame.picture.height);
  EXPECT_LT(result.black_level, result.white_level);
  EXPECT_EQ(result.output.Width(), frame.picture.width);
  EXPECT_TRUE(result.png.empty());
}

// The picture's own time as "Creation Time" only on request, read back by libpng and by Pillow.
TEST_F(ProcessorTest, TheHeadersTimeIsAddedAsCreationTimeOnlyOnRequest) {
  framegen::FrameRecipe recipe;
  recipe.header = "GOES8   VIS9812241200D2  ";
  PictureResult result =
      Process(WriteBmp("frame.bmp", framegen::ToBitmap(framegen::MakeFrame(recipe))));
  const auto texts = [&] {
    TPngImage image;
    image.LoadFromMemory(result.png);
    return image.Texts;
  };
  std::vector<std::string> four = {"Author=Kestrelwood", "Description=GOES image",
                                   "Software=Tessaly", "Title=D2   24-12-98 1200.png"};
  EncodePicture(result);
  EXPECT_EQ(texts(), four);
  EncodePicture(result, CreationTime::kFromHeader);
  four.push_back("Creation Time=1998-12-24T12:00Z");
  EXPECT_EQ(texts(), four);
  ASSERT_TRUE(SavePicture(result, ask_));
  EXPECT_TRUE(IsToolResult(result.proposed_name));

  const test::ChildResult pillow =
      test::RunChild("/usr/bin/python3", {"-c",
                                          "import sys; from PIL import Image; "
                                          "print(Image.open(sys.argv[1]).text['Creation Time'])",
                                          result.proposed_name.string()});
  if (pillow.err.find("No module named 'PIL'") != std::string::npos) {
    GTEST_SKIP() << "python3-pil is not installed (scripts/setup installs it)";
  }
  EXPECT_EQ(pillow.out, "1998-12-24T12:00Z\n") << pillow.err;

  result.header->time.reset();  // an administrative message: nothing to add
  EncodePicture(result, CreationTime::kFromHeader);
  EXPECT_EQ(texts().size(), 4u);
}

TEST_F(ProcessorTest, ADoubtfulHeaderNamesNothingButKeepsItsTextAndTheNameItWouldGive) {
  const framegen::FrameRecipe recipe = framegen::DoubtfulFrameRecipe();
  const framegen::Frame frame = framegen::MakeFrame(recipe);
  const fs::path file = WriteBmp("frame.bmp", framegen::ToBitmap(frame));
  const PictureResult result = ProcessPicture(file, ProcessingOptions{});
  EXPECT_EQ(result.header_text, frame.header);
  EXPECT_TRUE(result.header_doubtful);
  EXPECT_LT(result.header_confidence, kDoubtfulBelow);
  EXPECT_EQ(result.named_from, NamedFrom::kInputName);
  EXPECT_EQ(result.proposed_name, dir_ / "frame.png");
  EXPECT_EQ(result.doubtful_name, dir_ / "GOES-I 31-01-01 1445 G8FD.png");
  EXPECT_EQ(result.doubtful_named_from, NamedFrom::kPrimaryForm);
  EXPECT_FALSE(result.header.has_value());
  // Asked to, the pipeline names from it all the same, and still says it is doubtful.
  ProcessingOptions accept;
  accept.accept_doubtful = true;
  const PictureResult accepted = ProcessPicture(file, accept);
  EXPECT_TRUE(accepted.header_doubtful);
  EXPECT_EQ(accepted.proposed_name, result.doubtful_name);
  EXPECT_EQ(accepted.named_from, NamedFrom::kPrimaryForm);
  EXPECT_TRUE(accepted.header.has_value());
}

TEST_F(ProcessorTest, AFrameInTheMeteosatLayoutIsReadAgainAsMeteosatWhenGoesGivesNoName) {
  for (const framegen::Layout layout :
       {framegen::Layout::GOES, framegen::Layout::GMS, framegen::Layout::Meteosat}) {
    framegen::FrameRecipe recipe;
    recipe.layout = layout;
    recipe.data_rows = 2;
    recipe.header = "MET7    C029912051230D2AB";
    const framegen::Frame frame = framegen::MakeFrame(recipe);
    const PictureResult result =
        ProcessPicture(WriteBmp("frame.bmp", framegen::ToBitmap(frame)), ProcessingOptions{});
    SCOPED_TRACE(static_cast<int>(layout));
    EXPECT_EQ(result.header_text, frame.header);
    EXPECT_EQ(result.proposed_name, dir_ / "D2AB 05-12-99 1230.png");
    EXPECT_EQ(result.read_as, layout == framegen::Layout::Meteosat ? SatelliteType::Meteosat
                              : layout == framegen::Layout::GMS    ? SatelliteType::GMS
                                                                   : SatelliteType::GOES);
    EXPECT_EQ(result.cut.x, frame.picture.x);
    EXPECT_EQ(result.cut.width, frame.picture.width);
  }
}

TEST_F(ProcessorTest, APictureOfDataLinesReadAsAFullFrameKeepsTheFirstAnalysisReading) {
  // Such a picture has no header band, so nothing is read surely; the second looks must leave
  // the levels, cut and text of the first analysis as they were (they had given other levels
  // and a text of stray characters).
  for (const int width : {251, 840, 926}) {
    framegen::FrameRecipe recipe;
    recipe.width = width;
    recipe.picture_height = 60;
    const framegen::Frame lines = framegen::DataLinesSource(framegen::MakeFrame(recipe), recipe);
    const Bitmap bitmap = framegen::ToBitmap(lines);
    const PictureResult result = Process(WriteBmp("lines.bmp", bitmap));
    const IplImagePtr sample = MakeSampleImage(bitmap);
    const DataLinesResult first = AnalyseDataLines(
        sample.get(), 4.0f * static_cast<float>(sample->width), SatelliteType::GOES, Looks::kFirst);
    SCOPED_TRACE(width);
    EXPECT_EQ(result.named_from, NamedFrom::kInputName);
    EXPECT_EQ(result.header_text, first.header_text);
    EXPECT_EQ(result.black_level, first.black_level);
    EXPECT_EQ(result.white_level, first.white_level);
    const PictureRect cut =
        first.cut.empty() ? PictureRect{0, 0, sample->width, sample->height} : first.cut;
    EXPECT_EQ(result.cut.x, cut.x);
    EXPECT_EQ(result.cut.y, cut.y);
    EXPECT_EQ(result.cut.width, cut.width);
    EXPECT_EQ(result.cut.height, cut.height);
  }
}

TEST_F(ProcessorTest, UnreadableBmpHeaderIsProposedAsPngBesideItAndSaved) {
  const fs::path input = WriteBmp("frame.bmp", Grey8(300, 40, 90));
  PictureResult result = Process(input);
  EXPECT_EQ(result.proposed_name, dir_ / "frame.png");
  EXPECT_EQ(result.named_from, NamedFrom::kInputName);
  // A picture of one grey level holds no header: nothing was read, so nothing is doubted.
  EXPECT_EQ(StateOf(result), HeaderState::kNotRead);
  EXPECT_FALSE(result.header_doubtful);
  EXPECT_FALSE(result.header_confidence.has_value());
  EXPECT_TRUE(result.changed);
  EncodePicture(result);  // as the batch tool's workers do
  EXPECT_FALSE(result.png.empty());
  EXPECT_TRUE(SavePicture(result, ask_));
  EXPECT_TRUE(fs::exists(dir_ / "frame.png"));
  EXPECT_TRUE(questions_.empty());
}

TEST_F(ProcessorTest, PngProposedUnderItsOwnNameOrOnlyInAnotherCaseIsUnchanged) {
  Bitmap picture = Grey8(300, 40, 90);
  SaveBitmapAsPNG(picture, dir_ / "frame.png", "", "", "", "");
  const PictureResult same = Process(dir_ / "frame.png");
  EXPECT_EQ(same.proposed_name, dir_ / "frame.png");
  EXPECT_FALSE(same.changed);

  SaveBitmapAsPNG(picture, dir_ / "UPPER.PNG", "", "", "", "");
  const PictureResult upper = Process(dir_ / "UPPER.PNG");
  EXPECT_EQ(upper.proposed_name, dir_ / "UPPER.png");
  EXPECT_FALSE(upper.changed);
}

TEST_F(ProcessorTest, ExistingTargetIsReplacedOnlyAfterYes) {
  const fs::path input = WriteBmp("frame.bmp", Grey8(300, 40, 90));
  std::ofstream(dir_ / "frame.png") << "keep me";
  const PictureResult result = Process(input);
  EXPECT_FALSE(SavePicture(result, ask_));
  ASSERT_EQ(questions_.size(), 1u);
  EXPECT_EQ(questions_[0], input.string() + "|" + (dir_ / "frame.png").string());
  EXPECT_EQ(fs::file_size(dir_ / "frame.png"), 7u);

  answer_ = Answer::kYes;
  EXPECT_TRUE(SavePicture(result, ask_));
  EXPECT_EQ(questions_.size(), 2u);
  EXPECT_GT(fs::file_size(dir_ / "frame.png"), 7u);

  EXPECT_FALSE(SavePicture(result, nullptr));  // no one to ask: No
}

// Another program creates the target after the save found the name free and before the new file
// takes it: the window's save and the batch tool's both leave that file alone unless asked.
TEST_F(ProcessorTest, AFileAppearingDuringTheSaveIsReplacedOnlyAfterYes) {
  const fs::path input = WriteBmp("frame.bmp", Grey8(300, 40, 90));
  const fs::path target = dir_ / "frame.png";
  const BeforePublish other_writer = [&] { std::ofstream(target) << "other writer"; };
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

  PictureResult result = Process(input);
  EXPECT_FALSE(SavePicture(result, ask_, nullptr, other_writer));
  EXPECT_EQ(questions_.size(), 1u);  // asked about the file that appeared
  EXPECT_EQ(Content(), "other writer");
  EXPECT_EQ(Names(), (std::vector<std::string>{"frame.bmp", "frame.png"}));  // no temporary left

  fs::remove(target);
  answer_ = Answer::kYes;
  EXPECT_TRUE(SavePicture(result, ask_, nullptr, other_writer));
  EXPECT_EQ(questions_.size(), 2u);
  EXPECT_EQ(Content().substr(1, 3), "PNG");

  // The batch tool's save with --no-overwrite: no one to ask.
  fs::remove(target);
  EncodePicture(result);
  EXPECT_FALSE(SavePicture(result, nullptr, nullptr, other_writer));
  EXPECT_EQ(Content(), "other writer");
  EXPECT_EQ(Names(), (std::vector<std::string>{"frame.bmp", "frame.png"}));
}

TEST_F(ProcessorTest, AResultIsUpToDateWhileItIsTheToolsOwnAndNotOlderThanItsInput) {
  const fs::path input = WriteBmp("frame.bmp", Grey8(300, 40, 90));
  const fs::path target = dir_ / "frame.png";
  EXPECT_FALSE(IsUpToDate(target, input));  // nothing there yet
  ASSERT_TRUE(SavePicture(Process(input), ask_));
  EXPECT_TRUE(IsUpToDate(target, input));
  fs::last_write_time(input, fs::last_write_time(target) + std::chrono::seconds(1));
  EXPECT_FALSE(IsUpToDate(target, input));  // the input changed after the save
  SaveBitmapAsPNG(Grey8(3, 3, 9), target, "", "", "someone else", "");
  EXPECT_FALSE(IsUpToDate(target, input));  // newer, but not the tool's
}

TEST_F(ProcessorTest, AFolderUnderTheTargetNameIsAnErrorNotAQuestion) {
  const fs::path input = WriteBmp("frame.bmp", Grey8(300, 40, 90));
  fs::create_directory(dir_ / "frame.png");
  answer_ = Answer::kYes;
  EXPECT_THROW(SavePicture(Process(input), ask_), Error);
  EXPECT_TRUE(questions_.empty());
  EXPECT_TRUE(fs::is_directory(dir_ / "frame.png"));
}

TEST_F(ProcessorTest, OtherExtensionsAreSkippedWithoutLoadingAnything) {
  EXPECT_FALSE(SkipReason(dir_ / "frame.BMP"));
  EXPECT_FALSE(SkipReason(dir_ / "frame.Png"));
  std::ofstream(dir_ / "notes.txt") << "text";
  const std::optional<std::string> reason = SkipReason(dir_ / "notes.txt");
  ASSERT_TRUE(reason);
  EXPECT_EQ(*reason,
            "Skipped \"" + (dir_ / "notes.txt").string() + "\": only .bmp and .png files are read");
  try {
    Process(dir_ / "notes.txt");
    FAIL() << "a text file was processed";
  } catch (const Error& e) {
    EXPECT_EQ(e.what(), *reason);
  }
  EXPECT_FALSE(fs::exists(dir_ / "notes.png"));
}

TEST_F(ProcessorTest, PicturesBelowTwoRowsAreRefusedNamingTheFile) {
  const fs::path input = WriteBmp("thin.bmp", Grey8(300, 1, 90));
  try {
    Process(input);
    FAIL() << "a one-row picture was accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("thin.bmp"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(dir_ / "thin.png"));
}

TEST_F(ProcessorTest, ColourPicturesAreConvertedToGrey) {
  Bitmap colour;
  colour.SetFormat(PixelFormat::k24Bit);
  colour.SetSize(240, 10);
  colour.FillRect({0, 0, 240, 10}, MakeColor(200, 100, 50));
  const fs::path input = WriteBmp("colour.bmp", colour);
  const TExtBitmap loaded = LoadPicture(input);
  EXPECT_EQ(loaded.Format(), PixelFormat::k8Bit);
  // Luma of (200, 100, 50): (299 * 200 + 587 * 100 + 114 * 50 + 500) div 1000.
  EXPECT_EQ(loaded.Row(0)[0], 124);
  const PictureResult result = Process(input);
  EXPECT_EQ(result.output.Format(), PixelFormat::k8Bit);
  EXPECT_EQ(result.output.GetPalette(), GreyRamp());
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
    const TExtBitmap input = LoadPicture(dir_ / name);
    ASSERT_EQ(input.Format(), PixelFormat::k8Bit);
    std::vector<std::uint8_t> grey;
    for (int y = 0; y < input.Height(); ++y)
      grey.insert(grey.end(), input.Row(y), input.Row(y) + input.Width());
    EXPECT_EQ(test::Sha256Hex(grey), hashes[name]);
  }
}

TEST_F(ProcessorTest, OutputsWiderThan800AreShrunkTo800KeepingTheHeight) {
  // Below the decodable width nothing is cut, so the output has the input's size.
  const PictureResult result = Process(WriteBmp("w801.bmp", Grey8(801, 6, 90)));
  EXPECT_EQ(result.output.Width(), 800);
  EXPECT_EQ(result.output.Height(), 6);
  EXPECT_EQ(result.cut.x, 0);
  EXPECT_EQ(result.cut.y, 0);
  EXPECT_EQ(result.cut.width, 801);
  EXPECT_EQ(result.cut.height, 6);
}

TEST_F(ProcessorTest, SourceChoiceSelectsTheDataLinesLayoutAndTellsAFullFrameReadAsDataLines) {
  const fs::path input = WriteBmp("frame.bmp", Grey8(300, 40, 90));
  const PictureResult full = Process(input);
  EXPECT_LT(full.output.Width(), 300);
  const PictureResult lines = Process(input, Source::kDataLines);
  // The data-lines layout is 840 wide, then shrunk to 800.
  EXPECT_EQ(lines.output.Width(), 800);
  EXPECT_TRUE(lines.changed);
  EXPECT_FALSE(lines.looks_like_full_frame);
  EXPECT_FALSE(fs::exists(dir_ / "frame.png"));

  const fs::path frame =
      WriteBmp("full.bmp", framegen::ToBitmap(framegen::MakeFrame(
                               framegen::SizedFrameRecipe(framegen::Layout::GOES, 840, 300))));
  EXPECT_TRUE(Process(frame, Source::kDataLines).looks_like_full_frame);
  EXPECT_FALSE(Process(frame).looks_like_full_frame);
}

TEST_F(ProcessorTest, DataLinesBarsAndBandAreBlackAndWhiteWhateverThePalette) {
  // A 200-colour quirk BMP reads with 200 palette entries and a false-colour palette PNG keeps
  // its indices: neither palette may decide the levels of the bars and the band.
  framegen::FrameRecipe recipe;
  recipe.header = "GOES-K  NH 0207040600    ";
  recipe.start_column = 27;
  recipe.picture_height = 300;
  const Bitmap lines =
      framegen::ToBitmap(framegen::DataLinesSource(framegen::MakeFrame(recipe), recipe));
  const fs::path grey = WriteBmp("grey.bmp", lines);
  WriteFileReplacing(dir_ / "quirk.bmp", EncodeBmp(lines, {.announced_colours = 200}));
  WriteFileReplacing(dir_ / "false.png", WriteWithLibpng(lines, PngKind::kFalseColourPalette));

  const Processed expected = ProcessAlone(grey, Source::kDataLines);
  ASSERT_EQ(expected.header, recipe.header);
  for (const char* name : {"quirk.bmp", "false.png"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ProcessAlone(dir_ / name, Source::kDataLines), expected);
  }
}

TEST_F(ProcessorTest, TransparencyInAPngChangesNothingAndNothingCarriesOverFromTheFileBefore) {
  const framegen::FrameRecipe recipe = framegen::SizedFrameRecipe(framegen::Layout::GMS, 840, 400);
  const Bitmap frame = framegen::ToBitmap(framegen::MakeFrame(recipe));
  const fs::path grey = WriteBmp("grey.bmp", frame);
  const Processed expected = ProcessAlone(grey, Source::kFullFrame);
  ASSERT_EQ(expected.header, framegen::MakeFrame(recipe).header);

  for (const auto& [name, kind] :
       {std::pair{"rgb.png", PngKind::kRgb}, std::pair{"rgba.png", PngKind::kRgbaRandomAlpha},
        std::pair{"ga.png", PngKind::kGreyRandomAlpha},
        std::pair{"trns.png", PngKind::kGreyPaletteRandomTrns}}) {
    SCOPED_TRACE(name);
    WriteFileReplacing(dir_ / name, WriteWithLibpng(frame, kind));
    EXPECT_EQ(ProcessAlone(dir_ / name, Source::kFullFrame), expected);
    // After a bright picture of the same size.
    WriteFileReplacing(dir_ / "bright.png", WriteWithLibpng(Grey8(840, 400, 250), PngKind::kRgb));
    ProcessAlone(dir_ / "bright.png", Source::kFullFrame);
    EXPECT_EQ(ProcessAlone(dir_ / name, Source::kFullFrame), expected);
  }
  // A palette with transparency is read as its colours, as the same colours without a palette.
  WriteFileReplacing(dir_ / "tinted.png", WriteWithLibpng(frame, PngKind::kTintedRgb));
  WriteFileReplacing(dir_ / "tinted-trns.png",
                     WriteWithLibpng(frame, PngKind::kTintedPaletteRandomTrns));
  EXPECT_EQ(ProcessAlone(dir_ / "tinted-trns.png", Source::kFullFrame),
            ProcessAlone(dir_ / "tinted.png", Source::kFullFrame));
}

}  // namespace
}  // namespace tessaly
