// tessaly-cli --catalog FILE --sheet OUT.png and --animate OUT.gif: the contact sheet and the
// animation of the frames the report filters admit, made from the catalogue's rows and the saved
// results without decoding anything again.
#pragma once

#include <vector>

#include "catalog/catalog.h"
#include "catalog/report.h"
#include "cli/options.h"
#include "cli/reporter.h"
#include "overview/tiles.h"

namespace tessaly::cli {

// The frames the filter admits, by time. A row that left a result gives its tile (doubtful when
// its header was); a failed one a failed tile; a row whose file made no result of its own
// (declined, collided, unchanged: another file or an earlier result stands for it) none.
// It runs the frames report's query and takes each row it names whole (Catalog::Find), so its
// paths are the rows' own; once the reports return rows, the frames report's rows are these.
std::vector<Tile> GatherFrames(Catalog& catalog, const ReportFilter& filter);

// The slots of the filter's series that no frame filled. The gaps report's rows feed this; until
// the report returns them instead of printing them, it gives none.
std::vector<MissingSlot> GatherMissingSlots(Catalog& catalog, const ReportFilter& filter);

// Writes the sheet and the animation the options name; the exit status (1 when nothing matched,
// an output stands and --overwrite was not given, or writing failed; 128 + the signal after an
// interruption, with nothing written).
int RunOverview(const Options& options, Terminal& terminal);

}  // namespace tessaly::cli
