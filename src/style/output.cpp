#include "style/output.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

#include <fmt/format.h>

#include "error/error.h"
#include "files/files.h"
#include "style/style.h"

namespace style {

int stream_fd(Stream stream) { return stream == Stream::Stdout ? STDOUT_FILENO : STDERR_FILENO; }

namespace {

constexpr char kEsc = '\x1b';
constexpr char kBel = '\x07';
// CAN and SUB abort an escape sequence in progress; the aborting byte itself is dropped.
constexpr char kCan = '\x18';
constexpr char kSub = '\x1a';

bool is_c0_control(unsigned char byte) { return byte < 0x20; }
bool is_intermediate(unsigned char byte) { return byte >= 0x20 && byte <= 0x2f; }
bool is_csi_final(unsigned char byte) { return byte >= 0x40 && byte <= 0x7e; }
bool is_escape_final(unsigned char byte) { return byte >= 0x30 && byte <= 0x7e; }

// The states of the escape-sequence scanner (after ECMA-48 / the VT parser).
enum class Scan {
  Ground,           // plain text
  Escape,           // after ESC
  EscIntermediate,  // ESC followed by intermediate bytes
  Csi,              // ESC [ parameters and intermediates
  ControlString,    // OSC, DCS, SOS, PM or APC payload, ended by BEL or ESC \ (ST)
};

const char* stream_name(Stream stream) { return stream == Stream::Stdout ? "stdout" : "stderr"; }

void report_failed_printing(Stream stream, int errnum) {
  // Best effort: when standard error is the stream that failed, this write fails as well.
  const std::string report = fmt::format("fatal: failed printing to {}: {}\n", stream_name(stream),
                                         error::os_error_text(errnum));
  (void)files::write_all(STDERR_FILENO, report);
}

std::optional<std::string> process_env(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace

bool colour_enabled(const std::function<std::optional<std::string>(std::string_view)>& env,
                    bool is_terminal) {
  const auto set_and_not_empty = [&](std::string_view name) {
    const auto value = env(name);
    return value.has_value() && !value->empty();
  };
  if (set_and_not_empty("NO_COLOR")) return false;
  if (set_and_not_empty("CLICOLOR_FORCE")) return true;
  const auto clicolor = env("CLICOLOR");
  if (clicolor == "0") return false;
  if (!is_terminal) return false;
  const auto term = env("TERM");
  return (term.has_value() && *term != "dumb") || clicolor.has_value() || env("CI").has_value();
}

bool colour_enabled(Stream stream) {
  static const bool stdout_colour = colour_enabled(process_env, ::isatty(STDOUT_FILENO) == 1);
  static const bool stderr_colour = colour_enabled(process_env, ::isatty(STDERR_FILENO) == 1);
  return stream == Stream::Stdout ? stdout_colour : stderr_colour;
}

std::string strip_ansi(std::string_view text) {
  // Without an escape character there is no sequence to drop.
  if (text.find(kEsc) == std::string_view::npos) return std::string(text);
  std::string plain;
  plain.reserve(text.size());
  Scan state = Scan::Ground;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    if (state == Scan::Ground) {
      if (c == kEsc) {
        state = Scan::Escape;
      } else {
        plain += c;
      }
      continue;
    }
    if (c == kEsc) {  // ESC starts a new sequence wherever it stands; in a string it is ST's start
      state = Scan::Escape;
      continue;
    }
    if (c == kCan || c == kSub) {
      state = Scan::Ground;
      continue;
    }
    if (state == Scan::ControlString) {
      if (c == kBel) state = Scan::Ground;
      continue;  // the payload is never shown
    }
    if (byte >= 0x80 || byte == 0x7f) {
      // A sequence broken off by text: drop what was read of it, keep the text (so UTF-8 after
      // a stray ESC survives whole).
      if (byte >= 0x80) plain += c;
      state = Scan::Ground;
      continue;
    }
    if (is_c0_control(byte)) {
      plain += c;  // controls inside a sequence still take effect on a terminal: keep them
      continue;
    }
    switch (state) {
      case Scan::Escape:
        if (c == '[') {
          state = Scan::Csi;
        } else if (c == ']' || c == 'P' || c == 'X' || c == '^' || c == '_') {
          state = Scan::ControlString;
        } else if (is_intermediate(byte)) {
          state = Scan::EscIntermediate;
        } else {
          state = Scan::Ground;  // a two-byte sequence: ESC and its final byte
        }
        break;
      case Scan::EscIntermediate:
        if (is_escape_final(byte)) state = Scan::Ground;
        break;
      case Scan::Csi:
        // parameter and intermediate bytes (0x20 to 0x3f) continue the sequence
        if (is_csi_final(byte)) state = Scan::Ground;
        break;
      default:
        break;
    }
  }
  return plain;
}

bool print_line(Stream stream, std::string_view text) {
  // One failure is reported once, however many lines were still to come.
  static bool failed[2] = {false, false};
  bool& stream_failed = failed[stream == Stream::Stdout ? 0 : 1];
  if (stream_failed) return false;
  // Sized for the line feed from the start: a long text is copied once.
  std::string line;
  if (colour_enabled(stream) || text.find(kEsc) == std::string_view::npos) {
    line.reserve(text.size() + 1);
    line = text;
  } else {
    line = strip_ansi(text);
  }
  line += '\n';
  const error::Result<void> written = files::write_all(stream_fd(stream), line);
  if (written) return true;
  // A reader that went away is not our failure, and a descriptor that was never open
  // swallows what is written to it.
  const int errnum = written.error().os_error();
  if (errnum == EPIPE || errnum == EBADF) return true;
  report_failed_printing(stream, errnum);
  stream_failed = true;
  return false;
}

bool print_error_line(std::string_view chain) {
  // The chain quotes names and paths as the user gave them.
  return print_line(Stream::Stderr, fmt::format("{} {}", Red{"error:"}, escape_controls(chain)));
}

}  // namespace style
