// The running program's own version resource, generated at build time from the project
// version and linked in through tessaly_version_resource. Used by the window's title.
#pragma once

#include <cstdint>
#include <span>

namespace tessaly {

std::span<const std::uint8_t> EmbeddedVersionResource();

}  // namespace tessaly
