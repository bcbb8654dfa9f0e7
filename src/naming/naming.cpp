#include "naming/naming.h"

#include <algorithm>
#include <array>

#include <utf8proc.h>

#include "text/text.h"

namespace naming {

namespace {

constexpr std::array<std::string_view, 35> kPythonKeywords = {
    "False",  "None",     "True",    "and",    "as",       "assert", "async",
    "await",  "break",    "class",   "continue", "def",    "del",    "elif",
    "else",   "except",   "finally", "for",    "from",     "global", "if",
    "import", "in",       "is",      "lambda", "nonlocal", "not",    "or",
    "pass",   "raise",    "return",  "try",    "while",    "with",   "yield",
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_capital(char c) { return c >= 'A' && c <= 'Z'; }
bool is_small(char c) { return c >= 'a' && c <= 'z'; }

// The end of the run of characters matching `pred` that starts at `pos`.
template <typename Pred>
std::size_t run_end(std::string_view text, std::size_t pos, Pred pred) {
  while (pos < text.size() && pred(text[pos])) ++pos;
  return pos;
}

// The length of the word that starts at `pos` with a capital.
std::size_t capital_word_length(std::string_view text, std::size_t pos) {
  const std::size_t capitals_end = run_end(text, pos, is_capital);
  if (capitals_end == text.size() || !is_small(text[capitals_end])) return capitals_end - pos;
  // An acronym hands its last capital to the capitalised word that follows it.
  if (capitals_end - pos > 1) return capitals_end - pos - 1;
  return run_end(text, capitals_end, is_small) - pos;
}

// Maps every character of the text through `map`; bytes that are not UTF-8 are kept as they are.
template <typename Map>
void append_mapped(std::string& out, std::string_view word, Map map) {
  for (std::size_t pos = 0; pos < word.size();) {
    const text::Utf8Char character = text::utf8_char_at(word, pos);
    if (character.valid) {
      const auto mapped = map(static_cast<utf8proc_int32_t>(character.code_point));
      text::append_utf8(out, static_cast<char32_t>(mapped));
    } else {
      out.append(word.substr(pos, character.length));
    }
    pos += character.length;
  }
}

std::string lowercase(std::string_view word) {
  std::string out;
  append_mapped(out, word, utf8proc_tolower);
  return out;
}

// The words, each transformed, with the separator between neighbours.
template <typename Transform>
std::string join_words(const std::vector<std::string>& words, std::string_view separator,
                       Transform transform) {
  std::string out;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) out += separator;
    out += transform(words[i]);
  }
  return out;
}

}  // namespace

std::vector<std::string> split_words(std::string_view text) {
  // Every byte of a character outside ASCII is >= 0x80, so scanning bytes drops such a
  // character whole; separators need no pass of their own since they are dropped alike.
  std::vector<std::string> words;
  for (std::size_t pos = 0; pos < text.size();) {
    const char c = text[pos];
    std::size_t length = 0;
    if (is_digit(c)) {
      length = run_end(text, pos, is_digit) - pos;
    } else if (is_capital(c)) {
      length = capital_word_length(text, pos);
    } else if (is_small(c)) {
      length = run_end(text, pos, is_small) - pos;
    }
    if (length == 0) {
      ++pos;
      continue;
    }
    words.emplace_back(text.substr(pos, length));
    pos += length;
  }
  return words;
}

std::string capitalize(std::string_view word) {
  std::string out;
  if (word.empty()) return out;
  const std::size_t first = text::utf8_char_at(word, 0).length;
  append_mapped(out, word.substr(0, first), utf8proc_toupper);
  append_mapped(out, word.substr(first), utf8proc_tolower);
  return out;
}

std::string join_lowercase(const std::vector<std::string>& words, char separator) {
  return join_words(words, std::string_view(&separator, 1), lowercase);
}

std::string to_snake(std::string_view text) { return join_lowercase(split_words(text), '_'); }
std::string to_kebab(std::string_view text) { return join_lowercase(split_words(text), '-'); }
std::string to_title(std::string_view text) {
  return join_words(split_words(text), " ", capitalize);
}
std::string to_pascal(std::string_view text) {
  return join_words(split_words(text), "", capitalize);
}

std::string to_plural(std::string_view text) {
  // Every suffix tested is ASCII, and no ASCII byte occurs inside a longer UTF-8 character, so
  // byte comparisons agree with character comparisons here.
  const std::string whole(text);
  if (text.empty()) return "s";
  const char last = text.back();
  if (last == 's' || last == 'x' || last == 'z') return whole + "es";
  if (text.ends_with("ch") || text.ends_with("sh")) return whole + "es";
  if (last == 'y' && text.size() >= 2 &&
      std::string_view("aeiou").find(text[text.size() - 2]) == std::string_view::npos) {
    return std::string(text.substr(0, text.size() - 1)) + "ies";
  }
  if (last == 'f') return std::string(text.substr(0, text.size() - 1)) + "ves";
  if (text.ends_with("fe")) return std::string(text.substr(0, text.size() - 2)) + "ves";
  return whole + "s";
}

bool is_python_keyword(std::string_view word) {
  return std::ranges::find(kPythonKeywords, word) != kPythonKeywords.end();
}

}  // namespace naming
