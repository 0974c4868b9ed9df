// Runs a program with a pseudo-terminal as its terminal and answers its prompts, for the
// tests of questions that are asked only on a terminal.
#pragma once

#include <string>
#include <vector>

#include "support/child_process.h"

namespace tessaly::test {

// Runs `program` with a pseudo-terminal as standard input, output and error; each time the
// output so far ends with `prompt`, the next of `answers` is typed. Everything the program
// printed is in `out`.
ChildResult RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                          const std::string& prompt, const std::vector<std::string>& answers);

}  // namespace tessaly::test
