// Reading and splitting name lists.
#include "cli/name_list.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/errors.h"

namespace tessaly::cli {

std::vector<std::string> SplitNameList(std::string_view text, char separator) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view name = text.substr(start, end - start);
    if (separator == '\n' && name.ends_with('\r')) name.remove_suffix(1);
    if (!name.empty()) names.emplace_back(name);
    start = end + 1;
  }
  return names;
}

std::string ReadNameList(const std::string& list, const std::atomic<int>& interrupted) {
  if (list != "-") {
    // Opened as a stream rather than read as a picture file, so that a named
    // pipe or a shell's process substitution serves as a list too.
    std::error_code ec;
    if (std::filesystem::is_directory(list, ec)) {
      throw Error("Cannot read the list of names \"" + list + "\": it is a folder");
    }
    std::ifstream in(list, std::ios::binary);
    if (!in) {
      throw Error("Cannot read the list of names \"" + list + "\": " + std::strerror(errno));
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw Error("Cannot read the list of names \"" + list + "\"");
    return text;
  }
  // Standard input may be a slow pipe: wait in short steps so that an
  // interruption is noticed while the list is still coming.
  std::string text;
  char buffer[65536];
  while (interrupted.load() == 0) {
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&fd, 1, 100);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      throw Error(std::string("Cannot read the list of names from standard input: ") +
                  std::strerror(errno));
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

}  // namespace tessaly::cli
