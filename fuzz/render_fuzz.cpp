// The renderer: any template text renders or gives an error value naming a line of the text;
// a text without expressions renders to itself.
#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "error/error.h"
#include "render/render.h"
#include "support/fuzz_support.h"
#include "text/text.h"

using fuzz_support::check;

namespace {

// The keys the generators put, with values that need care in JSON and in the output.
const render::Context& fixed_context() {
  static const render::Context context = [] {
    render::Context built;
    built.put("source", "src")
        .put("project_name", "shop-api")
        .put("title", "Shop's \"API\" <&>")
        .put("description", "Caf\xC3\xA9 \\ tab\tline\nend")
        .put("version", "0.1.0")
        .put("create_date", "2024-01-02 03:04:05.000006")
        .put("pascal", "BlogPost")
        .put("snake", "blog_post")
        .put("kebab", "blog-post")
        .put("plural", "blog_posts")
        .put("empty", "");
    return built;
  }();
  return context;
}

// The text as the renderer sees it: one final "\n", then one final "\r", dropped.
std::string_view without_final_newline(std::string_view text) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  if (text.ends_with('\r')) text.remove_suffix(1);
  return text;
}

// The line number in the last "(line N)" of the message, or 0 when there is none.
std::size_t line_named(std::string_view message) {
  const std::size_t at = message.rfind("(line ");
  if (at == std::string_view::npos) return 0;
  const std::string_view digits = message.substr(at + 6);
  std::size_t line = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), line);
  if (error != std::errc() || end == digits.data() || *end != ')') return 0;
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz_support::as_text(data, size);
  // Template texts are compiled into the program and are all UTF-8.
  if (!text::is_valid_utf8(input)) return 0;

  const error::Result<std::string> rendered = render::render_str(input, fixed_context());
  if (!rendered) {
    const std::string message = rendered.error().joined();
    check(!message.empty() && !message.ends_with(": "), "an error has a message", input);
    check(text::is_valid_utf8(message), "an error message is UTF-8", message);
    const std::size_t lines = 1 + static_cast<std::size_t>(std::ranges::count(input, '\n'));
    const std::size_t line = line_named(message);
    check(line >= 1 && line <= lines, "an error names a line of the text",
          fmt::format("{} for {}", message, input));
    return 0;
  }

  check(text::is_valid_utf8(*rendered), "the output of UTF-8 is UTF-8", *rendered);
  if (input.find('{') == std::string_view::npos) {
    check(*rendered == without_final_newline(input), "a text without expressions renders to itself",
          *rendered);
  }
  return 0;
}
