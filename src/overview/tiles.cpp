// The tiles' order and the words the overviews use for them.
#include "overview/tiles.h"

#include <algorithm>
#include <cctype>
#include <tuple>

#include "base/errors.h"
#include "base/text.h"

namespace tessaly {
namespace {

// "YYYY-MM-DDTHH:MMZ": the only form the catalogue writes, and the one the day and clock are
// cut from.
bool IsCatalogueTime(std::string_view t) {
  constexpr std::string_view kShape = "dddd-dd-ddTdd:ddZ";
  if (t.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < t.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(t[i])) != 0;
    if (kShape[i] == 'd' ? !digit : t[i] != kShape[i]) return false;
  }
  return true;
}

void CheckTime(const std::string& time) {
  if (!IsCatalogueTime(time)) {
    throw Error("The time \"" + EscapeControls(time) + "\" is not of the form YYYY-MM-DDTHH:MMZ");
  }
}

}  // namespace

std::vector<Tile> MergedTiles(std::span<const Tile> frames, std::span<const MissingSlot> missing) {
  std::vector<Tile> tiles(frames.begin(), frames.end());
  for (const MissingSlot& slot : missing) {
    tiles.push_back({slot.time, slot.satellite, slot.code, TileState::kMissing, {}});
  }
  for (const Tile& tile : tiles) CheckTime(tile.time);
  // The time's text sorts as the time does; the day leads so that a sheet of several days
  // shows each day's series together.
  std::stable_sort(tiles.begin(), tiles.end(), [](const Tile& a, const Tile& b) {
    return std::tuple(DayOf(a), a.satellite, a.code, a.time) <
           std::tuple(DayOf(b), b.satellite, b.code, b.time);
  });
  return tiles;
}

std::string_view DayOf(const Tile& tile) {
  return std::string_view(tile.time).substr(0, 10);
}

std::string_view ClockOf(const Tile& tile) {
  return std::string_view(tile.time).substr(11, 5);
}

std::string SeriesName(std::string_view satellite, std::string_view code) {
  if (satellite.empty() || satellite == code) return std::string(code);
  return std::string(satellite) + " " + std::string(code);
}

std::string SeriesWords(std::span<const Tile> tiles) {
  std::vector<std::string> names;
  for (const Tile& tile : tiles) names.push_back(SeriesName(tile.satellite, tile.code));
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  std::string words;
  for (const std::string& name : names) words += (words.empty() ? "" : ", ") + name;
  return words;
}

std::string DayWords(std::span<const Tile> tiles) {
  if (tiles.empty()) return {};
  const auto [first, last] = std::minmax_element(
      tiles.begin(), tiles.end(), [](const Tile& a, const Tile& b) { return a.time < b.time; });
  if (DayOf(*first) == DayOf(*last)) return std::string(DayOf(*first));
  return std::string(DayOf(*first)) + " to " + std::string(DayOf(*last));
}

std::string Counted(std::size_t count, std::string_view singular, std::string_view plural) {
  return std::to_string(count) + " " + std::string(count == 1 ? singular : plural);
}

}  // namespace tessaly
