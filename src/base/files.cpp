// File-system helpers: folder and name questions, the whole-file read, and the temporary file that
// becomes the target.
#include "base/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
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

// True when the filesystem has no hard links either (FAT, exFAT, many network shares), so the
// name has to be claimed.
bool LinksUnsupported(int error_number) {
  return error_number == EPERM || error_number == ENOSYS || error_number == ENOTSUP;
}

// ".tessaly-<8 hex>.tmp" is a file written under that name. ".tessaly-<8 hex>.new" is an unnamed
// file that was locked before it got that name, on its way to replacing its target; its digits
// come from its inode (LockedName), so that a leftover one is told from a file of the user's that
// happens to look alike.
constexpr std::string_view kTemporaryHead = ".tessaly-";
constexpr std::string_view kWrittenTail = ".tmp";
constexpr std::string_view kLockedTail = ".new";
constexpr std::size_t kTemporaryHex = 8;
// Names tried before a save gives up on finding a free temporary name.
constexpr int kTemporaryNameAttempts = 100;

std::string TemporaryName(std::uint32_t digits, std::string_view tail) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(digits));
  return std::string(kTemporaryHead) + hex + std::string(tail);
}

std::string RandomTemporaryName(std::random_device& random, std::string_view tail) {
  return TemporaryName(static_cast<std::uint32_t>(random()), tail);
}

// The `attempt`th ".new" name of the file with inode `inode` (splitmix64's finaliser spreads
// neighbouring inodes over the digits).
std::string LockedName(std::uint64_t inode, int attempt) {
  std::uint64_t z = inode + 0x9E3779B97F4A7C15ull * static_cast<std::uint64_t>(attempt + 1);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return TemporaryName(static_cast<std::uint32_t>(z ^ (z >> 31)), kLockedTail);
}

bool IsLockedNameOf(std::string_view name, std::uint64_t inode) {
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    if (LockedName(inode, attempt) == name) return true;
  }
  return false;
}

// A claim is dated to this moment, 1980-01-02 00:00 UTC, which FAT and exFAT store exactly in
// any time zone; any date within a day of it counts, so that a drive read in another zone, whose
// driver shifts the stored local time, still shows its claims.
constexpr std::time_t kClaimTime = 315619200;
constexpr std::time_t kClaimTimeSlack = 24 * 60 * 60;

bool LooksLikeClaim(const struct stat& info) {
  return S_ISREG(info.st_mode) && info.st_size == 0 && info.st_uid == ::geteuid() &&
         info.st_mtime >= kClaimTime - kClaimTimeSlack &&
         info.st_mtime <= kClaimTime + kClaimTimeSlack;
}

