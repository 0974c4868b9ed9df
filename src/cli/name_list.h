// Names read from a list (--from-file), for archives too large for a command line.
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly::cli {

// The names in `text`, each ended by `separator` (the last may lack it). With a
// newline separator a carriage return before it is dropped and empty lines are
// left out; with NUL every byte but NUL belongs to a name.
std::vector<std::string> SplitNameList(std::string_view text, char separator);

// The whole content of `list` ("-": standard input). Reading standard input
// gives up, returning what it has, once `interrupted` is set. Throws Error
// naming the list when it cannot be read.
std::string ReadNameList(const std::string& list, const std::atomic<int>& interrupted);

}  // namespace tessaly::cli
