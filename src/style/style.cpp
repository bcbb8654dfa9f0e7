#include "style/style.h"

#include <fmt/core.h>

namespace style {
namespace {

void append_hex_escape(std::string& out, unsigned code) {
  out += fmt::format("\\x{:02x}", code);
}

}  // namespace

std::string escape_controls(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\n') {
      shown += "\\n";
    } else if (byte == '\r') {
      shown += "\\r";
    } else if ((byte < 0x20 && byte != '\t') || byte == 0x7f) {
      append_hex_escape(shown, byte);
    } else if (byte == 0xc2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
      // U+0080 to U+009F: CSI (U+009B) and OSC (U+009D) among them act like ESC sequences.
      append_hex_escape(shown, static_cast<unsigned char>(text[++i]));
    } else {
      shown += text[i];
    }
  }
  return shown;
}

}  // namespace style