// The claim at `name` that a killed save left, locked for this process with `lock`: LOCK_EX to
// take it over, so that no other run takes it at the same time, LOCK_SH only to look, so that
// looks from several threads do not take each other for a save in progress. -1 when there is
// none.
int LockLeftClaim(int dir_fd, const char* name, int lock) {
  struct stat named {};
  if (::fstatat(dir_fd, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !LooksLikeClaim(named)) {
    return -1;
  }
  const int fd = ::openat(dir_fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  // Locked, still an empty claim, and still the file under the name: not one a save in progress
  // holds, nor one another run has replaced meanwhile.
  struct stat held {};
  if (::flock(fd, lock | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 && LooksLikeClaim(held) &&
      ::fstatat(dir_fd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && held.st_dev == named.st_dev &&
      held.st_ino == named.st_ino) {
    return fd;
  }
  ::close(fd);
  return -1;
}

// An unnamed file is linked through its entry in /proc: linking the descriptor itself
// (AT_EMPTY_PATH) needs a privilege. Without /proc the named files serve.
bool UnnamedFilesCanBeLinked() {
  static const bool proc_fd = ::access("/proc/self/fd", X_OK) == 0;
  return proc_fd;
}

// Gives the unnamed file open as `fd` the name `name` in the folder open as `dir_fd`; 0 or the
// error number. A link never replaces what stands at `name` (EEXIST), not even a link that leads
// nowhere.
int LinkUnnamed(int fd, int dir_fd, const std::string& name) {
  char proc_name[40];
  std::snprintf(proc_name, sizeof proc_name, "/proc/self/fd/%d", fd);
  if (::linkat(AT_FDCWD, proc_name, dir_fd, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  return errno;
}

// Files written ahead keep a descriptor each until their turn; a batch of many jobs can pass
// the usual soft limit of 1024, which the hard limit then lifts.
template <typename Open>
int OpenRetryingPastFileLimit(const Open& open) {
  const int fd = open();
  if (fd >= 0 || errno != EMFILE) return fd;
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) {
    errno = EMFILE;
    return -1;
  }
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
  return open();
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

std::string FullPath(const std::filesystem::path& path) {
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(path, ec);
  return (ec ? path : full).lexically_normal().string();
}

std::optional<FileId> IdOf(const std::filesystem::path& name) {
  struct stat info {};
  if (::stat(name.c_str(), &info) != 0) return std::nullopt;
  return FileId{info.st_dev, info.st_ino};
}

namespace {

bool ClaimIsLeftOver(int dir_fd, const std::filesystem::path& name) {
  const int fd = LockLeftClaim(dir_fd, name.c_str(), LOCK_SH);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool NameIsTakenAt(int dir_fd, const std::filesystem::path& name,
                   const std::filesystem::path& shown) {
  struct stat info {};
  if (::fstatat(dir_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
    // Only an empty file dated as claims are is looked at more closely.
    return !LooksLikeClaim(info) || !ClaimIsLeftOver(dir_fd, name);
  }
  if (errno == ENOENT || errno == ENOTDIR) return false;
  ThrowSaveError(shown, errno);
}

}  // namespace

bool NameIsTaken(const std::filesystem::path& name) {
  return NameIsTakenAt(AT_FDCWD, name, name);
}

bool NameIsTaken(const OpenFolder& folder, const std::filesystem::path& name) {
  return NameIsTakenAt(folder.fd(), name, folder.path() / name);
}

bool IsTemporaryFileName(std::string_view name) {
  if (name.size() != kTemporaryHead.size() + kTemporaryHex + kWrittenTail.size() ||
      !name.starts_with(kTemporaryHead) ||
      !(name.ends_with(kWrittenTail) || name.ends_with(kLockedTail))) {
    return false;
  }
  const std::string_view hex = name.substr(kTemporaryHead.size(), kTemporaryHex);
  return std::all_of(hex.begin(), hex.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

OpenFolder::OpenFolder(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}

OpenFolder::~OpenFolder() {
  ::close(fd_);
}

FolderRef OpenFolder::TryOpenAt(int dir_fd, const std::filesystem::path& name, bool follow,
                                std::filesystem::path shown) {
  const char* const where = name.empty() ? "." : name.c_str();
  // O_DIRECTORY fails on a pipe before its open could wait for a writer.
  const int flags = O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW);
  int fd = OpenRetryingPastFileLimit([&] { return ::openat(dir_fd, where, O_RDONLY | flags); });
  // Reading the folder is needed only to flush it and to sweep it; writing into it is not.
  if (fd < 0 && errno == EACCES) fd = ::openat(dir_fd, where, O_PATH | flags);
  if (fd < 0) return nullptr;
  return std::make_shared<const OpenFolder>(fd, std::move(shown));
}

FolderRef OpenFolder::Of(const std::filesystem::path& file) {
  const std::filesystem::path folder = file.parent_path();
  FolderRef opened = TryOpenAt(AT_FDCWD, folder, true, folder);
  if (!opened) ThrowSaveError(file, errno);
  return opened;
}

PendingFile::PendingFile(const std::filesystem::path& target, FolderRef folder, PublishSeam seam)
    : target_(target),
      folder_(folder ? std::move(folder) : OpenFolder::Of(target)),
      name_(target.filename()),
      seam_(std::move(seam)) {
  const int dir = folder_->fd();
  // 0666 under the process's umask, as for any new file.
  if (!seam_.claim_names && UnnamedFilesCanBeLinked()) {
    fd_ = OpenRetryingPastFileLimit(
        [&] { return ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666); });
  }
  // Any failure of the unnamed file (a filesystem or kernel without them, but also a folder
  // that may not be written) goes to the named one, whose own error then tells the reason.
  if (fd_ < 0) {
    std::random_device random;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && fd_ < 0; ++attempt) {
      temporary_ = RandomTemporaryName(random, kWrittenTail);
      fd_ = OpenRetryingPastFileLimit([&] {
        return ::openat(dir, temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      });
      if (fd_ < 0 && errno != EEXIST) {
        temporary_.clear();
        ThrowSaveError(target, errno);
      }
    }
    if (fd_ < 0) {
      temporary_.clear();
      ThrowSaveError(target, EEXIST);
    }
  }
  // Shared, so that the lock of a named file can pass to a second descriptor in Finish.
  locked_ = ::flock(fd_, LOCK_SH) == 0;
}

PendingFile::~PendingFile() {
  // The name goes before the lock, so that no sweep takes a file still being removed.
  if (!published_ && !temporary_.empty()) ::unlinkat(folder_->fd(), temporary_.c_str(), 0);
  Close();
}

void PendingFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  if (lock_fd_ >= 0) ::close(lock_fd_);
  fd_ = lock_fd_ = -1;
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
  // An unnamed file stays open: it is reached only through its descriptor until it is linked.
  if (temporary_.empty()) return;
  // A named file is closed, since some filesystems (network and user-space ones, which have no
  // unnamed files) report a failed write only then; a descriptor for reading keeps its lock.
  lock_fd_ =
      ::openat(folder_->fd(), temporary_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (lock_fd_ >= 0) ::flock(lock_fd_, LOCK_SH);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) ThrowSaveError(target_, errno);
}

bool PendingFile::PublishIfAbsent() {
  if (seam_.claim_names) return PublishByClaim();
  const int dir = folder_->fd();
  if (temporary_.empty()) {
    // A link fails when the name is taken, as a rename that may not replace does.
    const int error_number = LinkUnnamed(fd_, dir, name_);
    if (error_number == EEXIST) return TakeOverLeftClaim();
    if (error_number != 0) ThrowSaveError(target_, error_number);
  } else if (::renameat2(dir, temporary_.c_str(), dir, name_.c_str(), RENAME_NOREPLACE) != 0) {
    const int error_number = errno;
    if (error_number == EEXIST) return TakeOverLeftClaim();
    if (!NoReplaceUnsupported(error_number)) ThrowSaveError(target_, error_number);
    // A link fails just as atomically when the name is taken; the temporary name then goes.
    if (::linkat(dir, temporary_.c_str(), dir, name_.c_str(), 0) != 0) {
      if (errno == EEXIST) return TakeOverLeftClaim();
      if (LinksUnsupported(errno)) return PublishByClaim();
      ThrowSaveError(target_, errno);
    }
    ::unlinkat(dir, temporary_.c_str(), 0);
  }
  Published();
  return true;
}

bool PendingFile::PublishByClaim() {
  const int dir = folder_->fd();
  // The empty file makes the name this save's in one step that fails when it is taken; it is
  // locked before it is dated as a claim, so that no other run ever takes it for a left one.
  const int claim =
      ::openat(dir, name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (claim < 0) {
    if (errno == EEXIST) return TakeOverLeftClaim();
    ThrowSaveError(target_, errno);
  }
  ::flock(claim, LOCK_EX);
  const timespec dated[2] = {{kClaimTime, 0}, {kClaimTime, 0}};
  ::futimens(claim, dated);
  try {
    RenameOverName();
  } catch (...) {
    // The claim goes with the failed save, unless another save has replaced it meanwhile.
    struct stat held {};
    struct stat named {};
    if (::fstat(claim, &held) == 0 &&
        ::fstatat(dir, name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
      ::unlinkat(dir, name_.c_str(), 0);
    }
    ::close(claim);
    throw;
  }
  ::close(claim);
  return true;
}

bool PendingFile::TakeOverLeftClaim() {
  const int claim = LockLeftClaim(folder_->fd(), name_.c_str(), LOCK_EX);
  if (claim < 0) return false;
  try {
    RenameOverName();
  } catch (...) {
    ::close(claim);
    throw;
  }
  ::close(claim);
  return true;
}

void PendingFile::PublishReplacing() {
  struct stat existing {};
  if (::fstatat(folder_->fd(), name_.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(existing.st_mode)) {
    const int fd = fd_ >= 0 ? fd_ : lock_fd_;
    if (fd < 0 || ::fchmod(fd, existing.st_mode & kPermissionBits) != 0) {
      ::fchmodat(folder_->fd(), temporary_.c_str(), existing.st_mode & kPermissionBits, 0);
    }
  }
  RenameOverName();
}

void PendingFile::RenameOverName() {
  const int dir = folder_->fd();
  if (temporary_.empty()) {
    // Only a rename replaces a name in one step, and only a named file can be renamed: the
    // unnamed file gets a temporary name first. The window in which a killed process would
    // leave that name behind is two system calls wide; the file is locked all the while, so
    // the next run's RemoveStaleTemporaries takes what a kill there leaves.
    struct stat self {};
    if (::fstat(fd_, &self) != 0) ThrowSaveError(target_, errno);
    std::random_device random;
    std::string named;
    int error_number = EEXIST;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && error_number == EEXIST; ++attempt) {
      named =
          locked_ ? LockedName(self.st_ino, attempt) : RandomTemporaryName(random, kWrittenTail);
      error_number = LinkUnnamed(fd_, dir, named);
    }
    if (error_number != 0) ThrowSaveError(target_, error_number);
    temporary_ = std::move(named);
  }
  if (seam_.before_rename) seam_.before_rename();
  if (::renameat(dir, temporary_.c_str(), dir, name_.c_str()) != 0) {
    ThrowSaveError(target_, errno);
  }
  Published();
}

void PendingFile::Published() {
  published_ = true;
  Close();
  if (sync_folder_) SyncFolder(*folder_);
}

void RemoveStaleTemporaries(const OpenFolder& folder) {
  const int read_fd = ::openat(folder.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (read_fd < 0) return;
  DIR* const dir = ::fdopendir(read_fd);
  if (dir == nullptr) {
    ::close(read_fd);
    return;
  }
  const int dir_fd = ::dirfd(dir);
  const std::time_t stale_before = std::time(nullptr) - kStaleTemporaryMinutes * 60;
  while (const dirent* entry = ::readdir(dir)) {
    if (!IsTemporaryFileName(entry->d_name)) continue;
    struct stat named {};
    const bool locked_from_birth = std::string_view(entry->d_name).ends_with(kLockedTail);
    if (::fstatat(dir_fd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(named.st_mode) || named.st_uid != ::geteuid() ||
        (!locked_from_birth && named.st_mtime > stale_before)) {
      continue;
    }
    // A living PendingFile holds a shared lock on its file; a written one takes it just after
    // creating the file, and the age above covers that moment.
    const int fd = ::openat(dir_fd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat locked {};
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &locked) == 0 &&
        ::fstatat(dir_fd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        locked.st_dev == named.st_dev && locked.st_ino == named.st_ino &&
        (!locked_from_birth || IsLockedNameOf(entry->d_name, locked.st_ino))) {
      ::unlinkat(dir_fd, entry->d_name, 0);
    }
    ::close(fd);
  }
  ::closedir(dir);
}

void RemoveStaleTemporaries(const std::filesystem::path& folder) {
  if (const FolderRef opened = OpenFolder::TryOpenAt(AT_FDCWD, folder, true, folder)) {
    RemoveStaleTemporaries(*opened);
  }
}

void SyncFolder(const OpenFolder& folder) {
  // A folder held without reading rights cannot be flushed; nothing written is lost by that.
  ::fsync(folder.fd());
}

void SyncFolder(const std::filesystem::path& folder) {
  if (const FolderRef opened = OpenFolder::TryOpenAt(AT_FDCWD, folder, true, folder)) {
    SyncFolder(*opened);
  }
}

std::unique_ptr<PendingFile> WritePending(const std::filesystem::path& target,
                                          std::span<const std::uint8_t> bytes, FolderRef folder,
                                          PublishSeam seam) {
  auto file = std::make_unique<PendingFile>(target, std::move(folder), std::move(seam));
  file->Write(bytes);
  file->Finish();
  return file;
}

void WriteFileReplacing(const std::filesystem::path& file_name,
                        std::span<const std::uint8_t> bytes) {
  WritePending(file_name, bytes)->PublishReplacing();
}

}  // namespace tessaly
