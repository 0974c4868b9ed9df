// tessaly-framegen: writes a synthetic WEFAX frame as a BMP, PNG or binary PGM picture and prints
// what a decoder should find in it.
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include <CLI/CLI.hpp>

#include "base/errors.h"
#include "base/files.h"
#include "framegen/framegen.h"
#include "picture_files/png_io.h"
#include "support/bmp_writer.h"

namespace {

using tessaly::framegen::Content;
using tessaly::framegen::Frame;
using tessaly::framegen::FrameRecipe;
using tessaly::framegen::Layout;

void WritePgm(const Frame& frame, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "P5\n" << frame.width << ' ' << frame.height << "\n255\n";
  out.write(reinterpret_cast<const char*>(frame.pixels.data()),
            static_cast<std::streamsize>(frame.pixels.size()));
  out.close();
  if (!out) throw tessaly::Error("Cannot write " + path);
}

std::string LowerExtension(const std::string& path) {
  const std::size_t dot = path.find_last_of('.');
  std::string ext = dot == std::string::npos ? "" : path.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

// Writes by the output's extension: .bmp, .png, anything else a binary PGM.
void WriteFrame(const Frame& frame, const std::string& path, std::uint32_t announced_colours) {
  const std::string ext = LowerExtension(path);
  if (ext == ".bmp") {
    const auto bytes = tessaly::EncodeBmp(tessaly::framegen::ToBitmap(frame),
                                          {.announced_colours = announced_colours});
    tessaly::WriteFileReplacing(path, bytes);
  } else if (ext == ".png") {
    tessaly::SaveBitmapAsPNG(tessaly::framegen::ToBitmap(frame), path, "", "", "", "");
  } else {
    WritePgm(frame, path);
  }
}

// The frame of the recipe, or only its data lines and what follows them.
Frame MakeOne(const FrameRecipe& recipe, bool data_lines_only) {
  Frame frame = tessaly::framegen::MakeFrame(recipe);
  return data_lines_only ? tessaly::framegen::DataLinesSource(frame, recipe) : frame;
}

// Many frames in one process (a benchmark's thousands would otherwise pay a start-up each):
// each line of the list is OUTPUT, HEADER and SEED parted by tabs. Returns how many.
int WriteListed(FrameRecipe recipe, const std::string& list, bool data_lines_only,
                std::uint32_t announced_colours) {
  std::ifstream in(list);
  if (!in) throw tessaly::Error("Cannot read " + list);
  int written = 0;
  for (std::string line; std::getline(in, line);) {
    const std::size_t a = line.find('\t');
    const std::size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
    if (b == std::string::npos) {
      throw tessaly::Error(list + ": not OUTPUT<tab>HEADER<tab>SEED: " + line);
    }
    recipe.header = line.substr(a + 1, b - a - 1);
    recipe.seed = std::stoull(line.substr(b + 1));
    WriteFrame(MakeOne(recipe, data_lines_only), line.substr(0, a), announced_colours);
    ++written;
  }
  return written;
}

// The damage of reception and copies (framegen/impairments.h).
void AddImpairmentOptions(CLI::App& app, tessaly::framegen::Impairment& im) {
  using tessaly::framegen::Resampler;
  const std::map<std::string, Resampler> resamplers{{"nearest", Resampler::kNearest},
                                                    {"bicubic", Resampler::kBicubic},
                                                    {"lanczos", Resampler::kLanczos}};
  app.add_option("--phasing", im.rotation, "turn every row right by this share of its width");
  app.add_option("--slant", im.slant, "pixels each row starts later than the one above");
  app.add_option("--fading", im.fading, "depth (0-1) of a slow fade of the signal");
  app.add_flag("--negative", im.negative, "reverse the polarity");
  app.add_option("--crash-row", im.crash_row,
                 "data row (from 1) whose data-row window a burst of static hides");
  app.add_option("--dropout-row", im.dropout_row, "data row (from 1) with a dark stretch");
  app.add_option("--dropout-first", im.dropout_first, "first header character (from 0) it hides");
  app.add_option("--dropout-length", im.dropout_length, "header characters it hides");
  app.add_option("--dropout-shift", im.dropout_shift, "bits it begins after its first character");
  app.add_option("--noisy-rows", im.noisy_rows, "data rows, chosen at random, with extra noise");
  app.add_option("--row-noise", im.row_noise, "that noise's standard deviation, grey levels");
  app.add_option("--streaks", im.streaks, "streaks of static or dropout over the top rows");
  app.add_option("--salt-and-pepper", im.salt_and_pepper, "share of pixels set to 0 or 255");
  app.add_option("--gamma", im.gamma, "grey g becomes 255 (g / 255)^gamma");
  app.add_option("--levels", im.levels, "grey levels left (2-255)");
  app.add_option("--scale", im.scale, "store the frame at this scale (0.25-4)");
  app.add_option("--resampler", im.resampler, "nearest, bicubic or lanczos")
      ->transform(CLI::CheckedTransformer(resamplers, CLI::ignore_case));
  app.add_option("--crop-left", im.crop_left, "columns cut off the left edge");
  app.add_option("--crop-top", im.crop_top, "rows cut off the top");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Writes a synthetic WEFAX frame as a BMP, PNG or binary PGM (P5) picture."};
  FrameRecipe recipe;
  std::string output;
  int height = 0;
  const std::map<std::string, Layout> layouts{
      {"goes", Layout::GOES}, {"gms", Layout::GMS}, {"meteosat", Layout::Meteosat}};
  const std::map<std::string, Content> contents{
      {"disc", Content::Disc}, {"gradient", Content::Gradient}, {"flat", Content::Flat}};
  std::uint32_t announced_colours = 0;
  bool data_lines_only = false;
  std::string list;
  auto* one =
      app.add_option("-o,--output", output, "file to write: .bmp, .png, or a binary PGM otherwise");
  auto* many = app.add_option("--list", list,
                              "instead of -o: write a frame for each line of LIST, "
                              "\"OUTPUT<tab>HEADER<tab>SEED\", the other options alike");
  one->excludes(many);
  app.add_option("--announce-colours", announced_colours,
                 "BMP only: announce this many colours (200 or 224) over the full 256-entry table");
  app.add_flag(
      "--data-lines-only", data_lines_only,
      "write only the data lines and what follows them (840-wide frames, start column 27)");
  app.add_option("--layout", recipe.layout, "goes, gms or meteosat")
      ->transform(CLI::CheckedTransformer(layouts, CLI::ignore_case));
  app.add_option("--width", recipe.width, "row width in pixels")->capture_default_str();
  app.add_option("--height", height,
                 "total frame height; the picture takes the rows left (overrides "
                 "--picture-height)");
  app.add_option("--header", recipe.header, "header text sent in the data rows");
  app.add_option("--picture-height", recipe.picture_height, "picture rows")->capture_default_str();
  app.add_option("--top-rows", recipe.top_rows, "rows of the header band (1-26)")
      ->capture_default_str();
  app.add_option("--data-rows", recipe.data_rows, "data rows (0-4; Meteosat: 2)")
      ->capture_default_str();
  app.add_option("--tone-rows", recipe.tone_rows, "450 Hz stop-tone rows")->capture_default_str();
  app.add_option("--below-rows", recipe.below_rows, "rows after the stop tone")
      ->capture_default_str();
  app.add_option("--start-column", recipe.start_column, "first column of bits and picture");
  app.add_option("--content", recipe.content, "disc, gradient or flat")
      ->transform(CLI::CheckedTransformer(contents, CLI::ignore_case));
  app.add_option("--noise", recipe.noise, "noise standard deviation in grey levels");
  app.add_option("--seed", recipe.seed, "seed of noise and clouds")->capture_default_str();
  app.add_option("--black", recipe.black, "grey level of black")->capture_default_str();
  app.add_option("--white", recipe.white, "grey level of white")->capture_default_str();
  app.add_option("--bit-offset", recipe.bit_offset,
                 "start the header bits this many bit periods after the start column");
  app.add_option("--blur", recipe.blur, "Gaussian blur before the noise, sigma in pixels");
  app.add_option("--jpeg-quality", recipe.jpeg_quality,
                 "pass the frame through a JPEG of this quality (1-100)");
  AddImpairmentOptions(app, recipe.impairment);
  CLI11_PARSE(app, argc, argv);

  if (output.empty() && list.empty()) {
    std::cerr << "tessaly-framegen: give -o FILE or --list LIST\n";
    return 2;
  }
  try {
    if (app.count("--header") == 0) recipe.header = tessaly::framegen::DefaultHeader(recipe.layout);
    if (height > 0) {
      recipe.picture_height = 0;
      recipe.picture_height = height - tessaly::framegen::FrameHeight(recipe);
    }
    if (!list.empty()) {
      std::cout << WriteListed(recipe, list, data_lines_only, announced_colours)
                << " frames written\n";
      return 0;
    }
    const Frame frame = MakeOne(recipe, data_lines_only);
    WriteFrame(frame, output, announced_colours);
    std::cout << "frame " << frame.width << " x " << frame.height << "\n"
              << "start column " << frame.start_column << "\n"
              << "first picture row " << frame.first_picture_row << "\n"
              << "picture " << frame.picture.x << ',' << frame.picture.y << ' '
              << frame.picture.width << " x " << frame.picture.height << "\n"
              << "header \"" << frame.header << "\"\n";
  } catch (const std::exception& error) {
    std::cerr << "tessaly-framegen: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
