// Pseudo-terminal runner for the end-to-end tests (POSIX forkpty).
#include "support/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tessaly::test {
namespace {

int WaitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ChildResult RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                          const std::string& prompt, const std::vector<std::string>& answers) {
  std::vector<std::string> storage;
  std::vector<char*> argv = Argv(program, args, storage);
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) throw std::runtime_error("forkpty failed");
  if (pid == 0) {
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ChildResult result;
  std::size_t next_answer = 0;
  std::size_t answered_up_to = 0;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the child has closed the terminal
    result.out.append(buffer, static_cast<std::size_t>(n));
    const std::size_t at = result.out.rfind(prompt);
    if (at != std::string::npos && at + prompt.size() == result.out.size() &&
        at >= answered_up_to && next_answer < answers.size()) {
      const std::string line = answers[next_answer++] + "\n";
      if (::write(master, line.data(), line.size()) < 0) break;
      answered_up_to = result.out.size();
    }
  }
  ::close(master);
  result.exit_code = WaitFor(pid);
  return result;
}

}  // namespace tessaly::test
