// Name forms: the words take every ASCII letter and digit of the input once, in order; each
// form holds only ASCII letters, digits and its own separator, and is stable when converted
// again; a plural only ever grows the text's end.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "naming/naming.h"
#include "support/fuzz_support.h"
#include "text/text.h"

using fuzz_support::check;

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_small_or_digit(char c) { return (c >= 'a' && c <= 'z') || is_digit(c); }

// The concatenated words are the input's ASCII letters and digits, in order and all of them.
void check_words_cover_input(std::string_view input, const std::vector<std::string>& words) {
  std::string letters_and_digits;
  for (const char c : input) {
    if (is_letter(c) || is_digit(c)) letters_and_digits += c;
  }
  std::string concatenated;
  for (const std::string& word : words) {
    check(!word.empty(), "no word is empty", input);
    concatenated += word;
  }
  check(concatenated == letters_and_digits, "the words are the input's ASCII letters and digits",
        input);
}

void check_form(std::string_view form, char separator, bool (*allowed)(char)) {
  for (const char c : form) {
    check(allowed(c) || is_digit(c) || (separator != '\0' && c == separator),
          "a form holds only ASCII letters, digits and its separator", form);
  }
  if (separator == '\0') return;
  check(form.empty() || (form.front() != separator && form.back() != separator),
        "no leading or trailing separator", form);
  check(form.find(std::string(2, separator)) == std::string_view::npos, "no doubled separator",
        form);
}

void check_plural(std::string_view input) {
  const std::string plural = naming::to_plural(input);
  check(plural.ends_with('s'), "a plural ends with s", plural);
  // Only a final "y", "f" or "fe" is replaced; the rest of the text stays.
  const std::size_t kept = input.size() >= 2 ? input.size() - 2 : 0;
  check(plural.starts_with(input.substr(0, kept)), "a plural keeps the text's start", plural);
  check(plural.size() > input.size(), "a plural is longer than the text", plural);
  check(text::is_valid_utf8(plural), "the plural of UTF-8 is UTF-8", plural);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz_support::as_text(data, size);
  // Names reach the program through its command line, which passes on UTF-8 only.
  if (!text::is_valid_utf8(input)) return 0;

  check_words_cover_input(input, naming::split_words(input));
  const std::string snake = naming::to_snake(input);
  const std::string kebab = naming::to_kebab(input);
  const std::string pascal = naming::to_pascal(input);
  const std::string title = naming::to_title(input);
  check_form(snake, '_', is_small_or_digit);
  check_form(kebab, '-', is_small_or_digit);
  check_form(title, ' ', is_letter);
  check_form(pascal, '\0', is_letter);

  // A form keeps the word boundaries (but Pascal, which drops them), so converting it again
  // gives the same forms.
  check(naming::to_snake(snake) == snake, "snake of snake is snake", input);
  check(naming::to_snake(kebab) == snake, "snake of kebab is snake", input);
  check(naming::to_snake(title) == snake, "snake of title is snake", input);
  check(naming::to_kebab(snake) == kebab, "kebab of snake is kebab", input);
  check(naming::to_title(snake) == title, "title of snake is title", input);
  check(naming::to_pascal(title) == pascal, "pascal of title is pascal", input);

  check_plural(input);
  return 0;
}
