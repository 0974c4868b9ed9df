// A JPEG round trip of 8-bit grey pixels, as a frame suffers when it was passed on as a JPEG
// copy. Used by the frame generator.
#pragma once

#include <cstdint>
#include <vector>

namespace tessaly::framegen {

// The pixels (width x height, row after row) compressed as a baseline grey JPEG of `quality`
// (1-100) and decompressed again. Throws Error when the library fails.
std::vector<std::uint8_t> JpegRoundTrip(const std::vector<std::uint8_t>& pixels, int width,
                                        int height, int quality);

}  // namespace tessaly::framegen
