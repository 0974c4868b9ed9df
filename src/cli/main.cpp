// tessaly-cli: the batch front end. Errors are caught here and nowhere deeper.
#include <unistd.h>

#include <csignal>
#include <exception>
#include <iostream>
#include <variant>

#include "cli/batch.h"
#include "cli/options.h"

int main(int argc, char** argv) {
  using namespace tessaly::cli;
  // Past a file-size limit a write then fails with EFBIG: that one save fails, the batch goes on.
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    auto parsed = ParseOptions(argc, argv, std::cout, std::cerr);
    if (const int* status = std::get_if<int>(&parsed)) return *status;
    Terminal terminal{std::cin, std::cout, std::cerr, ::isatty(STDIN_FILENO) == 1,
                      ::isatty(STDERR_FILENO) == 1};
    return RunBatch(std::get<Options>(parsed), terminal);
  } catch (const std::exception& e) {
    std::cerr << "tessaly-cli: " << e.what() << '\n';
    return 1;
  }
}
