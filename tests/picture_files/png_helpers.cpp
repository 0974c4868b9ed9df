// PNG test helpers: chunk building with zlib, chunk parsing, temporary folders, pngcheck.
#include "png_helpers.h"

#include <sys/wait.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <stdexcept>

#include "base/files.h"
#include "picture_files/png_io.h"
#include "support/manifest.h"

namespace tessaly::test {
namespace {

void Put32(Bytes& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::uint32_t Get32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

void PutChunk(Bytes& out, const PngChunk& chunk) {
  Put32(out, static_cast<std::uint32_t>(chunk.data.size()));
  Bytes body(chunk.type.begin(), chunk.type.end());
  body.insert(body.end(), chunk.data.begin(), chunk.data.end());
  out.insert(out.end(), body.begin(), body.end());
  Put32(out, static_cast<std::uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

}  // namespace

Bytes BuildPng(std::uint32_t width, std::uint32_t height, int bit_depth, int color_type,
               const std::vector<PngChunk>& extra, const std::vector<Bytes>& rows) {
  Bytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes ihdr;
  Put32(ihdr, width);
  Put32(ihdr, height);
  ihdr.insert(ihdr.end(), {static_cast<std::uint8_t>(bit_depth),
                           static_cast<std::uint8_t>(color_type), 0, 0, 0});
  PutChunk(out, {"IHDR", ihdr});
  for (const PngChunk& chunk : extra) PutChunk(out, chunk);
  Bytes raw;
  for (const Bytes& row : rows) {
    raw.push_back(0);  // filter None
    raw.insert(raw.end(), row.begin(), row.end());
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes idat(size);
  if (compress(idat.data(), &size, raw.data(), static_cast<uLong>(raw.size())) != Z_OK) {
    throw std::runtime_error("compress failed");
  }
  idat.resize(size);
  PutChunk(out, {"IDAT", idat});
  PutChunk(out, {"IEND", {}});
  return out;
}

PngChunk TextChunk(std::string_view key, std::string_view text) {
  PngChunk chunk{"tEXt", Bytes(key.begin(), key.end())};
  chunk.data.push_back(0);
  chunk.data.insert(chunk.data.end(), text.begin(), text.end());
  return chunk;
}

std::vector<PngChunk> ParseChunks(std::span<const std::uint8_t> png) {
  std::vector<PngChunk> chunks;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::uint32_t length = Get32(png.data() + at);
    if (length > png.size() - at - 12) throw std::runtime_error("chunk runs past the end");
    PngChunk chunk{std::string(png.begin() + at + 4, png.begin() + at + 8),
                   Bytes(png.begin() + at + 8, png.begin() + at + 8 + length)};
    if (chunk.type == "IDAT" && !chunks.empty() && chunks.back().type == "IDAT") {
      chunks.back().data.insert(chunks.back().data.end(), chunk.data.begin(), chunk.data.end());
    } else {
      chunks.push_back(std::move(chunk));
    }
    at += 12 + length;
  }
  return chunks;
}

Bytes SuiteFile(const std::string& name) {
  return ReadFileBytes(CorpusDir("pngsuite") + "/" + name);
}

TempFolder::TempFolder() {
  std::random_device random;
  path_ = std::filesystem::temp_directory_path() / ("tessaly-png-" + std::to_string(random()));
  std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempFolder::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

int RunPngcheck(const std::filesystem::path& file, std::string* output) {
  const std::string command = "pngcheck -v '" + file.string() + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output->append(buffer);
  const int status = pclose(pipe);
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) == 127) return -1;
  return WEXITSTATUS(status);
}

}  // namespace tessaly::test
