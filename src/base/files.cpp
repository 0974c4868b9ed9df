// File-system helpers: folder and name questions, the whole-file read, and the temporary file that
// becomes the target.
#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <system_error>

#include "base/errors.h"

namespace tessaly {
namespace {

// Permission bits only: a setuid, setgid or sticky bit never passes to a new picture.
constexpr mode_t kPermissionBits = 0777;

[[noreturn]] void ThrowSaveError(const std::filesystem::path& file_name, int error_number) {
  throw Error("Cannot save \"" + file_name.string() +
              "\": " + std::generic_category().message(error_number));
}

// True when the filesystem cannot rename without replacing, so a hard link has to do it.
bool NoReplaceUnsupported(int error_number) {
  return error_number == EINVAL || error_number == ENOSYS || error_number == ENOTSUP;
}

// Not an errno value: the file is a pipe, a device or a socket.
constexpr int kNotRegularFile = -1;

std::string Reason(int error_number) {
  return std::generic_category().message(error_number);
}

// How much more a file is read at a time once it is longer than it was at opening.
constexpr std::size_t kReadStep = 65536;

// Fills bytes, whose size is the file's size at opening; a file that grew meanwhile is read to
// its new end, but never past the limit. Returns 0 or the error number.
int ReadAll(int fd, std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  for (;;) {
    if (done == bytes.size()) {
      if (done > kMaxReadFileBytes) return EFBIG;
      bytes.resize(bytes.size() + kReadStep);
    }
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  return 0;
}

// Only regular files are read: a pipe or a device under a picture's name could block the read
// for ever or never end, and a folder holds no bytes.
int CheckReadable(int fd, std::uint64_t& size) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return errno;
  if (S_ISDIR(info.st_mode)) return EISDIR;
  if (!S_ISREG(info.st_mode)) return kNotRegularFile;
  size = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));
  if (size > kMaxReadFileBytes) return EFBIG;
  // Opened without blocking so that a pipe could not stall the open; regular files read alike,
  // but blocking reads are the plain case.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return 0;
}

std::string ReadFailure(const std::filesystem::path& file_name, int error_number) {
  std::string reason;
  if (error_number == kNotRegularFile) {
    reason = "it is not a regular file";
  } else if (error_number == EFBIG) {
    reason = "the file is larger than " + std::to_string(kMaxReadFileBytes) +
             " bytes, more than any picture that can be read";
  } else {
    reason = Reason(error_number);
  }
  return "Cannot read \"" + file_name.string() + "\": " + reason;
}

}  // namespace

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& file_name) {
  const int fd = ::open(file_name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw Error(ReadFailure(file_name, errno));
  std::vector<std::uint8_t> bytes;
  std::uint64_t size = 0;
  int error_number = CheckReadable(fd, size);
  if (error_number == 0) {
    // Room for the read that finds the end, so that it does not move the whole file.
    bytes.reserve(static_cast<std::size_t>(size) + kReadStep);
    bytes.resize(static_cast<std::size_t>(size));
    error_number = ReadAll(fd, bytes);
  }
  ::close(fd);
  if (error_number != 0) throw Error(ReadFailure(file_name, error_number));
  return bytes;
}

bool IsFolder(const std::filesystem::path& name) {
  std::error_code error;
  return std::filesystem::is_directory(name, error);
}

bool NameIsTaken(const std::filesystem::path& name) {
  struct stat info {};
  if (::lstat(name.c_str(), &info) == 0) return true;
  if (errno == ENOENT || errno == ENOTDIR) return false;
  ThrowSaveError(name, errno);
}

PendingFile::PendingFile(const std::filesystem::path& target) : target_(target) {
  std::random_device random;
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, ".tessaly-%08x.tmp", static_cast<unsigned>(random()));
    path_ = target.parent_path() / name;
    // 0666 under the process's umask, as for any new file.
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EEXIST) ThrowSaveError(target, errno);
  }
  if (fd_ < 0) ThrowSaveError(target, EEXIST);
}

PendingFile::~PendingFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!published_) ::unlink(path_.c_str());
}

void PendingFile::Write(std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    // A write past the file-size limit fails with EFBIG here (SIGXFSZ is ignored by the
    // programs), so it ends this save only.
    if (n <= 0) ThrowSaveError(target_, n < 0 ? errno : EIO);
    done += static_cast<std::size_t>(n);
  }
}

void PendingFile::Finish() {
  if (::fsync(fd_) != 0) ThrowSaveError(target_, errno);
  const int fd = fd_;
  fd_ = -1;
  // Some filesystems report a failed write only here.
  if (::close(fd) != 0) ThrowSaveError(target_, errno);
}

bool PendingFile::PublishIfAbsent() {
  if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) != 0) {
    const int error_number = errno;
    if (error_number == EEXIST) return false;
    if (!NoReplaceUnsupported(error_number)) ThrowSaveError(target_, error_number);
    // A link fails just as atomically when the name is taken; the temporary name then goes.
    if (::link(path_.c_str(), target_.c_str()) != 0) {
      if (errno == EEXIST) return false;
      ThrowSaveError(target_, errno);
    }
    ::unlink(path_.c_str());
  }
  Published();
  return true;
}

void PendingFile::PublishReplacing() {
  struct stat existing {};
  if (::lstat(target_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
    ::chmod(path_.c_str(), existing.st_mode & kPermissionBits);
  }
  if (::rename(path_.c_str(), target_.c_str()) != 0) ThrowSaveError(target_, errno);
  Published();
}

void PendingFile::Published() {
  published_ = true;
  if (sync_folder_) SyncFolder(target_.parent_path());
}

void SyncFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

void WriteFileReplacing(const std::filesystem::path& file_name,
                        std::span<const std::uint8_t> bytes) {
  PendingFile file(file_name);
  file.Write(bytes);
  file.Finish();
  file.PublishReplacing();
}

}  // namespace tessaly
