// tessaly-fuzz-seeds: writes the starting corpus of every fuzz target into a folder, from the
// conformance corpora and the synthetic frame generator, so that no corpus is kept in the tree.
//   tessaly-fuzz-seeds OUT_FOLDER CORPORA_FOLDER
// makes OUT_FOLDER/bmp, png, header_name and process.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "framegen/framegen.h"
#include "picture_files/png_io.h"
#include "process_input.h"
#include "support/bmp_writer.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using tessaly::fuzz::ProcessFlags;
namespace framegen = tessaly::framegen;

void Write(const fs::path& file, std::span<const std::uint8_t> bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

Bytes Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Copies the files with the extension from the folders below `root`, named after their folder.
int CopyCorpus(const fs::path& root, const std::string& extension, const fs::path& out) {
  int count = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file() || entry.path().extension() != extension) continue;
    const std::string name =
        entry.path().parent_path().filename().string() + "_" + entry.path().filename().string();
    fs::copy_file(entry.path(), out / name, fs::copy_options::overwrite_existing);
    ++count;
  }
  return count;
}

framegen::FrameRecipe SmallRecipe(framegen::Layout layout, int width, int picture_height) {
  framegen::FrameRecipe recipe;
  recipe.layout = layout;
  recipe.header = framegen::DefaultHeader(layout);
  recipe.width = width;
  recipe.picture_height = picture_height;
  recipe.tone_rows = 8;
  recipe.below_rows = 4;
  return recipe;
}

tessaly::Bitmap SmallFrame(framegen::Layout layout, int width, int picture_height) {
  return framegen::ToBitmap(framegen::MakeFrame(SmallRecipe(layout, width, picture_height)));
}

tessaly::Bitmap Colours(int width, int height) {
  tessaly::Bitmap bitmap;
  bitmap.SetFormat(tessaly::PixelFormat::k24Bit);
  bitmap.SetSize(width, height);
  for (int y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < bitmap.RowBytes(); ++x) {
      bitmap.Row(y)[x] = static_cast<std::uint8_t>(x * 7 + y * 13);
    }
  }
  return bitmap;
}

void BmpSeeds(const fs::path& corpora, const fs::path& out) {
  CopyCorpus(corpora / "bmpsuite", ".bmp", out);
  const tessaly::Bitmap frame = SmallFrame(framegen::Layout::GOES, 240, 30);
  Write(out / "gen_frame.bmp", tessaly::EncodeBmp(frame));
  Write(out / "gen_frame_200.bmp", tessaly::EncodeBmp(frame, {.announced_colours = 200}));
  Write(out / "gen_frame_224.bmp", tessaly::EncodeBmp(frame, {.announced_colours = 224}));
  framegen::FrameRecipe wide = SmallRecipe(framegen::Layout::GOES, 2080, 1);
  wide.top_rows = 1, wide.data_rows = 0, wide.tone_rows = 1, wide.below_rows = 1;
  Write(
      out / "gen_2080_no_size.bmp",
      tessaly::EncodeBmp(framegen::ToBitmap(framegen::MakeFrame(wide)), {.omit_size_image = true}));
  Write(out / "gen_colours.bmp", tessaly::EncodeBmp(Colours(17, 9)));
}

void PngSeeds(const fs::path& corpora, const fs::path& out) {
  CopyCorpus(corpora / "pngsuite", ".png", out);
  const tessaly::Bitmap frame = SmallFrame(framegen::Layout::GMS, 240, 30);
  Write(out / "gen_frame.png", tessaly::EncodeBitmapAsPNG(frame, "a", "d", "s", "t"));
  Write(out / "gen_colours.png", tessaly::EncodeBitmapAsPNG(Colours(17, 9), "", "", "", ""));
}

void HeaderSeeds(const fs::path& out) {
  const std::vector<std::string> headers = {
      framegen::DefaultHeader(framegen::Layout::GOES),
      framegen::DefaultHeader(framegen::Layout::GMS),
      framegen::DefaultHeader(framegen::Layout::Meteosat),
      "MET7    C029912051230D2AB",
      "GOES-I  FD 0101311445    ",
      "MET7    ADM99xx051230D2AB",
      "GMSN    TST-+ab",
      "GOES-K  NH 9912051230CODE",
      "GMSS    VS 9912051230\xA2\xACXY",
      "MET7    C029912051230../x",
      "MET7    C020002291230X",
      "",
  };
  for (std::size_t i = 0; i < headers.size(); ++i) {
    Bytes seed{static_cast<std::uint8_t>(i)};  // also picks the input name
    seed.insert(seed.end(), headers[i].begin(), headers[i].end());
    Write(out / ("gen_header_" + std::to_string(i)), seed);
  }
}

void ProcessSeeds(const fs::path& corpora, const fs::path& out) {
  using tessaly::fuzz::EncodeFrameInput;
  int n = 0;
  const auto put = [&](const Bytes& seed) { Write(out / ("gen_" + std::to_string(n++)), seed); };
  for (auto layout : {framegen::Layout::GOES, framegen::Layout::GMS, framegen::Layout::Meteosat}) {
    framegen::FrameRecipe recipe = SmallRecipe(layout, 840, 200);
    for (int source = 0; source < 2; ++source) {
      put(EncodeFrameInput({.source_id = source, .as_png = source == 1}, recipe));
    }
    recipe.noise = 6;
    put(EncodeFrameInput({.bmp_variant = 1}, recipe));
  }
  put(EncodeFrameInput({}, SmallRecipe(framegen::Layout::GOES, 300, 60)));
  put(EncodeFrameInput({.bmp_variant = 3}, SmallRecipe(framegen::Layout::GOES, 2080, 40)));
  Bytes ramp(256);
  for (int i = 0; i < 256; ++i) ramp[i] = static_cast<std::uint8_t>(i);
  put(tessaly::fuzz::EncodeRawInput({}, 16, 16, ramp));
  put(tessaly::fuzz::EncodeRawInput({.source_id = 1}, 1, 2, ramp));
  put(tessaly::fuzz::EncodeRawInput({.as_png = true}, 900, 3, ramp));
  for (const char* name :
       {"bmpsuite/g/rgb24.bmp", "bmpsuite/g/pal4.bmp", "bmpsuite/g/pal8rle.bmp"}) {
    put(tessaly::fuzz::EncodeFileInput({}, Read(corpora / name)));
  }
  for (const char* name : {"pngsuite/basn0g16.png", "pngsuite/basn3p02.png",
                           "pngsuite/basn6a16.png", "pngsuite/basi0g01.png"}) {
    put(tessaly::fuzz::EncodeFileInput({.as_png = true}, Read(corpora / name)));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s OUT_FOLDER CORPORA_FOLDER\n", argv[0]);
    return 2;
  }
  try {
    const fs::path out = argv[1];
    const fs::path corpora = argv[2];
    for (const char* target : {"bmp", "png", "header_name", "process"}) {
      fs::create_directories(out / target);
    }
    BmpSeeds(corpora, out / "bmp");
    PngSeeds(corpora, out / "png");
    HeaderSeeds(out / "header_name");
    ProcessSeeds(corpora, out / "process");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
    return 1;
  }
  return 0;
}
