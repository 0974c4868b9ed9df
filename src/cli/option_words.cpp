// Unknown-option messages with a suggestion, and plain value checks.
#include "cli/option_words.h"

#include <algorithm>
#include <charconv>
#include <cstddef>

namespace tessaly::cli {
namespace {

// Edit distance where swapping two neighbouring letters counts as one edit,
// since "--jbos" is one slip of the fingers, not two.
std::size_t EditDistance(std::string_view a, std::string_view b) {
  const std::size_t n = a.size(), m = b.size();
  std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= n; ++i) {
    for (std::size_t j = 1; j <= m; ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[n][m];
}

std::string_view WithoutDashes(std::string_view s) {
  while (!s.empty() && s.front() == '-') s.remove_prefix(1);
  return s;
}

const KnownOption* FindLong(std::string_view name, const std::vector<KnownOption>& known) {
  for (const KnownOption& k : known) {
    if (k.long_name == name) return &k;
  }
  return nullptr;
}

const KnownOption* FindShort(char c, const std::vector<KnownOption>& known) {
  for (const KnownOption& k : known) {
    if (k.short_name != '\0' && k.short_name == c) return &k;
  }
  return nullptr;
}

std::string Unknown(std::string_view arg, const std::vector<KnownOption>& known) {
  std::string message = "unknown option \"" + std::string(arg) + "\"";
  const std::string nearest = NearestOption(arg, known);
  if (!nearest.empty()) message += "; did you mean " + nearest + "?";
  message += "\nTo name a file that begins with a dash, put -- before it (tessaly-cli -- " +
             std::string(arg) + ").";
  return message;
}

}  // namespace

std::string NearestOption(std::string_view given, const std::vector<KnownOption>& known) {
  const std::size_t eq = given.find('=');
  const std::string_view word = WithoutDashes(given.substr(0, eq));
  if (word.empty()) return {};
  std::string best;
  std::size_t best_distance = 0;
  for (const KnownOption& k : known) {
    const std::string_view name = WithoutDashes(k.long_name);
    const std::size_t d = EditDistance(word, name);
    // A third of the word may be wrong, and at least one letter.
    const std::size_t allowed = std::max<std::size_t>(1, name.size() / 3);
    const bool prefix = word.size() >= 3 && name.substr(0, word.size()) == word;
    if ((d <= allowed || prefix) && (best.empty() || d < best_distance)) {
      best = k.long_name;
      best_distance = d;
    }
  }
  return best;
}

std::optional<std::string> UnknownOptionMessage(const std::vector<std::string>& args,
                                                const std::vector<KnownOption>& known) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") return std::nullopt;
    if (arg.size() < 2 || arg[0] != '-') continue;
    if (arg[1] == '-') {
      const std::string name = arg.substr(0, arg.find('='));
      const KnownOption* k = FindLong(name, known);
      if (k == nullptr) return Unknown(arg, known);
      if (k->takes_value && name.size() == arg.size()) ++i;
      continue;
    }
    // A cluster of short flags (-rq); one that takes a value ends the cluster.
    for (std::size_t c = 1; c < arg.size(); ++c) {
      const KnownOption* k = FindShort(arg[c], known);
      if (k == nullptr) return Unknown(arg, known);
      if (k->takes_value) {
        if (c + 1 == arg.size()) ++i;
        break;
      }
    }
  }
  return std::nullopt;
}

std::optional<int> WholeNumberIn(std::string_view text, int low, int high) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

}  // namespace tessaly::cli
