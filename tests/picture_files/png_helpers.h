// PNG test helpers: chunk-level PNG building and parsing (independent of the codec under test),
// suite file access, temporary folders and the pngcheck run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly::test {

using Bytes = std::vector<std::uint8_t>;

struct PngChunk {
  std::string type;
  Bytes data;
};

// A minimal PNG: IHDR, the extra chunks, one IDAT of the rows (each given unfiltered, packed,
// without its filter byte) and IEND. Sizes are written as given, valid or not.
Bytes BuildPng(std::uint32_t width, std::uint32_t height, int bit_depth, int color_type,
               const std::vector<PngChunk>& extra, const std::vector<Bytes>& rows);
PngChunk TextChunk(std::string_view key, std::string_view text);

// The chunks of a PNG file in order; consecutive IDAT chunks are joined into one.
std::vector<PngChunk> ParseChunks(std::span<const std::uint8_t> png);

Bytes SuiteFile(const std::string& name);

// A fresh empty folder, removed with everything in it at destruction.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::vector<std::string> Names() const;  // file names in it, sorted

 private:
  std::filesystem::path path_;
};

// Exit status of `pngcheck -v file` with its output; -1 when pngcheck cannot be run.
int RunPngcheck(const std::filesystem::path& file, std::string* output);

}  // namespace tessaly::test
