// Recognising a saved result by its Software text chunk.
#include "app/results.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "picture_files/png_chunks.h"
#include "picture_files/png_io.h"

namespace tessaly {
namespace {

// The results' texts come right after IHDR; a file with more chunks than this
// ahead of its image data is not one of them.
constexpr int kMaxChunksBeforeData = 64;
// Longer than any text the tool writes (a Title is a file name, at most 255 bytes).
constexpr std::uint32_t kMaxTextLength = 1024;

}  // namespace

bool IsToolResult(const std::filesystem::path& file) {
  std::optional<PngChunkReader> png = PngChunkReader::Open(file);
  return png && HasTextBeforeData(*png, "Software", kToolSoftware, kMaxChunksBeforeData);
}

ResultState CheckResult(const std::filesystem::path& target, const std::filesystem::path& input,
                        const ResultCheck& check) {
  std::error_code error;
  const auto made = std::filesystem::last_write_time(target, error);
  if (error) return ResultState::kNone;
  const auto source = std::filesystem::last_write_time(input, error);
  if (error) return ResultState::kNone;
  std::optional<PngChunkReader> png = PngChunkReader::Open(target);
  if (!png) return ResultState::kNone;
  const auto texts = TextsBeforeData(*png, kMaxChunksBeforeData, kMaxTextLength);
  auto text = [&texts](std::string_view keyword) -> std::optional<std::string> {
    for (const auto& [key, value] : texts) {
      if (key == keyword) return value;
    }
    return std::nullopt;
  };
  if (text("Software") != kToolSoftware) return ResultState::kOther;
  if (made < source) return ResultState::kOlder;
  if (!png->EndsWithEnd()) return ResultState::kDamaged;
  if (text("Title") != target.filename().string()) return ResultState::kForeign;
  if (check.creation_time && text("Creation Time").value_or("") != *check.creation_time) {
    return ResultState::kOtherOptions;
  }
  if (check.verify) {
    std::optional<PngChunkReader> whole = PngChunkReader::Open(target);
    if (!whole || !IsSoundPng(*whole)) return ResultState::kDamaged;
  }
  return ResultState::kUpToDate;
}

bool IsUpToDate(const std::filesystem::path& target, const std::filesystem::path& input) {
  return CheckResult(target, input) == ResultState::kUpToDate;
}

std::string ResultStateWords(ResultState state) {
  switch (state) {
    case ResultState::kDamaged:
      return "its result is damaged";
    case ResultState::kForeign:
      return "its result belongs to another frame";
    case ResultState::kOtherOptions:
      return "its result was saved with another choice of --creation-time";
    default:
      return {};
  }
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
