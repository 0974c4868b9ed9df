// A read-only, seekable view of a file's bytes in memory: the stream the
// repairing BMP loader reads from (its rules depend on the stream position).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace tessaly {

class ByteStream {
 public:
  explicit ByteStream(std::span<const std::uint8_t> data, std::size_t position = 0)
      : data_(data), position_(std::min(position, data.size())) {}

  std::size_t Size() const { return data_.size(); }
  std::size_t Position() const { return position_; }
  // Seeking past the end stops at the end, as a file stream's reads would.
  void Seek(std::size_t position) { position_ = std::min(position, data_.size()); }

  // Copies up to count bytes and returns how many there were.
  std::size_t Read(void* buffer, std::size_t count) {
    const std::size_t n = std::min(count, data_.size() - position_);
    if (n > 0) std::memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    return n;
  }

  std::span<const std::uint8_t> All() const { return data_; }
  std::span<const std::uint8_t> Remaining() const { return data_.subspan(position_); }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t position_;
};

}  // namespace tessaly
