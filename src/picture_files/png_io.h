// The PNG file functions the per-file processing and the Save action use, and their in-memory
// forms.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "picture_files/png_image.h"
#include "picture_store/bitmap.h"

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
// and otherwise written as given; EncodeBitmapAsPNG adds a "Creation Time" text after them
// when one is given. Other formats raise InvalidGraphicOperation "Unsupported bitmap
// format" before any file is touched. The file is replaced only once the PNG is complete, so a
// failed save leaves an existing file as it was and no partial file behind. Returns true.
bool SaveBitmapAsPNG(const Bitmap& bitmap, const std::filesystem::path& file_name,
                     const std::string& author, const std::string& description,
                     const std::string& software, const std::string& title,
                     const PngProgressHandler& on_progress = {});
std::vector<std::uint8_t> EncodeBitmapAsPNG(const Bitmap& bitmap, const std::string& author,
                                            const std::string& description,
                                            const std::string& software, const std::string& title,
                                            const PngProgressHandler& on_progress = {},
                                            const std::string& creation_time = {});

// The Author and Software texts of every picture the tool saves, results and overviews alike.
// The Software text is also how a batch tells the tool's own pictures from its inputs.
inline constexpr const char* kToolAuthor = "Kestrelwood";
inline constexpr const char* kToolSoftware = "Tessaly";

// A picture as the tool saves it (EncodeBitmapAsPNG): the tool's Author and Software, the
// Description given, the name part of `name` as its Title, and a "Creation Time" text when
// `creation_time` is not blank.
std::vector<std::uint8_t> EncodeToolPNG(const Bitmap& bitmap, const std::string& description,
                                        const std::filesystem::path& name,
                                        const std::string& creation_time = {});

}  // namespace tessaly
