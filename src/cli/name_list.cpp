// Reading and splitting name lists.
#include "cli/name_list.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "base/errors.h"

namespace tessaly::cli {
namespace {

// The names of a list as its bytes come, checked against the limits as they grow.
class NameSplitter {
 public:
  explicit NameSplitter(char separator) : separator_(separator) {}

  // The problem, once a limit is passed; empty while none is.
  std::string Add(std::string_view bytes) {
    total_ += bytes.size();
    if (total_ > kMaxListBytes) {
      return "it is longer than " + std::to_string(kMaxListBytes >> 20) +
             " MiB, more than a list for one run may be; split it";
    }
    while (!bytes.empty()) {
      // A run of separators (empty names) is passed over at once.
      if (name_.empty()) {
        const std::size_t start = bytes.find_first_not_of(separator_);
        if (start == std::string_view::npos) break;
        bytes.remove_prefix(start);
      }
      const std::size_t end = bytes.find(separator_);
      name_.append(bytes.substr(0, end));
      if (name_.size() > kMaxListNameBytes) {
        return "a name in it is longer than " + std::to_string(kMaxListNameBytes) +
               " bytes (PATH_MAX), longer than any path may be";
      }
      if (end == std::string_view::npos) break;
      if (std::string problem = EndName(); !problem.empty()) return problem;
      bytes.remove_prefix(end + 1);
    }
    return {};
  }

  std::string Finish() { return EndName(); }

  std::vector<std::string>& names() { return names_; }

 private:
  std::string EndName() {
    if (separator_ == '\n' && name_.ends_with('\r')) name_.pop_back();
    if (name_.empty()) return {};
    if (names_.size() == kMaxListNames) {
      return "it holds more than " + std::to_string(kMaxListNames) +
             " names, more than one run takes; split it";
    }
    names_.push_back(std::move(name_));
    name_.clear();
    return {};
  }

  char separator_;
  std::size_t total_ = 0;
  std::string name_;  // the name being read
  std::vector<std::string> names_;
};

// Closes a list opened by name; standard input stays open.
class ListFile {
 public:
  explicit ListFile(int fd) : fd_(fd) {}
  ~ListFile() {
    if (fd_ != STDIN_FILENO) ::close(fd_);
  }
  ListFile(const ListFile&) = delete;
  ListFile& operator=(const ListFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::vector<std::string> ReadNameList(const std::string& list, char separator,
                                      const std::atomic<int>& interrupted) {
  const std::string shown = list == "-" ? "from standard input" : "\"" + list + "\"";
  auto failure = [&](const std::string& reason) {
    return Error("Cannot read the list of names " + shown + ": " + reason);
  };
  // Opened without blocking: opening a pipe that no program writes to would wait until one
  // does, and no signal could end the run meanwhile. A pipe, a terminal or a shell's process
  // substitution serves as a list as well as a file does.
  const int fd =
      list == "-" ? STDIN_FILENO : ::open(list.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw failure(std::strerror(errno));
  const ListFile file(fd);
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) throw failure("it is a folder");
  NameSplitter splitter(separator);
  char buffer[65536];
  // Waits in short steps so that an interruption is noticed while the list is still coming.
  while (interrupted.load() == 0) {
    pollfd ready_fd{fd, POLLIN, 0};
    const int ready = ::poll(&ready_fd, 1, 100);
    if (ready < 0 && errno != EINTR) throw failure(std::strerror(errno));
    if (ready <= 0) continue;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      throw failure(std::strerror(errno));
    }
    const std::string problem = splitter.Add({buffer, static_cast<std::size_t>(n)});
    if (!problem.empty()) throw failure(problem);
  }
  if (const std::string problem = splitter.Finish(); !problem.empty()) throw failure(problem);
  return std::move(splitter.names());
}

}  // namespace tessaly::cli
