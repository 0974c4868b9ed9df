// tessaly-cli --catalog FILE --sheet OUT.png and --animate OUT.gif: the contact sheet and the
// animation of the frames the report filters admit, made from the catalogue's rows and the saved
// results without decoding anything again.
#pragma once

#include "cli/options.h"
#include "cli/reporter.h"

namespace tessaly::cli {

// Writes the sheet and the animation the options name; the exit status (1 when nothing matched,
// an output stands and --overwrite was not given, or writing failed; 128 + the signal after an
// interruption, with nothing written).
int RunOverview(const Options& options, Terminal& terminal);

}  // namespace tessaly::cli
