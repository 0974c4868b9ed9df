// Readers of the file-list block (DROPFILES layout) and of the name-map blocks, and a writer of
// file-list blocks; used by the file drop target and by the platform adapters that feed it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// Offset of the name list (32 bits), drop point (2 x 32 bits), non-client flag (32 bits),
// wide-character flag (32 bits); all little-endian.
inline constexpr std::size_t kDropFilesHeaderSize = 20;

// The names of a file-list block, in order. A block too short for its header, an offset past its
// end, or a last name without its terminator yields only the names read whole before that point.
std::vector<std::string> ReadDropFiles(std::span<const std::uint8_t> block);

// Zero-terminated names from `offset` up to the first empty name, 8-bit or 16-bit (`wide`)
// characters; 16-bit names become UTF-8, 8-bit names are taken as they stand. Never reads
// outside the block.
std::vector<std::string> ReadNameList(std::span<const std::uint8_t> block, std::size_t offset,
                                      bool wide);

// A file-list block holding `names` (UTF-8) in 8-bit or 16-bit characters. Empty names are
// skipped, since an empty name ends the list.
std::vector<std::uint8_t> MakeDropFiles(const std::vector<std::string>& names, bool wide);

// UTF-16 to UTF-8 and back; unpaired surrogates and malformed bytes become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace tessaly
