// The one threshold of doubt in a header reading: the naming judges a reading doubtful below it
// (naming/header_check.h), and the decoder reads again a reading whose bits fall short of it.
#pragma once

namespace tessaly {

// A reading whose confidence, in standard deviations of the noise (the margin of its bits, less
// what its fields cost), is below this is doubtful.
inline constexpr double kDoubtfulBelow = 4.0;

}  // namespace tessaly
