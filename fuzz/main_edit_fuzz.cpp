// The main.py edit: applied to its own output it changes nothing, it loses no line of the
// file, it adds nothing but the two imports and the auto-mount block, and a byte-order mark
// stays at the very start.
//
// Input: the text of main.py; when the input holds a NUL byte, the bytes before the first one
// are the source directory name and the rest is the text.
#include <fmt/format.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "generators/main_py.h"
#include "support/fuzz_support.h"
#include "text/text.h"

using fuzz_support::check;

namespace {

constexpr std::string_view kDefaultSource = "src";
constexpr std::string_view kIncludeLine = "app.include_router(_module.router)";

struct Case {
  std::string_view source;
  std::string_view text;
};

// A source name holds no line break: it is the name of a directory and of a Python package.
Case case_of(std::string_view input) {
  const std::size_t nul = input.find('\0');
  if (nul == std::string_view::npos) return {kDefaultSource, input};
  const std::string_view source = input.substr(0, nul);
  const std::string_view text = input.substr(nul + 1);
  if (source.empty() || source.find_first_of("\r\n") != std::string_view::npos) {
    return {kDefaultSource, text};
  }
  return {source, text};
}

// A line as it compares across the edit. A "\r" at the end of a line may turn into part of
// the line end: the edit rejoins lines with "\n", and the last line gains one.
std::string_view comparable(std::string_view line) {
  while (line.ends_with('\r')) line.remove_suffix(1);
  return line;
}

std::string block_text() {
  std::string block;
  for (const std::string_view line : generators::main_py::kAutoMountBlock) {
    if (!block.empty()) block += '\n';
    block += line;
  }
  return block;
}

// Every non-empty line of the text stands in the edited text, in the same order; what the
// edit added in between is empty lines, "import importlib", the registry import and the block
// lines, each at most once.
void check_lines_kept(const Case& input, std::string_view edited, const std::string& detail) {
  const std::vector<std::string_view> before = text::split_lines(input.text);
  const std::vector<std::string_view> after = text::split_lines(edited);
  std::map<std::string, int, std::less<>> may_add = {
      {"import importlib", 1},
      {fmt::format("from {}.modules import modules", input.source), 1}};
  for (const std::string_view line : generators::main_py::kAutoMountBlock)
    ++may_add[std::string(line)];
  // Lines of the text are matched in order; any other line must be one the edit may add.
  std::size_t kept = 0;
  const auto skip_empty = [&] {
    while (kept < before.size() && comparable(before[kept]).empty()) ++kept;
  };
  for (const std::string_view line : after) {
    skip_empty();
    const std::string_view shown = comparable(line);
    if (kept < before.size() && comparable(before[kept]) == shown) {
      ++kept;
    } else if (!shown.empty()) {
      const auto allowed = may_add.find(shown);
      check(allowed != may_add.end() && allowed->second-- > 0,
            "the edit adds only the imports and the block", fmt::format("{}; {}", shown, detail));
    }
  }
  skip_empty();
  check(kept == before.size(), "the edit keeps every non-empty line in order", detail);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Case input = case_of(fuzz_support::as_text(data, size));
  // main.py is read as UTF-8 text before it is edited, and a source name is UTF-8 too.
  if (!text::is_valid_utf8(input.text) || !text::is_valid_utf8(input.source)) return 0;
  const std::string detail = fmt::format("source {}, text {}", input.source, input.text);

  const std::optional<std::string> edited =
      generators::main_py::insert_auto_mount(input.text, input.source);
  // A text that mentions the block's start marker or include line is left alone unless it
  // mentions them only inside string literals, which the reading of strings decides.
  const bool mentions_block =
      input.text.find(generators::main_py::kAutoMountBlock.front()) != std::string_view::npos ||
      input.text.find(kIncludeLine) != std::string_view::npos;
  check(edited.has_value() || mentions_block,
        "a text without the block's start marker and include line is edited", detail);
  if (!edited) return 0;

  const std::string edited_detail = "edited " + *edited + "; " + detail;
  check(text::is_valid_utf8(*edited), "the edited text is UTF-8", edited_detail);
  check(edited->find(block_text()) != std::string::npos, "the edited text holds the block whole",
        edited_detail);
  check(edited->ends_with('\n') || edited->ends_with(generators::main_py::kAutoMountBlock.back()),
        "the edited text ends with a line feed, or with the block when it was appended",
        edited_detail);
  // The mark stays in front of everything; the lines are compared after it.
  const bool marked = input.text.starts_with(text::kByteOrderMark);
  check(edited->starts_with(text::kByteOrderMark) == marked,
        "a byte-order mark stays first, and none is added", edited_detail);
  const std::size_t mark = marked ? text::kByteOrderMark.size() : 0;
  check_lines_kept({input.source, input.text.substr(mark)},
                   std::string_view(*edited).substr(mark), edited_detail);

  const std::optional<std::string> again =
      generators::main_py::insert_auto_mount(*edited, input.source);
  check(!again.has_value(), "the edit applied to its own output changes nothing", edited_detail);
  return 0;
}
