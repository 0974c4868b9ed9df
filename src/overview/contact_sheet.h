// The contact sheet of a day's frames: their results as thumbnails in time order, a band for
// each day, satellite and code, with the missing slots, gone results and doubtful or failed
// frames as marked tiles; saved as the results are, an 8-bit grey PNG with the tool's texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "overview/tiles.h"
#include "picture_store/bitmap.h"

namespace tessaly {

// Each tile is a box of this side holding the result shrunk to fit (at the box's top-left
// corner), with a caption line under it.
inline constexpr int kThumbnailSide = 136;

// Where LayOutSheet puts each tile's box: `tile` indexes the tiles it was given.
struct TileBox {
  std::size_t tile = 0;
  int x = 0;
  int y = 0;
};

struct SheetLayout {
  int width = 0;
  int height = 0;
  std::vector<TileBox> boxes;
};

// The grid of the tiles, which MergedTiles ordered. Each day, satellite and code has a band of
// its own, headed by its name. A band's rows each cover the same whole hours of the day, as many
// as hold about twelve slots at the band's commonest spacing (three hours for a frame every 15
// minutes, twelve for one an hour), and each tile stands in the column of its slot, so a slot
// without a tile leaves its place empty and the columns keep to the clock. Hours with no tile
// at all take no row.
SheetLayout LayOutSheet(std::span<const Tile> tiles);

struct ContactSheet {
  Bitmap picture;                 // the sheet as drawn: 8-bit, grey palette
  std::vector<std::uint8_t> png;  // it encoded with the tool's texts; MakeContactSheet only
  int width = 0;
  int height = 0;
  // The tiles by what they show; frames counts every tile but the missing ones.
  std::size_t frames = 0, missing = 0, gone = 0, doubtful = 0, failed = 0, unreadable = 0;
  std::string title;        // drawn at its top: the series and the days ("GOES8 C1 2001-03-11")
  std::string description;  // its Description text: what the sheet shows, in one sentence
  std::vector<std::string> problems;  // why each unreadable result could not be read
};

// The sheet of the frames and the missing slots beside them, drawn in memory (the window shows
// it as it is). Results that cannot be read become tiles saying so rather than failing the
// sheet. Error when there is no tile, or when the sheet would be larger than a picture may be.
ContactSheet DrawContactSheet(std::span<const Tile> frames, std::span<const MissingSlot> missing,
                              const OverviewProgress& progress = {});

// The sheet drawn and encoded as a PNG file's bytes, its Title text the name part of `name`.
ContactSheet MakeContactSheet(std::span<const Tile> frames, std::span<const MissingSlot> missing,
                              const std::filesystem::path& name,
                              const OverviewProgress& progress = {});

}  // namespace tessaly
