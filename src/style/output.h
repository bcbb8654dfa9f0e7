#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The colour-aware standard output and standard error, and the rule by which the program
// writes its own messages to them.
namespace style {

enum class Stream { Stdout, Stderr };

/// The file descriptor of the stream.
int stream_fd(Stream stream);

/// The colour decision, as a pure function: `env` answers the value of an environment
/// variable (none when unset) and `is_terminal` whether the stream is a terminal.
/// NO_COLOR (non-empty) -> off; CLICOLOR_FORCE (non-empty) -> on; CLICOLOR == "0" -> off;
/// not a terminal -> off; else on when TERM is set and not "dumb", or CLICOLOR or CI is set.
bool colour_enabled(const std::function<std::optional<std::string>(std::string_view)>& env,
                    bool is_terminal);

/// Whether colour is on for this process's stream (environment and terminal queried once).
bool colour_enabled(Stream stream);

/// The text with every ANSI escape sequence removed.
std::string strip_ansi(std::string_view text);

/// Writes one message line: `text` and "\n" in one write, colour codes stripped when colour
/// is off. A closed pipe is ignored and a closed descriptor counts as written; any other
/// failure ends the process with status 101 and "failed printing to stdout: {}" (or stderr).
void print_line(Stream stream, std::string_view text);

/// print_line on standard output: the rule for the command layer's own messages.
inline void print_stdout(std::string_view text) { print_line(Stream::Stdout, text); }

/// print_stdout of each line in turn (the run report).
inline void print_stdout(std::span<const std::string> lines) {
  for (const std::string& line : lines) print_stdout(line);
}

/// Writes the error line "error: <chain>" (prefix in red) to standard error by print_line's rule.
void print_error_line(std::string_view chain);

}  // namespace style
