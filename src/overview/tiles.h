// The plain data the contact sheet and the animation are made from: each catalogued frame as a
// tile (its time, satellite, code, state and result), the missing slots beside them, and the
// order and words both overviews share.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

enum class TileState {
  kPresent,     // the result stands and is shown
  kMissing,     // a slot of the series with no frame
  kGone,        // the catalogue names a result that is no longer there
  kDoubtful,    // a result named from a header read too weakly to trust
  kFailed,      // the frame was received but no result was made of it
  kUnreadable,  // a result stands under its name but cannot be read as a picture
};

struct Tile {
  std::string time;  // "YYYY-MM-DDTHH:MMZ", UTC, as the catalogue keeps it
  std::string satellite;
  std::string code;
  TileState state = TileState::kPresent;
  std::filesystem::path result;  // the saved picture; empty when there is none
};

// A slot of a series that no frame filled, as the gaps report finds them.
struct MissingSlot {
  std::string time;  // as Tile::time
  std::string satellite;
  std::string code;
};

// Called before each result is read, with the tiles read so far, how many there are to read
// and the next one's path. It may throw to stop the work (an interrupt, say): the exception is
// passed on, and nothing more is written.
using OverviewProgress =
    std::function<void(std::size_t done, std::size_t total, const std::filesystem::path& next)>;

// Frames and missing slots as one list of tiles, by day, satellite, code and time. Error when a
// time is not of the catalogue's form.
std::vector<Tile> MergedTiles(std::span<const Tile> frames, std::span<const MissingSlot> missing);

// The day ("YYYY-MM-DD") and the clock ("HH:MM") of a tile's time.
std::string_view DayOf(const Tile& tile);
std::string_view ClockOf(const Tile& tile);

// A series as people name it: "GOES8 C1", or the code alone when the satellite is blank or is
// the code (the catalogue gives a blank code the satellite's name).
std::string SeriesName(std::string_view satellite, std::string_view code);

// The distinct values, in order, joined with ", " ("GOES8 C1, GOES8 C2"); a run of days as
// "2001-03-11 to 2001-03-13".
std::string SeriesWords(std::span<const Tile> tiles);
std::string DayWords(std::span<const Tile> tiles);

// Whether the tile has a result to read.
inline bool HasResult(const Tile& tile) {
  return tile.state == TileState::kPresent || tile.state == TileState::kDoubtful;
}

// "1 frame", "2 frames": a count with its noun.
std::string Counted(std::size_t count, std::string_view singular, std::string_view plural);

}  // namespace tessaly
