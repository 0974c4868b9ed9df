// Runs tessaly-cli (or any program) for the end-to-end tests: with pipes for its standard
// streams, in a given folder, with a time limit, optionally as the unprivileged user when the
// tests run as root, and measured.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace tessaly::test {

struct ChildOptions {
  std::chrono::milliseconds time_limit{60000};  // killed with SIGKILL after this
  // Run as the user "nobody": permission bits do not bind root, so tests of unreadable files
  // and read-only folders run the program as an ordinary user when they run as root. The
  // program is opened before the privileges are dropped, so it runs wherever it lies, even
  // where "nobody" cannot reach it by its path; the files it is given must be within reach.
  bool as_nobody = false;
  bool discard_output = false;  // standard output and error to /dev/null
  std::string input;            // fed to standard input (empty: /dev/null)
  std::string working_dir;      // the folder it runs in (empty: this one)
};

struct ChildResult {
  int exit_code = -1;  // -1 unless the program exited normally
  int signal = 0;      // the signal that ended it, if one did
  bool timed_out = false;
  std::string out;
  std::string err;
  long max_rss_kb = 0;  // peak resident memory
  std::chrono::milliseconds elapsed{0};
};

// The argument vector of `program` with `args`, pointing into `storage`, for execv.
std::vector<char*> Argv(const std::string& program, const std::vector<std::string>& args,
                        std::vector<std::string>& storage);

inline constexpr char kUnprivilegedUser[] = "nobody";

// True when the tests run as root, so that `as_nobody` is needed to meet permission bits.
bool RunningAsRoot();
// True when there is a user "nobody" to run programs as.
bool UnprivilegedUserExists();

// Runs the program to its end (or its time limit).
ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const ChildOptions& options = {});

// Starts the program with its output discarded; KillAndWait ends it with SIGKILL.
class RunningChild {
 public:
  RunningChild(const std::string& program, const std::vector<std::string>& args);
  ~RunningChild();
  RunningChild(const RunningChild&) = delete;
  RunningChild& operator=(const RunningChild&) = delete;

  // True once the program has ended by itself (it is then reaped).
  bool Ended();
  // Sends SIGKILL (unless it has ended already) and reaps it; true when the signal ended it.
  bool KillAndWait();
  // Sends `signal` unless the program has been reaped (SIGSTOP and SIGCONT hold it and let go).
  void Send(int signal);
  // Waits until the program handles `signal` (its SigCgt mask in /proc), so that a signal sent
  // then is not met by the default action at start-up; false when that did not come in `limit`.
  bool WaitUntilCatching(int signal, std::chrono::milliseconds limit);
  // Sends `signal` and waits up to `limit` for the program to end: its exit status, or -1 when
  // it did not exit in time (it is then killed) or ended by a signal.
  int SignalAndWait(int signal, std::chrono::milliseconds limit);

 private:
  pid_t pid_ = -1;
};

}  // namespace tessaly::test
