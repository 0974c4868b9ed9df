// The tiles of the contact sheet and the animation gathered from the archive catalogue: its
// frames the report filters admit and the slots its gaps report finds missing. Used by both
// front ends: tessaly-cli's --sheet and --animate, and the window's day's contact sheet.
#pragma once

#include <vector>

#include "catalog/catalog.h"
#include "catalog/report.h"
#include "overview/tiles.h"

namespace tessaly {

// The frames the filter admits, by time. A row that left a result gives its tile (doubtful when
// its header was); a failed one a failed tile; a row whose file made no result of its own
// (declined, collided, unchanged: another file or an earlier result stands for it) none.
// It runs the frames report's query and takes each row it names whole (Catalog::Find), so its
// paths are the rows' own.
std::vector<Tile> GatherFrames(Catalog& catalog, const ReportFilter& filter);

// The slots of the filter's series that no frame filled, on the days with some reception of
// that series.
std::vector<MissingSlot> GatherMissingSlots(Catalog& catalog, const ReportFilter& filter);

}  // namespace tessaly
