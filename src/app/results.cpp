// Recognising a saved result by its Software text chunk.
#include "app/results.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <system_error>

namespace tessaly {
namespace {

constexpr std::array<unsigned char, 8> kPngSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// The results' texts come right after IHDR; a file with more chunks than this
// ahead of its image data is not one of them.
constexpr int kMaxChunksBeforeData = 64;

std::uint32_t BigEndian(const unsigned char* b) {
  return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) |
         b[3];
}

}  // namespace

bool IsUpToDate(const std::filesystem::path& target, const std::filesystem::path& input) {
  std::error_code error;
  const auto made = std::filesystem::last_write_time(target, error);
  if (error) return false;
  const auto source = std::filesystem::last_write_time(input, error);
  return !error && made >= source && IsToolResult(target);
}

bool IsToolResult(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::array<unsigned char, 8> signature{};
  if (!in.read(reinterpret_cast<char*>(signature.data()), signature.size()) ||
      signature != kPngSignature) {
    return false;
  }
  const std::string wanted = std::string("Software") + '\0' + kResultSoftware;
  for (int chunk = 0; chunk < kMaxChunksBeforeData; ++chunk) {
    unsigned char head[8];
    if (!in.read(reinterpret_cast<char*>(head), sizeof head)) return false;
    const std::uint32_t length = BigEndian(head);
    const std::string type(reinterpret_cast<const char*>(head + 4), 4);
    if (type == "IDAT" || type == "IEND") return false;
    if (type == "tEXt" && length == wanted.size()) {
      std::string data(length, '\0');
      if (!in.read(data.data(), length)) return false;
      if (data == wanted) return true;
      in.seekg(4, std::ios::cur);  // the CRC
    } else {
      in.seekg(std::streamoff{length} + 4, std::ios::cur);
    }
    if (!in) return false;
  }
  return false;
}

}  // namespace tessaly
