#include <csignal>
#include <cstdlib>

#include "cli/cli.h"
#include "style/output.h"

// The entry only wires: ignore broken pipes, run the command line, turn the result into a status.
int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  auto result = cli::main(argc, argv);
  if (result) return EXIT_SUCCESS;
  style::print_error_line(result.error().joined());
  return EXIT_FAILURE;
}
