#include "text/text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace text {

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The UTF-8 sequence that starts at `pos`: its length in bytes and whether it is well-formed.
// An ill-formed one is the longest prefix of a well-formed sequence found there (at least one
// byte), so that each such prefix stands for one replacement character.
struct Sequence {
  std::size_t length;
  bool valid;
};

Sequence sequence_at(std::string_view bytes, std::size_t pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) return {1, true};
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {1, false};
  }
  std::size_t seen = 1;
  if (pos + seen < bytes.size() && byte(pos + seen) >= low && byte(pos + seen) <= high) {
    ++seen;
    while (seen < length && pos + seen < bytes.size() && byte(pos + seen) >= 0x80 &&
           byte(pos + seen) <= 0xBF) {
      ++seen;
    }
  }
  return {seen, seen == length};
}

}  // namespace

namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080u;

// Whether the eight bytes at `pos` (all there) are ASCII.
bool is_ascii_word_at(std::string_view bytes, std::size_t pos) {
  std::uint64_t word;
  std::memcpy(&word, bytes.data() + pos, sizeof word);
  return (word & kHighBits) == 0;
}

}  // namespace

bool is_ascii(std::string_view bytes) {
  // Eight bytes at a time: almost every text the program reads is ASCII.
  std::size_t pos = 0;
  for (; pos + sizeof(std::uint64_t) <= bytes.size(); pos += sizeof(std::uint64_t)) {
    if (!is_ascii_word_at(bytes, pos)) return false;
  }
  for (; pos < bytes.size(); ++pos) {
    if (static_cast<unsigned char>(bytes[pos]) >= 0x80) return false;
  }
  return true;
}

bool is_valid_utf8(std::string_view bytes) {
  for (std::size_t pos = 0; pos < bytes.size();) {
    // Source files are almost all ASCII: eight bytes without a high bit are checked at once.
    if (pos + sizeof(std::uint64_t) <= bytes.size() && is_ascii_word_at(bytes, pos)) {
      pos += sizeof(std::uint64_t);
      continue;
    }
    const Sequence sequence = sequence_at(bytes, pos);
    if (!sequence.valid) return false;
    pos += sequence.length;
  }
  return true;
}

Utf8Char utf8_char_at(std::string_view text, std::size_t pos) {
  const Sequence sequence = sequence_at(text, pos);
  if (!sequence.valid) return {kReplacement, sequence.length, false};
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
  if (sequence.length == 1) return {byte(0), 1, true};
  char32_t c = byte(0) & (0x7F >> sequence.length);
  for (std::size_t i = 1; i < sequence.length; ++i) c = (c << 6) | (byte(i) & 0x3F);
  return {c, sequence.length, true};
}

char32_t decode_utf8(std::string_view text, std::size_t& pos) {
  const Utf8Char character = utf8_char_at(text, pos);
  pos += character.length;
  return character.code_point;
}

void append_utf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
  const auto unit = [](char32_t bits) { return static_cast<char>(bits); };
  if (c < 0x80) {
    out += unit(c);
  } else if (c < 0x800) {
    out += unit(0xC0 | (c >> 6));
    out += unit(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += unit(0xE0 | (c >> 12));
    out += unit(0x80 | ((c >> 6) & 0x3F));
    out += unit(0x80 | (c & 0x3F));
  } else {
    out += unit(0xF0 | (c >> 18));
    out += unit(0x80 | ((c >> 12) & 0x3F));
    out += unit(0x80 | ((c >> 6) & 0x3F));
    out += unit(0x80 | (c & 0x3F));
  }
}

namespace {

bool is_ascii_white_space(unsigned char byte) {
  return (byte >= 0x09 && byte <= 0x0D) || byte == 0x20;
}

}  // namespace

std::string_view trim_start(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    // An ASCII byte is a whole character: no decoding needed.
    if (const auto byte = static_cast<unsigned char>(text[pos]); byte < 0x80) {
      if (!is_ascii_white_space(byte)) break;
      ++pos;
      continue;
    }
    std::size_t next = pos;
    if (!is_white_space(decode_utf8(text, next))) break;
    pos = next;
  }
  return text.substr(pos);
}

