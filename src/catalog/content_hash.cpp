// Content hashes over xxHash's XXH3-128, and file stamps from stat.
#include "catalog/content_hash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "base/errors.h"

namespace tessaly {
namespace {

// Large enough that the reads cost little beside the hashing, small enough for a worker's stack.
constexpr std::size_t kReadPiece = 64 * 1024;

std::string Hex(const XXH128_hash_t& hash) {
  XXH128_canonical_t canonical;
  XXH128_canonicalFromHash(&canonical, hash);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(2 * sizeof canonical.digest, '0');
  for (std::size_t i = 0; i < sizeof canonical.digest; ++i) {
    text[2 * i] = kDigits[canonical.digest[i] >> 4];
    text[2 * i + 1] = kDigits[canonical.digest[i] & 0xF];
  }
  return text;
}

[[noreturn]] void Fail(const std::filesystem::path& file, const char* doing, int error) {
  throw Error("Cannot " + std::string(doing) + " \"" + file.string() +
              "\": " + std::strerror(error));
}

struct Descriptor {
  int fd;
  ~Descriptor() { ::close(fd); }
};

struct StateDeleter {
  void operator()(XXH3_state_t* state) const { XXH3_freeState(state); }
};

}  // namespace

std::string HashBytes(std::span<const std::uint8_t> bytes) {
  return Hex(XXH3_128bits(bytes.data(), bytes.size()));
}

std::string HashFile(const std::filesystem::path& file, const std::function<bool()>& stopped) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) Fail(file, "read", errno);
  const Descriptor closer{fd};
  // A pipe or a device could keep the read waiting for ever.
  struct stat info {};
  if (::fstat(fd, &info) != 0) Fail(file, "read", errno);
  if (!S_ISREG(info.st_mode)) {
    throw Error("Cannot read \"" + file.string() + "\": it is not a regular file");
  }
  const std::unique_ptr<XXH3_state_t, StateDeleter> state(XXH3_createState());
  if (!state || XXH3_128bits_reset(state.get()) != XXH_OK) throw std::bad_alloc();
  std::array<std::uint8_t, kReadPiece> piece;
  for (;;) {
    const ssize_t got = ::read(fd, piece.data(), piece.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Fail(file, "read", errno);
    if (got == 0) break;
    if (stopped && stopped()) throw Error("Stopped reading \"" + file.string() + "\"");
    XXH3_128bits_update(state.get(), piece.data(), static_cast<std::size_t>(got));
  }
  return Hex(XXH3_128bits_digest(state.get()));
}

FileStamp StampOf(const std::filesystem::path& file) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) Fail(file, "examine", errno);
  std::tm utc{};
  const std::time_t seconds = info.st_mtim.tv_sec;
  gmtime_r(&seconds, &utc);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%09ldZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<long>(info.st_mtim.tv_nsec));
  return {static_cast<std::int64_t>(info.st_size), text};
}

}  // namespace tessaly
