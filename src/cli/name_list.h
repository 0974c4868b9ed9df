// Names read from a list (--from-file), for archives too large for a command line.
#pragma once

#include <atomic>
#include <climits>
#include <cstddef>
#include <string>
#include <vector>

namespace tessaly::cli {

// A list is refused past any of these, so that an endless source (/dev/zero, a program that
// never stops writing) ends the run at once instead of filling the memory. A name is a path,
// and no path the system takes is longer than PATH_MAX; a million names is far more than
// archives of years of frames hold.
inline constexpr std::size_t kMaxListNameBytes = PATH_MAX;
inline constexpr std::size_t kMaxListBytes = std::size_t{64} << 20;
inline constexpr std::size_t kMaxListNames = 1000000;

// The names in `list` ("-": standard input), each ended by `separator` (the last may lack it).
// With a newline separator a carriage return before it is dropped and empty lines are left
// out; with NUL every byte but NUL belongs to a name, and empty names are left out too.
// The list is read in steps, without blocking, so that a pipe or a device that stays silent
// ends the reading once `interrupted` is set; the names read until then are returned. A pipe
// that no program has opened yet is waited for. Throws Error naming the list when it cannot be
// read, is a folder, or passes one of the limits above (saying which).
std::vector<std::string> ReadNameList(const std::string& list, char separator,
                                      const std::atomic<int>& interrupted);

}  // namespace tessaly::cli
