// Runs a program for the end-to-end tests: with pipes for its standard streams,
// or with a pseudo-terminal as its terminal, and collects what it printed.
#pragma once

#include <string>
#include <vector>

namespace tessaly::test {

struct ProcessResult {
  int exit_code = -1;  // -1 when the program did not exit normally
  std::string out;     // standard output (with a terminal: everything it printed)
  std::string err;     // standard error (empty with a terminal)
};

// Runs `program` with `args` in `working_dir`, feeding `input` to its standard input.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input = {}, const std::string& working_dir = {});

// Runs it with a pseudo-terminal as standard input, output and error; each time
// the output so far ends with `prompt`, the next of `answers` is typed.
ProcessResult RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                            const std::string& prompt, const std::vector<std::string>& answers);

}  // namespace tessaly::test
