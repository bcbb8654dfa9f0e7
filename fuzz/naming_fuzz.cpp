// Name forms: every form is built from the same word list, holds only ASCII letters, digits
// and its own separator, and is stable when converted again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "naming/naming.h"
#include "support/fuzz_support.h"
#include "text/text.h"

using fuzz_support::check;
using fuzz_support::escaped;

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_capital(char c) { return c >= 'A' && c <= 'Z'; }
bool is_small(char c) { return c >= 'a' && c <= 'z'; }
bool is_alnum(char c) { return is_digit(c) || is_capital(c) || is_small(c); }

bool all_of(std::string_view text, bool (*pred)(char)) {
  for (const char c : text) {
    if (!pred(c)) return false;
  }
  return true;
}

// Digits only, capitals only, one capital and small letters, or small letters only.
bool has_word_shape(std::string_view word) {
  if (word.empty()) return false;
  if (all_of(word, is_digit) || all_of(word, is_capital) || all_of(word, is_small)) return true;
  return is_capital(word.front()) && all_of(word.substr(1), is_small);
}

char lower(char c) { return is_capital(c) ? static_cast<char>(c - 'A' + 'a') : c; }
char upper(char c) { return is_small(c) ? static_cast<char>(c - 'a' + 'A') : c; }

std::string lowered(std::string_view word) {
  std::string out;
  for (const char c : word) out += lower(c);
  return out;
}

std::string capitalised(std::string_view word) {
  std::string out = lowered(word);
  if (!out.empty()) out.front() = upper(out.front());
  return out;
}

template <typename Transform>
std::string joined(const std::vector<std::string>& words, std::string_view separator,
                   Transform transform) {
  std::string out;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) out += separator;
    out += transform(words[i]);
  }
  return out;
}

// Where two words touch in the input, the split between them is one the rule makes: a digit
// next to a letter, a capital after a small letter, or an acronym handing its last capital to
// a Capitalised word. Any other split cuts a run that belongs to one word.
bool splits_there(std::string_view before, std::string_view after) {
  const char last = before.back();
  const char first = after.front();
  if (is_digit(last) != is_digit(first)) return true;
  if (is_digit(last) || is_small(first)) return false;
  if (is_small(last)) return true;
  return after.size() > 1 && is_small(after[1]);
}

// The words are the input's ASCII letters and digits, in order, each taken exactly once: the
// characters between two words and after the last are none of them.
void check_words_cover_input(std::string_view input, const std::vector<std::string>& words) {
  std::size_t pos = 0;
  for (std::size_t w = 0; w < words.size(); ++w) {
    const std::string& word = words[w];
    check(has_word_shape(word), "every word is digits, capitals, Capitalised or small letters",
          escaped(word));
    const std::size_t found = input.find(word, pos);
    check(found != std::string_view::npos, "the words stand in the input in order", escaped(word));
    for (std::size_t i = pos; i < found; ++i) {
      check(!is_alnum(input[i]), "no ASCII letter or digit is dropped between words",
            escaped(input));
    }
    if (w > 0 && found == pos) {
      check(splits_there(words[w - 1], word), "adjacent words split where the rule splits",
            escaped(words[w - 1]) + " | " + escaped(word) + " in " + escaped(input));
    }
    pos = found + word.size();
  }
  for (std::size_t i = pos; i < input.size(); ++i) {
    check(!is_alnum(input[i]), "no ASCII letter or digit is dropped after the last word",
          escaped(input));
  }
}

void check_form(std::string_view form, std::string_view expected, char separator,
                bool (*letter)(char), std::string_view name) {
  check(form == expected, name, escaped(form) + " != " + escaped(expected));
  for (const char c : form) {
    check(letter(c) || is_digit(c) || (separator != '\0' && c == separator),
          "a form holds only ASCII letters, digits and its separator", escaped(form));
  }
  if (separator == '\0') return;
  const std::string doubled(2, separator);
  check(form.empty() || (form.front() != separator && form.back() != separator),
        "no leading or trailing separator", escaped(form));
  check(form.find(doubled) == std::string_view::npos, "no doubled separator", escaped(form));
}

bool is_letter(char c) { return is_capital(c) || is_small(c); }

void check_plural(std::string_view input) {
  const std::string plural = naming::to_plural(input);
  check(plural.ends_with('s'), "a plural ends with s", escaped(plural));
  // Only a final "y", "f" or "fe" is replaced; the rest of the text stays.
  const std::size_t kept = input.size() >= 2 ? input.size() - 2 : 0;
  check(plural.starts_with(input.substr(0, kept)), "a plural keeps the text's start",
        escaped(plural));
  check(plural.size() > input.size(), "a plural is longer than the text", escaped(plural));
  check(text::is_valid_utf8(plural), "the plural of UTF-8 is UTF-8", escaped(plural));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz_support::as_text(data, size);
  // Names reach the program through its command line, which passes on UTF-8 only.
  if (!text::is_valid_utf8(input)) return 0;

  const std::vector<std::string> words = naming::split_words(input);
  check_words_cover_input(input, words);

  const std::string snake = naming::to_snake(input);
  const std::string kebab = naming::to_kebab(input);
  const std::string pascal = naming::to_pascal(input);
  const std::string title = naming::to_title(input);
  check_form(snake, joined(words, "_", lowered), '_', is_small, "snake == words lower-cased, _");
  check_form(kebab, joined(words, "-", lowered), '-', is_small, "kebab == words lower-cased, -");
  check_form(title, joined(words, " ", capitalised), ' ', is_letter,
             "title == words capitalised, blank");
  check_form(pascal, joined(words, "", capitalised), '\0', is_letter,
             "pascal == words capitalised, joined");

  // A form keeps the word boundaries (but Pascal, which drops them), so converting it again
  // gives the same forms.
  check(naming::to_snake(snake) == snake, "snake of snake is snake", escaped(input));
  check(naming::to_snake(kebab) == snake, "snake of kebab is snake", escaped(input));
  check(naming::to_snake(title) == snake, "snake of title is snake", escaped(input));
  check(naming::to_kebab(snake) == kebab, "kebab of snake is kebab", escaped(input));
  check(naming::to_title(snake) == title, "title of snake is title", escaped(input));
  check(naming::to_pascal(title) == pascal, "pascal of title is pascal", escaped(input));

  check_plural(input);
  return 0;
}
