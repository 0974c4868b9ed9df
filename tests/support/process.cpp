// Process runner for the end-to-end tests (POSIX: fork, exec, pipes, forkpty).
#include "support/process.h"

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

std::vector<char*> Argv(const std::string& program, const std::vector<std::string>& args,
                        std::vector<std::string>& storage) {
  storage.clear();
  storage.push_back(program);
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  return argv;
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, const std::string& working_dir) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (::pipe2(in_pipe, O_CLOEXEC) != 0 || ::pipe2(out_pipe, O_CLOEXEC) != 0 ||
      ::pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<std::string> storage;
  std::vector<char*> argv = Argv(program, args, storage);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(in_pipe[0], 0);
    ::dup2(out_pipe[1], 1);
    ::dup2(err_pipe[1], 2);
    if (!working_dir.empty() && ::chdir(working_dir.c_str()) != 0) ::_exit(127);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  // Feed the input while reading both outputs, so no pipe can fill up and stall the child.
  std::size_t written = 0;
  if (input.empty()) ::close(in_pipe[1]);
  ProcessResult result;
  pollfd fds[3] = {{out_pipe[0], POLLIN, 0},
                   {err_pipe[0], POLLIN, 0},
                   {input.empty() ? -1 : in_pipe[1], POLLOUT, 0}};
  int open_outputs = 2;
  char buffer[4096];
  while (open_outputs > 0) {
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_outputs;
      }
    }
    if (fds[2].fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      const ssize_t n = ::write(fds[2].fd, input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      if (n <= 0 || written == input.size()) {
        ::close(fds[2].fd);
        fds[2].fd = -1;
      }
    }
  }
  if (fds[2].fd >= 0) ::close(fds[2].fd);
  result.exit_code = WaitFor(pid);
  return result;
}

ProcessResult RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
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
  ProcessResult result;
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
