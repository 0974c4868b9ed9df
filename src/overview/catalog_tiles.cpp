// The catalogue's rows and missing slots as the tiles the overviews draw.
#include "overview/catalog_tiles.h"

#include <cstdio>
#include <optional>
#include <string>

namespace tessaly {
namespace {

std::optional<Tile> TileOf(const FrameRow& row) {
  Tile tile{*row.time, row.satellite.value_or(""), row.code.value_or(""), TileState::kPresent, {}};
  if (row.outcome == kOutcomeFailed) {
    tile.state = TileState::kFailed;
    return tile;
  }
  if (!row.output) return std::nullopt;
  tile.result = *row.output;
  if (row.header_doubtful.value_or(false)) tile.state = TileState::kDoubtful;
  return tile;
}

}  // namespace

std::vector<Tile> GatherFrames(Catalog& catalog, const ReportFilter& filter) {
  // The frames report gives the frames the filter admits, by time; each row is read whole for
  // its outcome, result and doubt.
  std::vector<std::string> sources;
  FramesReport(catalog, filter,
               [&sources](const FrameLine& line) { sources.push_back(line.source); });
  std::vector<Tile> tiles;
  for (const std::string& source : sources) {
    const std::optional<FrameRow> row = catalog.Find(source);
    if (!row || !row->time) continue;
    if (std::optional<Tile> tile = TileOf(*row)) tiles.push_back(std::move(*tile));
  }
  return tiles;
}

std::vector<MissingSlot> GatherMissingSlots(Catalog& catalog, const ReportFilter& filter) {
  // The slots the gaps report finds missing on days with some reception; a day without any
  // frame of a series has no place on a sheet of the days that have.
  std::vector<MissingSlot> slots;
  for (const SeriesGaps& series : GapsReport(catalog, filter)) {
    for (const Gap& gap : series.gaps) {
      for (const long minute : gap.missing) {
        char clock[8];
        std::snprintf(clock, sizeof clock, "%02ld:%02ld", minute / 60 % 24, minute % 60);
        slots.push_back({gap.first_day + "T" + clock + "Z", series.satellite, series.code});
      }
    }
  }
  return slots;
}

}  // namespace tessaly
