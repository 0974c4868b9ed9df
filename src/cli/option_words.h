// Usage mistakes told in words: unknown options with the nearest known one, and
// option values that cannot be used. Used by the option parsing of tessaly-cli.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly::cli {

// One option the tool knows, as it is spelled on the command line.
struct KnownOption {
  std::string long_name;   // "--jobs"
  char short_name = '\0';  // 'r' for -r, or none
  bool takes_value = false;
};

// The known option nearest to `given` (a mistyped "--recusive", "-recursive" or
// "--jbos"), or empty when none is close enough to be what was meant.
std::string NearestOption(std::string_view given, const std::vector<KnownOption>& known);

// The message for the first argument that looks like an option but is none of
// `known`, or nothing when every one is known. Arguments after "--", the values
// of options that take one, and "-" alone are not options.
std::optional<std::string> UnknownOptionMessage(const std::vector<std::string>& args,
                                                const std::vector<KnownOption>& known);

// A whole number in [low, high] from `text`, or nothing.
std::optional<int> WholeNumberIn(std::string_view text, int low, int high);

}  // namespace tessaly::cli
