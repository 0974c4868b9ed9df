// Reading a saved result back for the overviews, and fitting it to a tile or to an animation's
// frame with the resampler the results were made with.
#pragma once

#include <filesystem>
#include <string>

#include "overview/tiles.h"
#include "picture_store/bitmap.h"

namespace tessaly {

// A result as read back: its picture (8 bits a pixel, the grey ramp) when `state` is
// kPresent; otherwise kGone when nothing stands under its name, or kUnreadable with the
// problem in words, naming the file.
struct ResultPicture {
  TileState state = TileState::kPresent;
  Bitmap picture;
  std::string problem;
};
ResultPicture ReadResult(const std::filesystem::path& file);

// Shrinks the picture by area averaging until it fits within width x height, its proportions
// kept; a picture that fits already is left alone.
void ShrinkToFit(Bitmap& picture, int width, int height);

// The picture as a frame of exactly width x height: resampled until it fits (area averaging to
// shrink, cubic to enlarge), its proportions kept, and centred on black. A picture of that size
// already is returned as it is, every grey kept.
Bitmap FittedTo(Bitmap picture, int width, int height);

}  // namespace tessaly
