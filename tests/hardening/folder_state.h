// What a folder tree holds, entry by entry, so that the hardening tests can show that a run
// changed or removed no file that was there before it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tessaly::test {

struct EntryState {
  std::filesystem::file_type type = std::filesystem::file_type::none;  // not following links
  std::uintmax_t size = 0;
  std::int64_t mtime_ns = 0;
  unsigned mode = 0;
  std::string sha256;  // regular files of up to 64 MiB; larger ones by size and time only
  friend bool operator==(const EntryState&, const EntryState&) = default;
};

// Keyed by the path relative to the root. Pipes, devices and links are recorded, never opened.
using FolderState = std::map<std::string, EntryState>;

FolderState Snapshot(const std::filesystem::path& root);

// The entries of `before` that `after` lacks or holds changed, one line each; empty when all
// are as they were.
std::vector<std::string> ChangedOrRemoved(const FolderState& before, const FolderState& after);

// The entries of `after` that `before` lacked.
std::vector<std::string> Added(const FolderState& before, const FolderState& after);

}  // namespace tessaly::test
