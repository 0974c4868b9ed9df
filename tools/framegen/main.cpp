// tessaly-framegen: writes a synthetic WEFAX frame as a binary PGM picture and prints what a
// decoder should find in it.
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include <CLI/CLI.hpp>

#include "base/errors.h"
#include "framegen/framegen.h"

namespace {

using tessaly::framegen::Content;
using tessaly::framegen::Frame;
using tessaly::framegen::FrameSpec;
using tessaly::framegen::Layout;

void WritePgm(const Frame& frame, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "P5\n" << frame.width << ' ' << frame.height << "\n255\n";
  out.write(reinterpret_cast<const char*>(frame.pixels.data()),
            static_cast<std::streamsize>(frame.pixels.size()));
  out.close();
  if (!out) throw tessaly::Error("Cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Writes a synthetic WEFAX frame as a binary PGM (P5) picture."};
  FrameSpec spec;
  std::string output;
  int height = 0;
  const std::map<std::string, Layout> layouts{
      {"goes", Layout::GOES}, {"gms", Layout::GMS}, {"meteosat", Layout::Meteosat}};
  const std::map<std::string, Content> contents{
      {"disc", Content::Disc}, {"gradient", Content::Gradient}, {"flat", Content::Flat}};
  app.add_option("-o,--output", output, "PGM file to write")->required();
  app.add_option("--layout", spec.layout, "goes, gms or meteosat")
      ->transform(CLI::CheckedTransformer(layouts, CLI::ignore_case));
  app.add_option("--width", spec.width, "row width in pixels")->capture_default_str();
  app.add_option("--height", height,
                 "total frame height; the picture takes the rows left (overrides "
                 "--picture-height)");
  app.add_option("--header", spec.header, "header text sent in the data rows");
  app.add_option("--picture-height", spec.pictureHeight, "picture rows")->capture_default_str();
  app.add_option("--top-rows", spec.topRows, "rows of the header band (1-26)")
      ->capture_default_str();
  app.add_option("--data-rows", spec.dataRows, "data rows (0-4; Meteosat: 2)")
      ->capture_default_str();
  app.add_option("--tone-rows", spec.toneRows, "450 Hz stop-tone rows")->capture_default_str();
  app.add_option("--below-rows", spec.belowRows, "rows after the stop tone")->capture_default_str();
  app.add_option("--start-column", spec.startColumn, "first column of bits and picture");
  app.add_option("--content", spec.content, "disc, gradient or flat")
      ->transform(CLI::CheckedTransformer(contents, CLI::ignore_case));
  app.add_option("--noise", spec.noise, "noise standard deviation in grey levels");
  app.add_option("--seed", spec.seed, "seed of noise and clouds")->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  try {
    if (app.count("--header") == 0) spec.header = tessaly::framegen::DefaultHeader(spec.layout);
    if (height > 0) {
      spec.pictureHeight = 0;
      spec.pictureHeight = height - tessaly::framegen::FrameHeight(spec);
    }
    const Frame frame = tessaly::framegen::MakeFrame(spec);
    WritePgm(frame, output);
    std::cout << "frame " << frame.width << " x " << frame.height << "\n"
              << "start column " << frame.startColumn << "\n"
              << "first picture row " << frame.firstPictureRow << "\n"
              << "picture " << frame.picture.x << ',' << frame.picture.y << ' '
              << frame.picture.width << " x " << frame.picture.height << "\n"
              << "header \"" << frame.header << "\"\n";
  } catch (const std::exception& error) {
    std::cerr << "tessaly-framegen: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
