#pragma once

#include <optional>
#include <string>
#include <string_view>

// The colour-aware standard output and standard error, and the rule by which the program
// writes its own messages to them.
namespace style {

enum class Stream { Stdout, Stderr };

/// The file descriptor of the stream.
int stream_fd(Stream stream);

/// The environment variables that decide colour, each none when unset.
struct ColourEnv {
  std::optional<std::string> no_color;
  std::optional<std::string> clicolor_force;
  std::optional<std::string> clicolor;
  std::optional<std::string> term;
  std::optional<std::string> ci;
};

/// The colour decision, as a pure function of the variables and of whether the stream is a
/// terminal. NO_COLOR (non-empty) -> off; CLICOLOR_FORCE (non-empty) -> on; CLICOLOR == "0" ->
/// off; not a terminal -> off; else on when TERM is set and not "dumb", or CLICOLOR or CI is set.
bool colour_enabled(const ColourEnv& env, bool is_terminal);

/// Whether colour is on for this process's stream (environment and terminal queried once).
bool colour_enabled(Stream stream);

/// The text with every ANSI escape sequence removed.
std::string strip_ansi(std::string_view text);

/// Writes one message line: `text` and "\n" in one write, colour codes stripped when colour
/// is off. A closed pipe is ignored and a closed descriptor counts as written. Any other
/// failure is reported on standard error as "fatal: failed printing to stdout: {}" (or
/// stderr), and the result is false: the program then ends with its own status for that.
/// Once a stream failed, later lines to it are not written and give false, unreported.
[[nodiscard]] bool print_line(Stream stream, std::string_view text);

/// Writes `text` as it is, colour codes stripped when colour is off. A failed write is ignored:
/// the command line's help and usage texts end the program with their own status anyway.
void print_text(Stream stream, std::string_view text);

/// Writes the error line "error: <chain>" (prefix in red) to standard error by print_line's rule.
[[nodiscard]] bool print_error_line(std::string_view chain);

}  // namespace style
