// File-system helpers shared by every module: the folder question of the folder expansion and
// the drop target, the whole-file read every loader rests on, and the complete-or-nothing file
// write that every save rests on.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/limits.h"

namespace tessaly {

// True when `name` can be examined and is a folder; false for files and unreadable paths.
bool IsFolder(const std::filesystem::path& name);

// The full, plain form of a path: absolute, without "." or ".." steps; links are not resolved,
// so a file reached by two spellings has two full paths.
std::string FullPath(const std::filesystem::path& path);

// What tells one file from another however its names are spelt: device and inode.
using FileId = std::pair<std::uint64_t, std::uint64_t>;
// The identity of the file `name` leads to (links followed); nothing when it cannot be examined.
std::optional<FileId> IdOf(const std::filesystem::path& name);

// The whole file; Error naming the file and the reason when it cannot be read. Only regular
// files of at most kMaxReadFileBytes are read: a pipe, a device, a socket or a folder is
// refused at once, without waiting for data.
std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& file_name);

// True when anything stands at `name`: a file, a folder, or a link even when it leads nowhere;
// false when nothing does, or only the claim of a save that was killed (see PublishIfAbsent).
// Error naming the file when that cannot be told (a name too long, a folder that may not be
// searched): a save there would fail anyway, and must not be reported as a file that exists.
bool NameIsTaken(const std::filesystem::path& name);

// A folder held open. Files saved into it are made, named and removed through its descriptor,
// so that a link put in place of the folder, or of any folder above it, once it is open changes
// nothing about where they go.
class OpenFolder {
 public:
  // Takes `fd`, a descriptor of the folder that `path` names in messages.
  OpenFolder(int fd, std::filesystem::path path);
  ~OpenFolder();
  OpenFolder(const OpenFolder&) = delete;
  OpenFolder& operator=(const OpenFolder&) = delete;

  // The folder `name` below the folder open as `dir_fd` (AT_FDCWD: the working folder), a link
  // at `name` followed only when `follow`; `shown` names it in messages. Null with errno set when
  // it cannot be opened (ENOTDIR for a file or a link not followed). A folder that may be
  // searched but not read is held without reading rights: files can still be made in it.
  static std::shared_ptr<const OpenFolder> TryOpenAt(int dir_fd, const std::filesystem::path& name,
                                                     bool follow, std::filesystem::path shown);
  // The folder a file named `file` goes into; Error naming the file when it cannot be opened.
  static std::shared_ptr<const OpenFolder> Of(const std::filesystem::path& file);

  int fd() const { return fd_; }
  const std::filesystem::path& path() const { return path_; }

 private:
  int fd_;
  std::filesystem::path path_;
};
using FolderRef = std::shared_ptr<const OpenFolder>;

// NameIsTaken for `name` in the folder; the Error names the name within the folder's path.
bool NameIsTaken(const OpenFolder& folder, const std::filesystem::path& name);

// Test seams of PendingFile: `claim_names` publishes as on file systems that have neither
// unnamed files, nor renames that refuse to replace, nor links (FAT, exFAT, many network shares),
// wherever the file is; `before_rename` runs just before the rename that gives a file its final
// name, where the tests kill the process.
struct PublishSeam {
  bool claim_names = false;
  std::function<void()> before_rename;
};

// A file being written beside its target. Where the filesystem can (ext4, tmpfs, btrfs, xfs)
// it has no name at all until it is published, so a process killed at any moment leaves
// nothing behind (but for the two system calls of PublishReplacing, and the moment a claimed
// name stands empty, see PublishIfAbsent); elsewhere it is written
// under a short temporary name (".tessaly-<8 hex>.tmp", so a target of the longest legal name
// still gets one). It is held locked (flock) while it lives, so that RemoveStaleTemporaries
// tells it from one a dead process left. It takes the target's name only when complete and
// flushed; until then, and whenever it is dropped unpublished, the target is left as it was and
// the file goes. Every step works in the target's folder as it was opened (`folder`, or the
// folder the target's name leads to when the file is made). Errors throw Error naming the
// target.
class PendingFile {
 public:
  explicit PendingFile(const std::filesystem::path& target, FolderRef folder = nullptr,
                       PublishSeam seam = {});
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  void Write(std::span<const std::uint8_t> bytes);
  // Flushes the data to disk (and closes a named file, so that a failed write that is told
  // only then fails here); call once, after the last Write and before publishing.
  void Finish();
  // Gives the file the target's name unless something already stands there, in one step, so
  // that a file another program creates at any moment is never replaced. Where the filesystem
  // can neither rename without replacing nor link, the name is first claimed by creating an
  // empty file under it, locked and dated 1980-01-02, which only this file then replaces. A
  // claim that a killed save left (an empty regular file of this user, dated so, that no save
  // holds locked) is not the user's: it is taken over. False when the name was taken; the
  // temporary file then stays, to be published or dropped.
  bool PublishIfAbsent();
  // Gives the file the target's name, replacing what stands there. A replaced file's permission
  // bits are kept, less setuid, setgid and sticky; a link is replaced itself, never followed.
  void PublishReplacing();

  // The folder is not flushed when the file takes its name: the caller publishes another file
  // beside it right after and flushes the folder once for both (SyncFolder).
  void DeferFolderSync() { sync_folder_ = false; }

  const FolderRef& folder() const { return folder_; }

 private:
  bool PublishByClaim();
  bool TakeOverLeftClaim();
  void RenameOverName();
  void Published();
  void Close();

  std::filesystem::path target_;
  FolderRef folder_;
  std::string name_;       // the target's name in folder_
  std::string temporary_;  // the temporary name in folder_; empty for an unnamed file
  int fd_ = -1;            // written to; kept open until published or dropped
  int lock_fd_ = -1;       // a named file's lock once fd_ is closed by Finish
  bool locked_ = false;    // fd_ holds its shared lock
  bool published_ = false;
  bool sync_folder_ = true;
  PublishSeam seam_;
};

// The one writer behind every save: `bytes` written beside `target` under a temporary name and
// flushed to disk, ready to take the target's name. Errors throw Error naming the target.
std::unique_ptr<PendingFile> WritePending(const std::filesystem::path& target,
                                          std::span<const std::uint8_t> bytes,
                                          FolderRef folder = nullptr, PublishSeam seam = {});

// Removes what saves of this tool left in `folder` when their process died: regular files of
// this user with a temporary file's name that no living PendingFile holds locked; one written
// under its name (".tmp") only once it is kStaleTemporaryMinutes old, and one named just before
// it replaced its target (".new") only when the name is the one the tool gives that very file.
// Nothing else is touched; failures are ignored (a leftover stays).
void RemoveStaleTemporaries(const OpenFolder& folder);
void RemoveStaleTemporaries(const std::filesystem::path& folder);
inline constexpr int kStaleTemporaryMinutes = 10;

// True for the names PendingFile gives its files: ".tessaly-<8 lower-case hex>.tmp", and
// ".tessaly-<8 lower-case hex>.new" for an unnamed file named just before it replaces its target.
bool IsTemporaryFileName(std::string_view name);

// Makes the renames done in `folder` durable; a failure here loses nothing already written.
void SyncFolder(const OpenFolder& folder);
void SyncFolder(const std::filesystem::path& folder);

// Writes the bytes to a new file beside the target, flushes it to disk and renames it over the
// target. On any failure the temporary file is removed and the target is left as it was.
void WriteFileReplacing(const std::filesystem::path& file_name,
                        std::span<const std::uint8_t> bytes);

}  // namespace tessaly
