// The per-row filter choice of the PNG encoder, made before libpng sees the row.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly {

// The filter for `row` (`bytes` long, `bpp` bytes a pixel) among `filters` (libpng's
// PNG_FILTER_* flags), by libpng's own rule: the smallest sum of the filtered bytes read as
// signed distances from zero, ties going to the earlier of none, sub, up, average and Paeth.
// `previous` is the row above, unfiltered. Returns one flag.
//
// libpng makes the same choice, but tries every filter byte by byte; this makes it in a
// fraction of the time, so the encoder can hand libpng the one filter each row takes.
int ChooseRowFilter(const std::uint8_t* row, const std::uint8_t* previous, std::size_t bytes,
                    std::size_t bpp, int filters);

}  // namespace tessaly
