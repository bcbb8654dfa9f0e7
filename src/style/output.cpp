#include "style/output.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

#include <fmt/core.h>

#include "error/error.h"
#include "files/descriptor.h"
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

// What one byte does to the scanner: the state after it, and whether it is kept as text.
struct ScanStep {
  Scan next;
  bool keep;
};

Scan after_escape(unsigned char byte) {
  if (byte == '[') return Scan::Csi;
  if (byte == ']' || byte == 'P' || byte == 'X' || byte == '^' || byte == '_') {
    return Scan::ControlString;
  }
  if (is_intermediate(byte)) return Scan::EscIntermediate;
  return Scan::Ground;  // a two-byte sequence: ESC and its final byte
}

ScanStep scan(Scan state, unsigned char byte) {
  if (state == Scan::Ground) return {byte == kEsc ? Scan::Escape : Scan::Ground, byte != kEsc};
  // ESC starts a new sequence wherever it stands; in a control string it is ST's start.
  if (byte == kEsc) return {Scan::Escape, false};
  if (byte == kCan || byte == kSub) return {Scan::Ground, false};
  // The payload of a control string is never shown.
  if (state == Scan::ControlString) return {byte == kBel ? Scan::Ground : state, false};
  // A sequence broken off by text: what was read of it goes, the text stays (so UTF-8 after a
  // stray ESC survives whole).
  if (byte >= 0x80 || byte == 0x7f) return {Scan::Ground, byte >= 0x80};
  // Controls inside a sequence still take effect on a terminal: they are kept.
  if (is_c0_control(byte)) return {state, true};
  switch (state) {
    case Scan::Escape:
      return {after_escape(byte), false};
    case Scan::EscIntermediate:
      return {is_escape_final(byte) ? Scan::Ground : state, false};
    case Scan::Csi:  // parameter and intermediate bytes (0x20 to 0x3f) continue the sequence
      return {is_csi_final(byte) ? Scan::Ground : state, false};
    case Scan::Ground:
    case Scan::ControlString:
      break;  // taken above
  }
  return {state, false};
}

const char* stream_name(Stream stream) { return stream == Stream::Stdout ? "stdout" : "stderr"; }

void report_failed_printing(Stream stream, int errnum) {
  // Best effort: when standard error is the stream that failed, this write fails as well.
  const std::string report = fmt::format("fatal: failed printing to {}: {}\n", stream_name(stream),
                                         error::os_error_text(errnum));
  (void)files::write_all(STDERR_FILENO, report);
}

std::optional<std::string> process_env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

ColourEnv process_colour_env() {
  return {.no_color = process_env("NO_COLOR"),
          .clicolor_force = process_env("CLICOLOR_FORCE"),
          .clicolor = process_env("CLICOLOR"),
          .term = process_env("TERM"),
          .ci = process_env("CI")};
}

}  // namespace

bool colour_enabled(const ColourEnv& env, bool is_terminal) {
  const auto set_and_not_empty = [](const std::optional<std::string>& value) {
    return value.has_value() && !value->empty();
  };
  if (set_and_not_empty(env.no_color)) return false;
  if (set_and_not_empty(env.clicolor_force)) return true;
  if (env.clicolor == "0") return false;
  if (!is_terminal) return false;
  return (env.term.has_value() && *env.term != "dumb") || env.clicolor.has_value() ||
         env.ci.has_value();
}

bool colour_enabled(Stream stream) {
  static const ColourEnv env = process_colour_env();
  static const bool stdout_colour = colour_enabled(env, ::isatty(STDOUT_FILENO) == 1);
  static const bool stderr_colour = colour_enabled(env, ::isatty(STDERR_FILENO) == 1);
  return stream == Stream::Stdout ? stdout_colour : stderr_colour;
}

std::string strip_ansi(std::string_view text) {
  // Without an escape character there is no sequence to drop.
  if (text.find(kEsc) == std::string_view::npos) return std::string(text);
  std::string plain;
  plain.reserve(text.size());
  Scan state = Scan::Ground;
  for (const char c : text) {
    const ScanStep step = scan(state, static_cast<unsigned char>(c));
    if (step.keep) plain += c;
    state = step.next;
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

void print_text(Stream stream, std::string_view text) {
  const std::string shown = colour_enabled(stream) ? std::string(text) : strip_ansi(text);
  (void)files::write_all(stream_fd(stream), shown);
}

bool print_error_line(std::string_view chain) {
  // The chain quotes names and paths as the user gave them.
  return print_line(Stream::Stderr, Red{"error:"}.str() + " " + escape_controls(chain));
}

}  // namespace style
