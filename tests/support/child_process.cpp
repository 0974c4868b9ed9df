// The hardening tests' process runner: fork, exec, pipes, a deadline, wait4 for the peak memory.
#include "support/child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <stdexcept>
#include <string>

namespace tessaly::test {
namespace {

using Clock = std::chrono::steady_clock;

// In the child, between fork and exec: only async-signal-safe calls. `program_fd` is the
// program opened before the privileges were dropped: the unprivileged user may not be able to
// reach it through its path (a build tree inside a folder only its owner may enter), but may
// run the file itself.
[[noreturn]] void ExecChild(const std::string& program, int program_fd, char** argv, int in_fd,
                            int out_fd, int err_fd, const char* working_dir, bool as_nobody,
                            uid_t nobody_uid, gid_t nobody_gid) {
  const int null_fd = ::open("/dev/null", O_RDWR);
  ::dup2(in_fd >= 0 ? in_fd : null_fd, 0);
  ::dup2(out_fd >= 0 ? out_fd : null_fd, 1);
  ::dup2(err_fd >= 0 ? err_fd : null_fd, 2);
  if (as_nobody &&
      (::setgroups(0, nullptr) != 0 || ::setgid(nobody_gid) != 0 || ::setuid(nobody_uid) != 0)) {
    ::_exit(126);
  }
  if (working_dir[0] != '\0' && ::chdir(working_dir) != 0) ::_exit(127);
  if (program_fd >= 0) {
    ::fexecve(program_fd, argv, environ);
  } else {
    ::execv(program.c_str(), argv);
  }
  ::_exit(127);
}

pid_t Spawn(const std::string& program, const std::vector<std::string>& args, int in_fd, int out_fd,
            int err_fd, const std::string& working_dir, bool as_nobody) {
  uid_t uid = 0;
  gid_t gid = 0;
  int program_fd = -1;
  if (as_nobody) {
    const passwd* nobody = ::getpwnam(kUnprivilegedUser);
    if (nobody == nullptr) throw std::runtime_error("no user nobody to run the program as");
    uid = nobody->pw_uid;
    gid = nobody->pw_gid;
    program_fd = ::open(program.c_str(), O_RDONLY | O_CLOEXEC);
    if (program_fd < 0) throw std::runtime_error("cannot open " + program);
  }
  std::vector<std::string> storage;
  std::vector<char*> argv = Argv(program, args, storage);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ExecChild(program, program_fd, argv.data(), in_fd, out_fd, err_fd, working_dir.c_str(),
              as_nobody, uid, gid);
  }
  if (program_fd >= 0) ::close(program_fd);
  if (pid < 0) throw std::runtime_error("fork failed");
  return pid;
}

void Collect(int status, const rusage& usage, ChildResult& result) {
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.max_rss_kb = usage.ru_maxrss;
}

}  // namespace

std::vector<char*> Argv(const std::string& program, const std::vector<std::string>& args,
                        std::vector<std::string>& storage) {
  storage.assign(1, program);
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  return argv;
}

bool RunningAsRoot() {
  return ::geteuid() == 0;
}

bool UnprivilegedUserExists() {
  return ::getpwnam(kUnprivilegedUser) != nullptr;
}

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const ChildOptions& options) {
  int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1}, err_pipe[2] = {-1, -1};
  if (!options.discard_output &&
      (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0)) {
    throw std::runtime_error("pipe failed");
  }
  if (!options.input.empty()) {
    if (::pipe2(in_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    // A child that exits without reading its input must not take the test down with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
  }
  const Clock::time_point start = Clock::now();
  const pid_t pid = Spawn(program, args, in_pipe[0], out_pipe[1], err_pipe[1], options.working_dir,
                          options.as_nobody);
  for (int fd : {in_pipe[0], out_pipe[1], err_pipe[1]}) {
    if (fd >= 0) ::close(fd);
  }
  // The input is fed while the outputs are read, so that no pipe fills up and stalls the child.
  if (in_pipe[1] >= 0) ::fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);
  std::size_t fed = 0;
  ChildResult result;
  const Clock::time_point deadline = start + options.time_limit;
  pollfd fds[3] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}, {in_pipe[1], POLLOUT, 0}};
  int open_outputs = options.discard_output ? 0 : 2;
  char buffer[4096];
  while (open_outputs > 0 && !result.timed_out) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || ::poll(fds, 3, static_cast<int>(left.count())) == 0) {
      result.timed_out = true;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_outputs;
      }
    }
    if (fds[2].fd >= 0 && (fds[2].revents & (POLLOUT | POLLHUP | POLLERR)) != 0) {
      const ssize_t n = ::write(fds[2].fd, options.input.data() + fed, options.input.size() - fed);
      if (n > 0) fed += static_cast<std::size_t>(n);
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || fed == options.input.size()) {
        ::close(fds[2].fd);
        fds[2].fd = -1;
      }
    }
  }
  // Without output pipes (or once they closed) the child is waited for until the deadline.
  int status = 0;
  rusage usage{};
  while (!result.timed_out) {
    const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
    if (done == pid) break;
    if (Clock::now() >= deadline) {
      result.timed_out = true;
      break;
    }
    ::usleep(2000);
  }
  if (result.timed_out) {
    ::kill(pid, SIGKILL);
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
  }
  for (const pollfd& p : fds) {
    if (p.fd >= 0) ::close(p.fd);
  }
  Collect(status, usage, result);
  result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  return result;
}

RunningChild::RunningChild(const std::string& program, const std::vector<std::string>& args)
    : pid_(Spawn(program, args, -1, -1, -1, {}, false)) {}

RunningChild::~RunningChild() {
  if (pid_ > 0) KillAndWait();
}

bool RunningChild::Ended() {
  if (pid_ <= 0) return true;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
  pid_ = -1;
  return true;
}

bool RunningChild::KillAndWait() {
  if (pid_ <= 0) return false;  // reaped already: the pid may belong to another process by now
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

bool RunningChild::WaitUntilCatching(int signal, std::chrono::milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  const std::string status_file = "/proc/" + std::to_string(pid_) + "/status";
  while (Clock::now() < deadline && !Ended()) {
    std::ifstream status(status_file);
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("SigCgt:", 0) == 0 &&
          ((std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1) != 0) {
        return true;
      }
    }
    ::usleep(2000);
  }
  return false;
}

void RunningChild::Send(int signal) {
  if (pid_ > 0) ::kill(pid_, signal);
}

int RunningChild::SignalAndWait(int signal, std::chrono::milliseconds limit) {
  if (pid_ <= 0) return -1;
  ::kill(pid_, signal);
  const Clock::time_point deadline = Clock::now() + limit;
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) != pid_) {
    if (Clock::now() >= deadline) {
      KillAndWait();
      return -1;
    }
    ::usleep(2000);
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tessaly::test
