// Version data in the layout of a Windows version resource (VS_VERSIONINFO): building it,
// looking values up by path as VerQueryValue does, and finding it inside a file's bytes.
// Used by the version component, its tests and the build-time resource generator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessaly {

inline constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
inline constexpr std::size_t kFixedInfoSize = 52;

// VS_FIXEDFILEINFO without its signature and structure version, which the builder writes.
struct VersionFixedInfo {
  std::uint32_t file_version_ms = 0;
  std::uint32_t file_version_ls = 0;
  std::uint32_t product_version_ms = 0;
  std::uint32_t product_version_ls = 0;
  std::uint32_t file_flags_mask = 0x3F;
  std::uint32_t file_flags = 0;
  std::uint32_t file_os = 0;
  std::uint32_t file_type = 1;  // an application
  std::uint32_t file_subtype = 0;
  std::uint32_t file_date_ms = 0;
  std::uint32_t file_date_ls = 0;
};

// Two 16-bit version parts as one 32-bit half of a version number.
constexpr std::uint32_t VersionWord(std::uint16_t high, std::uint16_t low) {
  return (std::uint32_t{high} << 16) | low;
}

struct VersionTranslation {
  std::uint16_t language = 0;
  std::uint16_t code_page = 0;
};

// Texts are UTF-8; they are stored as UTF-16.
struct VersionStringTable {
  std::string id;  // language and code page as eight hexadecimal digits, e.g. "080904E4"
  std::vector<std::pair<std::string, std::string>> strings;
};

struct VersionResourceContent {
  std::optional<VersionFixedInfo> fixed = VersionFixedInfo{};
  std::vector<VersionStringTable> string_tables;
  // No table at all leaves out the VarFileInfo block; an empty one writes an empty table.
  std::optional<std::vector<VersionTranslation>> translations;
};

// Raises Error when a block would not fit the 16-bit length fields.
std::vector<std::uint8_t> BuildVersionResource(const VersionResourceContent& content);

// A value found by path: its bytes and whether they are text (UTF-16) or binary.
struct VersionValue {
  std::span<const std::uint8_t> bytes;
  bool is_text = false;
};

// Path "\" is the root value, "\A\B" the child blocks named A then B (names compared without
// regard to ASCII case). Nothing when a block is missing or the data is malformed on the way;
// the answer always lies inside `resource`.
std::optional<VersionValue> QueryVersionValue(std::span<const std::uint8_t> resource,
                                              std::string_view path);

// The text of a value (UTF-16 up to its first NUL) as UTF-8.
std::string VersionValueText(std::span<const std::uint8_t> bytes);

// The fixed block, when "\" holds one with the right signature.
std::optional<VersionFixedInfo> ReadFixedInfo(std::span<const std::uint8_t> resource);

// The entries of "\VarFileInfo\Translation" (a partial last entry is dropped).
std::vector<VersionTranslation> ReadTranslations(std::span<const std::uint8_t> resource);

// Offset of the first VS_VERSION_INFO block (its key followed by the fixed block's signature)
// that lies wholly inside `bytes`.
std::optional<std::size_t> FindVersionResource(std::span<const std::uint8_t> bytes);

// The first version resource in a stream or file, read piece by piece; empty when there is
// none or the file cannot be read. `chunkSize` only matters to tests of piece boundaries.
std::vector<std::uint8_t> ReadVersionResource(std::istream& in, std::size_t chunkSize = 1 << 20);
std::vector<std::uint8_t> ReadVersionResource(const std::filesystem::path& file);

}  // namespace tessaly
