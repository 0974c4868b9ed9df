// How sure a reading of one line of bits is when its bit edges may lie a little off a regular
// grid, as a copy made with nearest-neighbour sampling or a ringing filter leaves them. Used by
// the second look.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "decoder/bit_confidence.h"

namespace tessaly {

// Where each column of a line comes from. A copy made by nearest-neighbour sampling shows
// whole columns of the original, at a scale under 1 one now and then left out, above 1 one now
// and then twice: column c shows the original column that covered [From(c), From(c) + scale)
// on the copy's own scale, its start stepping by whole original columns. The plain map (scale 1) is the identity; a map's
// columns lie, on the mean, where the plain map's do.
struct ColumnMap {
  double scale = 1.0;
  double phase = 0.5;  // where the original's columns begin against the copy's, in [0, scale)
  double From(std::int64_t c) const {
    return scale * std::floor((static_cast<double>(c) + phase) / scale) - phase + 0.5;
  }
};

// The evidence for `bits` (most significant first) read from `line`, a line whose dark level
// is near 0 and bright near 1, on the grid of `period` columns whose first bit starts near
// `start`; only the first `weighed` bits are weighed, the rest take part in the fit.
//
// The model is that of WeighHeaderBits (each column dark + contrast x its share in 1 bits),
// except that every bit edge may lie up to `slack` columns either side of the grid: a column
// near an edge may take any value between the shares the edge's positions give, and only the
// columns no edge reaches measure the noise. A reading set against one a few bits away is
// then told apart only by the columns where the two readings' values cannot meet.
//
// Under `map` each column stands for the original column it shows (see ColumnMap).
BitEvidence WeighLine(const std::vector<float>& line, double start, double period,
                      const std::vector<int>& bits, std::size_t weighed, double slack,
                      const ColumnMap& map = {});

// A column map and the first bit's start, in columns, that explain a line.
struct MapFit {
  ColumnMap map;
  double edge = 0.0;
};

// The column map of a copy by nearest-neighbour sampling at a scale from 0.5 to 2 that,
// with the likeliest bits read through it (ReadThroughMap), explains best a line whose dark
// level is near 0 and bright near 1 and whose `count` bits of `period` columns start near
// `start`. The map is searched on the line's first columns first, then on longer stretches
// around the maps that fit best; the first bit's start may move, by a bit or more where the
// bits read a bit off explain the line as well. Nothing when the line is too short or a bit
// spans fewer columns than an original column does.
std::optional<MapFit> FitColumnMap(const std::vector<float>& line, double start, double period,
                                   std::size_t count);

// The likeliest `count` bits of `period` columns from `edge` through `map`, under the model of
// the cells (each column dark + contrast x the share of its original column in 1 bits, the
// levels fitted to the bits), found by dynamic programming over each bit and the one before it.
std::vector<int> ReadThroughMap(const std::vector<float>& line, double edge, double period,
                                const ColumnMap& map, std::size_t count);

}  // namespace tessaly