std::string_view trim_end(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0) {
    if (const auto byte = static_cast<unsigned char>(text[end - 1]); byte < 0x80) {
      if (!is_ascii_white_space(byte)) break;
      --end;
      continue;
    }
    // Step back to the start of the last code point.
    std::size_t start = end - 1;
    while (start > 0 && end - start < 4 &&
           (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
      --start;
    }
    std::size_t pos = start;
    // Stray continuation bytes are not part of the character before them.
    if (!is_white_space(decode_utf8(text, pos)) || pos != end) break;
    end = start;
  }
  return text.substr(0, end);
}

std::string_view trim(std::string_view text) { return trim_end(trim_start(text)); }

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t newline = text.find('\n', start);
    if (newline == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    std::string_view line = text.substr(start, newline - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = newline + 1;
  }
  return lines;
}

std::vector<std::string_view> path_components(std::string_view path) {
  std::vector<std::string_view> components;
  while (!path.empty()) {
    const std::size_t slash = std::min(path.find('/'), path.size());
    if (slash > 0) components.push_back(path.substr(0, slash));
    path.remove_prefix(std::min(slash + 1, path.size()));
  }
  return components;
}

std::string join_lines(const std::vector<std::string>& lines) {
  std::string joined;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) joined += '\n';
    joined += lines[i];
  }
  return joined;
}

std::string_view strip_trailing_newlines(std::string_view text) {
  while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return text;
}

std::string lossy_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t pos = 0; pos < bytes.size();) {
    const Sequence sequence = sequence_at(bytes, pos);
    if (sequence.valid) {
      out.append(bytes.substr(pos, sequence.length));
    } else {
      out += "\xEF\xBF\xBD";
    }
    pos += sequence.length;
  }
  return out;
}

std::string_view docstring_first_line(std::string_view content) {
  const std::string_view body = trim_start(content);
  if (!body.starts_with(kTripleQuote)) return {};
  const std::size_t close = body.find(kTripleQuote, kTripleQuote.size());
  if (close == std::string_view::npos) return {};
  std::string_view docstring = trim(body.substr(kTripleQuote.size(), close - kTripleQuote.size()));
  const std::size_t newline = docstring.find('\n');
  if (newline != std::string_view::npos) {
    docstring = docstring.substr(0, newline);
    if (docstring.ends_with('\r')) docstring.remove_suffix(1);
  }
  return trim(docstring);
}

std::size_t docstring_end(const std::vector<std::string>& lines, std::size_t start) {
  if (start >= lines.size() || !lines[start].starts_with(kTripleQuote)) return start;
  // Six bytes at least, so that the opening quotes cannot also count as the closing ones.
  const std::string_view first = trim_end(lines[start]);
  if (first.size() >= 2 * kTripleQuote.size() && first.ends_with(kTripleQuote)) return start + 1;
  for (std::size_t i = start + 1; i < lines.size(); ++i) {
    if (trim_end(lines[i]).ends_with(kTripleQuote)) return i + 1;
  }
  return lines.size();
}

double jaro_similarity(std::string_view a, std::string_view b) {
  const auto code_points = [](std::string_view text) {
    std::u32string decoded;
    for (std::size_t pos = 0; pos < text.size();) decoded += decode_utf8(text, pos);
    return decoded;
  };
  const std::u32string left = code_points(a), right = code_points(b);
  if (left.empty() && right.empty()) return 1.0;
  if (left.empty() || right.empty()) return 0.0;
  const std::size_t reach = std::max(left.size(), right.size()) / 2;
  const std::size_t window = reach > 0 ? reach - 1 : 0;
  std::vector<bool> left_matched(left.size()), right_matched(right.size());
  std::size_t matches = 0;
  for (std::size_t i = 0; i < left.size(); ++i) {
    const std::size_t end = std::min(right.size(), i + window + 1);
    for (std::size_t j = i > window ? i - window : 0; j < end; ++j) {
      if (right_matched[j] || left[i] != right[j]) continue;
      left_matched[i] = right_matched[j] = true;
      ++matches;
      break;
    }
  }
  if (matches == 0) return 0.0;
  // Matched characters that come in a different order, counted in halves.
  std::size_t out_of_order = 0;
  for (std::size_t i = 0, j = 0; i < left.size(); ++i) {
    if (!left_matched[i]) continue;
    while (!right_matched[j]) ++j;
    if (left[i] != right[j++]) ++out_of_order;
  }
  const double m = static_cast<double>(matches);
  return (m / static_cast<double>(left.size()) + m / static_cast<double>(right.size()) +
          (m - static_cast<double>(out_of_order / 2)) / m) /
         3.0;
}

}  // namespace text
