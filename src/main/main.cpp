#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/cli.h"
#include "cli/parse.h"
#include "error/error.h"
#include "files/cleanup.h"
#include "files/descriptor.h"
#include "style/output.h"

// A write of the program's own messages failed (not a closed pipe): the run's outcome is
// unknown to its user, whatever the command did.
constexpr int kOutputFailed = 101;

namespace {

// Memory ran out: a request the system refused (std::bad_alloc), or a size beyond what a string
// or vector can hold at all (std::length_error), such as a sparse file of exabytes. Shown as the
// system's own text for the condition, as a refused allocation in a system call would be. The
// stack is unwound by then, so the large buffers are freed; should even the line itself find no
// memory, it goes out without colour or formatting.
int report_memory_exhausted() {
  files::remove_pending_temporary_file();
  try {
    return style::print_error_line(error::Error::from_errno(ENOMEM).joined()) ? EXIT_FAILURE
                                                                               : kOutputFailed;
  } catch (const std::bad_alloc&) {
    constexpr std::string_view kLine = "error: Cannot allocate memory (os error 12)\n";
    (void)files::write_all(STDERR_FILENO, kLine);
    return EXIT_FAILURE;
  }
}

}  // namespace

// The entry only wires: set up the process, parse, run the command, print what it has to say,
// and turn the outcome into the exit status. Every way out of the program is here.
int main(int argc, char** argv) try {
  // A closed pipe must come back as an error that the writers ignore, not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  // Past the file-size limit a write must fail with "File too large" and leave the user's file
  // whole, not kill the process halfway through a command.
  std::signal(SIGXFSZ, SIG_IGN);
  // An interrupted run must not leave the half-written copy of a file behind.
  files::enable_cleanup_on_termination_signals();
  files::occupy_closed_standard_descriptors();
  const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  auto parsed = cli::parse_command_line(args, cli::program_name(argc > 0 ? argv[0] : ""));
  if (const auto* outcome = std::get_if<cli::ParserOutcome>(&parsed)) {
    style::print_text(outcome->stream, outcome->text);
    return outcome->status;
  }
  std::optional<cli::Commands>& command = std::get<cli::Cli>(parsed).command;
  if (!command) return EXIT_SUCCESS;
  const error::Result<cli::Messages> messages = cli::execute(std::move(*command));
  if (!messages) {
    return style::print_error_line(messages.error().joined()) ? EXIT_FAILURE : kOutputFailed;
  }
  for (const std::string& message : *messages) {
    if (!style::print_line(style::Stream::Stdout, message)) return kOutputFailed;
  }
  return EXIT_SUCCESS;
} catch (const std::bad_alloc&) {
  return report_memory_exhausted();
} catch (const std::length_error&) {
  return report_memory_exhausted();
}
