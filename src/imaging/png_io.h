// The PNG file functions the per-file processing and the Save action use, their in-memory
// forms, and the whole-file read they rest on (the safe replace is in base/files.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "base/files.h"
#include "imaging/bitmap.h"
#include "imaging/png_image.h"

namespace tessaly {

// Reads a PNG file into the bitmap, which takes the picture's size, format and pixels: 8 bits
// per pixel for grey (and grey with alpha, whose alpha is dropped) and 8-bit palette pictures,
// 24 for the rest; 16-bit samples are rounded to 8 bits. A grey picture keeps the bitmap's
// palette, so give the bitmap the grey ramp first. On failure (an exception) a bitmap is left
// untouched when the data was not a decodable PNG. Returns true.
bool LoadPNGIntoBitmap(Bitmap& bitmap, const std::filesystem::path& file_name, bool expand_to_rgb);
bool LoadPNGFromMemory(Bitmap& bitmap, std::span<const std::uint8_t> data, bool expand_to_rgb);

// Writes an 8- or 24-bit bitmap as PNG (deflate level 4; row filters none, sub and Paeth) with
// tEXt chunks Author, Description, Software and Title in that order, each left out when blank
// and otherwise written as given. Other formats raise InvalidGraphicOperation "Unsupported bitmap
// format" before any file is touched. The file is replaced only once the PNG is complete, so a
// failed save leaves an existing file as it was and no partial file behind. Returns true.
bool SaveBitmapAsPNG(const Bitmap& bitmap, const std::filesystem::path& file_name,
                     const std::string& author, const std::string& description,
                     const std::string& software, const std::string& title,
                     const PngProgressHandler& on_progress = {});
std::vector<std::uint8_t> EncodeBitmapAsPNG(const Bitmap& bitmap, const std::string& author,
                                            const std::string& description,
                                            const std::string& software, const std::string& title,
                                            const PngProgressHandler& on_progress = {});

// The largest file ReadFileBytes reads: the largest picture the readers take (2^28 pixels of
// 8 bytes, 16-bit RGBA) with 64 MiB to spare for headers, row filters and metadata.
inline constexpr std::uint64_t kMaxReadFileBytes = (std::uint64_t{1} << 31) + (64u << 20);

// The whole file; Error naming the file and the reason when it cannot be read. Only regular
// files of at most kMaxReadFileBytes are read: a pipe, a device, a socket or a folder is
// refused at once, without waiting for data.
std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& file_name);

}  // namespace tessaly
