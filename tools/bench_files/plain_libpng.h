// Plain libpng decode and encode of 8-bit grey pictures through stdio, with the settings the
// project saves with; bench_files times them beside the project's own PNG functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaly::bench {

struct GreyPicture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;  // row after row
};

// Both throw std::runtime_error with libpng's message on failure.
GreyPicture PlainDecode(const std::string& path);
void PlainEncode(const GreyPicture& picture, const std::string& path, int level, int filters);

}  // namespace tessaly::bench
