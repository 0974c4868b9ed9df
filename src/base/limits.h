// The largest pictures and files the readers and the picture store take, in one place: every
// reader refuses beyond these before it allocates anything large.
#pragma once

#include <bit>
#include <cstdint>
#include <string>

namespace tessaly {

// Received frames are at most a few thousand pixels a side; these leave ample room for them
// while a file claiming more is refused before its picture costs gigabytes.
inline constexpr int kMaxPictureSide = 16384;
inline constexpr std::int64_t kMaxPicturePixels = std::int64_t{1} << 26;  // 64 megapixels

// The largest file ReadFileBytes reads: the largest picture the readers take in its widest
// form (8 bytes a pixel, 16-bit RGBA) with 64 MiB to spare for headers, row filters and metadata.
inline constexpr std::uint64_t kMaxReadFileBytes =
    static_cast<std::uint64_t>(kMaxPicturePixels) * 8 + (64u << 20);

// The limits as the readers' messages state them: "16384 pixels a side, 2^26 pixels in all".
inline std::string PictureLimitsText() {
  return std::to_string(kMaxPictureSide) + " pixels a side, 2^" +
         std::to_string(std::countr_zero(static_cast<std::uint64_t>(kMaxPicturePixels))) +
         " pixels in all";
}

}  // namespace tessaly
