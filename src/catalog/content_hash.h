// Content hashes and file stamps: what the catalogue compares to tell that a file is the one
// it recorded, without decoding it again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>

namespace tessaly {

// The XXH3 128-bit hash of the bytes as 32 lowercase hex digits, most significant first (as
// `xxh128sum` prints it).
std::string HashBytes(std::span<const std::uint8_t> bytes);

// HashBytes of the file's content, read in pieces through one small buffer. Error naming the
// file when it cannot be read, or when `stopped` (asked between pieces) turns true.
std::string HashFile(const std::filesystem::path& file, const std::function<bool()>& stopped = {});

// What a file's inode says of its content: its size and last change, the change as ISO 8601
// UTC to the nanosecond ("2001-03-11T13:00:05.123456789Z").
struct FileStamp {
  std::int64_t size = 0;
  std::string mtime;
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// The stamp of the file (a link is followed). Error naming the file when it cannot be examined.
FileStamp StampOf(const std::filesystem::path& file);

}  // namespace tessaly
