// How sure a reading of one line of bits is when its bit edges may lie a little off a regular
// grid, as a copy made with nearest-neighbour sampling or a ringing filter leaves them. Used by
// the second look.
#pragma once

#include <cstddef>
#include <vector>

#include "decoder/bit_confidence.h"

namespace tessaly {

// The evidence for `bits` (most significant first) read from `line`, a line whose dark level
// is near 0 and bright near 1, on the grid of `period` columns whose first bit starts near
// `start`; only the first `weighed` bits are weighed, the rest take part in the fit.
//
// The model is that of WeighHeaderBits (each column dark + contrast x its share in 1 bits),
// except that every bit edge may lie up to `slack` columns either side of the grid: a column
// near an edge may take any value between the shares the edge's positions give, and only the
// columns no edge reaches measure the noise. A reading set against one a few bits away is
// then told apart only by the columns where the two readings' values cannot meet.
BitEvidence WeighLine(const std::vector<float>& line, double start, double period,
                      const std::vector<int>& bits, std::size_t weighed, double slack);

}  // namespace tessaly
