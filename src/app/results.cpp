// Recognising a saved result by its Software text chunk.
#include "app/results.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "picture_files/png_chunks.h"
#include "picture_files/png_io.h"

namespace tessaly {
namespace {

// The results' texts come right after IHDR; a file with more chunks than this
// ahead of its image data is not one of them.
constexpr int kMaxChunksBeforeData = 64;

}  // namespace

bool IsToolResult(const std::filesystem::path& file) {
  std::optional<PngChunkReader> png = PngChunkReader::Open(file);
  return png && HasTextBeforeData(*png, "Software", kToolSoftware, kMaxChunksBeforeData);
}

bool IsUpToDate(const std::filesystem::path& target, const std::filesystem::path& input) {
  std::error_code error;
  const auto made = std::filesystem::last_write_time(target, error);
  if (error) return false;
  const auto source = std::filesystem::last_write_time(input, error);
  return !error && made >= source && IsToolResult(target);
}

void WrittenFiles::Add(const std::filesystem::path& file) {
  if (const std::optional<FileId> id = IdOf(file)) ids_.insert(*id);
}

bool WrittenFiles::Holds(const std::filesystem::path& file) const {
  if (ids_.empty()) return false;
  const std::optional<FileId> id = IdOf(file);
  return id && ids_.count(*id) != 0;
}

}  // namespace tessaly
