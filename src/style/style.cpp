#include "style/style.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <fmt/core.h>

namespace style {
namespace {

void append_hex_escape(std::string& out, unsigned code) {
  out += fmt::format("\\x{:02x}", code);
}

bool is_c0_or_delete(unsigned char byte) { return (byte < 0x20 && byte != '\t') || byte == 0x7f; }

// U+0080 to U+009F, written C2 80 to C2 9F: CSI (U+009B) and OSC (U+009D) among them act like
// ESC sequences.
bool is_c1_at(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]) == 0xc2 && i + 1 < text.size() &&
         static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
         static_cast<unsigned char>(text[i + 1]) <= 0x9f;
}

}  // namespace

bool has_controls(std::string_view text) {
  std::size_t i = 0;
  // Eight bytes at a time while none of them is a control, DEL or C2, the lead byte of C1; the
  // last few bytes are made a word with letters after them.
  constexpr std::uint64_t kOnes = 0x0101010101010101u, kHighBits = 0x8080808080808080u;
  const auto has_zero_byte = [](std::uint64_t x) { return ((x - kOnes) & ~x & kHighBits) != 0; };
  for (; i < text.size(); i += sizeof(std::uint64_t)) {
    std::uint64_t word = kOnes * 'a';
    std::memcpy(&word, text.data() + i, std::min(sizeof word, text.size() - i));
    const bool below_space = ((word - kOnes * 0x20) & ~word & kHighBits) != 0;
    if (below_space || has_zero_byte(word ^ (kOnes * 0x7f)) ||
        has_zero_byte(word ^ (kOnes * 0xc2))) {
      break;
    }
  }
  for (; i < text.size(); ++i) {
    if (is_c0_or_delete(static_cast<unsigned char>(text[i])) || is_c1_at(text, i)) return true;
  }
  return false;
}

std::string escape_controls(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\n') {
      shown += "\\n";
    } else if (byte == '\r') {
      shown += "\\r";
    } else if (is_c0_or_delete(byte)) {
      append_hex_escape(shown, byte);
    } else if (is_c1_at(text, i)) {
      append_hex_escape(shown, static_cast<unsigned char>(text[++i]));
    } else {
      shown += text[i];
    }
  }
  return shown;
}

}  // namespace style
