#pragma once

#include <string>
#include <string_view>
#include <vector>

// Text rules shared by every module that reads or builds text: UTF-8 checks, Unicode
// White_Space trimming and the splitting of a text into lines.
namespace text {

/// The UTF-8 byte-order mark, which some editors put at the start of a file.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

/// Whether the byte is an ASCII letter or digit.
constexpr bool is_ascii_alphanumeric(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

/// Whether the byte may stand in a Python identifier after its first character: an ASCII
/// letter, digit or "_", or any byte of a character beyond ASCII (Python takes most letters of
/// other scripts).
constexpr bool continues_identifier(char c) {
  return static_cast<unsigned char>(c) >= 0x80 || c == '_' || is_ascii_alphanumeric(c);
}

/// Whether the code point has the Unicode White_Space property.
bool is_white_space(char32_t c);

/// Whether every byte is ASCII (below 0x80).
bool is_ascii(std::string_view bytes);

/// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

/// The character that starts at `pos`: its code point and the bytes it spans. An ill-formed
/// sequence spans the longest start of a well-formed one found there (at least one byte), is
/// not valid, and stands for U+FFFD, as lossy_utf8 replaces it.
struct Utf8Char {
  char32_t code_point;
  std::size_t length;
  bool valid;
};
Utf8Char utf8_char_at(std::string_view text, std::size_t pos);

/// Decodes the code point at `pos` and advances `pos` past it (utf8_char_at).
char32_t decode_utf8(std::string_view text, std::size_t& pos);

/// Appends the UTF-8 form of a code point (a surrogate or a value past U+10FFFF as U+FFFD).
void append_utf8(std::string& out, char32_t c);

/// The text without leading / trailing / both Unicode White_Space. Bytes that are not UTF-8
/// are never white space.
std::string_view trim_start(std::string_view text);
std::string_view trim_end(std::string_view text);
std::string_view trim(std::string_view text);

/// The lines of a text: split at "\n", one "\r" before each "\n" removed, the last line needs
/// no "\n", and an empty text has no lines.
std::vector<std::string_view> split_lines(std::string_view text);

/// The components of a "/"-separated path, in order; the empty ones that repeated, leading or
/// trailing slashes would make are left out ("./a//b/" gives ".", "a", "b").
std::vector<std::string_view> path_components(std::string_view path);

/// The lines joined with "\n" (no final "\n").
std::string join_lines(const std::vector<std::string>& lines);

/// Three double quotes, which open and close a Python docstring.
inline constexpr std::string_view kTripleQuote = R"(""")";

// A Python module's docstring, found by two rules: reading a module's description looks into
// the text, while placing imports in main.py works line by line and must know where the
// docstring's last line is even when it closes in the middle of it.

/// The first line of the docstring that opens a module's text (after leading White_Space),
/// trimmed: the text from the opening quotes to the next three double quotes, trimmed, up to
/// its first line feed. Empty without a docstring there or without closing quotes.
std::string_view docstring_first_line(std::string_view content);

/// The first line after the docstring that opens at line `start` (three double quotes at its
/// beginning): the next line when `start` itself is a one-line docstring (at least six bytes
/// ending, trimmed, with three double quotes), else the line after the first later one that
/// ends, trimmed, with three double quotes, or the number of lines when none does. `start`
/// itself when no docstring opens there.
std::size_t docstring_end(const std::vector<std::string>& lines, std::size_t start);

/// The text with every trailing "\n" removed (a "\r" stops the removal).
std::string_view strip_trailing_newlines(std::string_view text);

/// The Jaro similarity of two texts compared code point by code point: 1 for equal texts, 0
/// when they share nothing (and when exactly one is empty). Mistyped names are matched by it.
double jaro_similarity(std::string_view a, std::string_view b);

/// The bytes as text for display: each maximal ill-formed UTF-8 subpart becomes one U+FFFD.
std::string lossy_utf8(std::string_view bytes);

}  // namespace text
