#include "generators/main_py.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <fmt/core.h>

#include "files/files.h"
#include "files/resolve.h"
#include "generators/registry.h"
#include "text/text.h"

namespace generators::main_py {

namespace {

constexpr std::string_view kStartMarker = kAutoMountBlock.front();
constexpr std::string_view kIncludeLine = "app.include_router(_module.router)";
constexpr std::string_view kImportPrefix = "import ";
constexpr std::string_view kFromPrefix = "from ";
constexpr std::string_view kImportlibLine = "import importlib";
constexpr std::string_view kFuturePrefix = "from __future__";
constexpr std::string_view kAppLinePrefix = "app = FastAPI(";

using Lines = std::vector<std::string>;
using Group = std::vector<std::string>;

/// The import groups at the top of the file and where they end.
struct ImportHeader {
  std::vector<Group> groups;
  std::size_t end = 0;              ///< the first line after the header
  std::size_t trailing_blanks = 0;  ///< empty lines directly before `end`
};

// The comments a file opens with (a shebang, an encoding line, a licence header) and the
// blank lines among and after them. They must stay first: a shebang or an encoding line only
// works there, and a `from __future__` import further down must stay above any other import.
std::size_t leading_comments_end(const Lines& lines) {
  if (lines.empty() || !lines[0].starts_with('#')) return 0;
  std::size_t i = 0;
  while (i < lines.size() && (lines[i].starts_with('#') || text::trim(lines[i]).empty())) ++i;
  return i;
}

/// Where a line of Python code leaves off: in code, or inside a string literal that goes on.
struct StringState {
  char quote = 0;  ///< the quote character of the open string; 0 in code
  bool triple = false;
};

/// What the code of one line holds: its parentheses, whether a backslash ends it and so
/// carries the statement on to the next line, and whether a string that an earlier line left
/// open closes on it.
struct LineCode {
  std::ptrdiff_t opens = 0, closes = 0;
  bool continued = false;
  bool closes_carried_string = false;
};

// Whether the quote character at `pos` is the first of three alike.
bool triple_quote_at(std::string_view line, std::size_t pos) {
  return pos + 2 < line.size() && line[pos + 1] == line[pos] && line[pos + 2] == line[pos];
}

// The parentheses and final backslash of one line that belong to the code: those inside comments
// do not count, nor do parentheses inside string literals, so a title such as "Shop :)" cannot
// end the call early and "# see \" continues nothing. `state` carries a string that goes on to
// the next line (triple-quoted, or continued by a backslash).
LineCode scan_line_code(std::string_view line, StringState& state) {
  LineCode code;
  bool carried = state.quote != 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (state.quote != 0) {
      if (c == '\\') {
        code.continued = i + 1 == line.size();
        ++i;
      } else if (c == state.quote && (!state.triple || triple_quote_at(line, i))) {
        if (state.triple) i += 2;
        state = {};
        code.closes_carried_string = code.closes_carried_string || carried;
        carried = false;
      }
    } else if (c == '#') {
      break;
    } else if (c == '\\') {
      code.continued = i + 1 == line.size();
    } else if (c == '"' || c == '\'') {
      state.quote = c;
      state.triple = triple_quote_at(line, i);
      if (state.triple) i += 2;
    } else if (c == '(') {
      ++code.opens;
    } else if (c == ')') {
      ++code.closes;
    }
  }
  if (state.quote != 0 && !state.triple && !code.continued) state = {};  // an unclosed string ends
  return code;
}

// Which lines lie inside a string literal: those that begin inside a string that an earlier
// line opened and a later quote closes. A string that never closes is no literal (the file
// does not parse from there on), so its lines count as code, as every line did before strings
// were read. The lines are read from the top only as far as a question needs: the application
// line is near the top of a long file.
class StringLines {
 public:
  explicit StringLines(const Lines& lines) : lines_(lines), inside_(lines.size(), false) {}

  bool inside(std::size_t line) {
    // Read on until the line's start is known and, when a string is open there, until it closes.
    while (read_ < lines_.size() && (read_ <= line || (state_.quote != 0 && opened_ < line))) {
      read_line();
    }
    return inside_[line];
  }

 private:
  void read_line() {
    const bool carried = state_.quote != 0;
    const bool closed = scan_line_code(lines_[read_], state_).closes_carried_string;
    if (closed) {
      std::fill(inside_.begin() + static_cast<std::ptrdiff_t>(opened_) + 1,
                inside_.begin() + static_cast<std::ptrdiff_t>(read_) + 1, true);
    }
    if (state_.quote != 0 && (!carried || closed)) opened_ = read_;
    ++read_;
  }

  const Lines& lines_;
  std::vector<bool> inside_;
  std::size_t read_ = 0;    // the lines read so far
  StringState state_;       // where the lines read leave off
  std::size_t opened_ = 0;  // the line on which the string still open began
};

// Whether an import line leaves its statement open: parentheses still to close, or a
// backslash continuation. Nothing may be inserted after such a line, or the inserted import
// would land inside the statement.
bool continues_on_next_line(std::string_view line) {
  StringState state;
  const LineCode code = scan_line_code(line, state);
  return code.continued || code.opens > code.closes;
}

bool is_import_line(std::string_view line) {
  return (line.starts_with(kImportPrefix) || line.starts_with(kFromPrefix)) &&
         !continues_on_next_line(line);
}

ImportHeader scan_import_header(const Lines& lines, std::size_t start) {
  ImportHeader header;
  Group current;
  std::size_t i = start;
  for (; i < lines.size(); ++i) {
    if (is_import_line(lines[i])) {
      current.push_back(lines[i]);
    } else if (lines[i].empty()) {
      if (!current.empty()) header.groups.push_back(std::exchange(current, {}));
    } else {
      break;
    }
  }
  if (!current.empty()) header.groups.push_back(std::move(current));
  header.end = i;
  while (i > start && lines[i - 1].empty()) {
    ++header.trailing_blanks;
    --i;
  }
  return header;
}

// Whether the line begins with `import_line` and binds `name` with it: the import binds its
// own first name unless "as" renames it. "import importlib.util" and "from src.modules import
// modules, other" bind the name; "import importlib_metadata" and "import importlib as il" do
// not, and would leave the block without it.
bool binds_name(std::string_view line, std::string_view import_line, std::string_view name) {
  if (!line.starts_with(import_line)) return false;
  std::string_view rest = line.substr(import_line.size());
  if (!rest.empty() && text::continues_identifier(rest.front())) return false;
  while (!rest.empty() && (rest.front() == '.' || text::continues_identifier(rest.front()))) {
    rest.remove_prefix(1);
  }
  rest = text::trim_start(rest);
  const bool renamed =
      rest.starts_with("as") && (rest.size() == 2 || !text::continues_identifier(rest[2]));
  if (!renamed) return true;
  rest = text::trim_start(rest.substr(2));
  std::size_t length = 0;
  while (length < rest.size() && text::continues_identifier(rest[length])) ++length;
  return rest.substr(0, length) == name;
}

bool already_imported(const Lines& lines, std::string_view import_line, std::string_view name) {
  return std::ranges::any_of(
      lines, [&](std::string_view line) { return binds_name(line, import_line, name); });
}

// After the leading __future__ imports and the plain imports that sort before it, so that an
// alphabetised first group stays alphabetised.
void add_importlib(std::vector<Group>& groups) {
  if (groups.empty()) {
    groups.push_back({std::string(kImportlibLine)});
    return;
  }
  Group& first = groups.front();
  auto at = first.begin();
  while (at != first.end() && at->starts_with(kFuturePrefix)) ++at;
  while (at != first.end() && at->starts_with(kImportPrefix) &&
         std::string_view(*at) < kImportlibLine) {
    ++at;
  }
  first.insert(at, std::string(kImportlibLine));
}

// Beside the project's own imports when there are any, else as a group of its own at the end.
void add_registry_import(std::vector<Group>& groups, const std::string& registry_import,
                         const std::string& package_prefix) {
  const auto in_package = [&](const std::string& line) { return line.starts_with(package_prefix); };
  for (Group& group : groups) {
    const auto run_start = std::ranges::find_if(group, in_package);
    if (run_start == group.end()) continue;
    const auto run_end = std::find_if_not(run_start, group.end(), in_package);
    const auto at = std::find_if(run_start, run_end,
                                 [&](const std::string& line) { return line >= registry_import; });
    group.insert(at, registry_import);
    return;
  }
  groups.push_back({registry_import});
}

Lines rebuild_header(const ImportHeader& header) {
  Lines rebuilt;
  for (std::size_t g = 0; g < header.groups.size(); ++g) {
    if (g > 0) rebuilt.emplace_back();
    rebuilt.insert(rebuilt.end(), header.groups[g].begin(), header.groups[g].end());
  }
  rebuilt.resize(rebuilt.size() + header.trailing_blanks);
  return rebuilt;
}

// The line that closes the application call, found by counting its parentheses; the application
// line itself when the call closes there or never closes.
std::size_t closing_line(const Lines& lines, std::size_t app_line) {
  StringState state;
  const LineCode first = scan_line_code(lines[app_line], state);
  if (first.opens <= first.closes) return app_line;
  std::ptrdiff_t depth = first.opens - first.closes;
  for (std::size_t i = app_line + 1; i < lines.size(); ++i) {
    const LineCode line = scan_line_code(lines[i], state);
    depth += line.opens;
    if (depth <= line.closes) return i;
    depth -= line.closes;
  }
  return app_line;
}

// Without an application line there is no safe place inside the file, so the block goes at
// its end and the file's own bytes stay exactly as they were.
std::string append_block(std::string_view text) {
  std::string result(text::strip_trailing_newlines(text));
  for (std::string_view line : kAutoMountBlock) {
    result += '\n';
    result += line;
  }
  return result;
}

Lines lines_of(std::string_view text) {
  Lines lines;
  for (std::string_view line : text::split_lines(text)) lines.emplace_back(line);
  return lines;
}

bool mentions_block(std::string_view text) {
  return text.find(kStartMarker) != std::string_view::npos ||
         text.find(kIncludeLine) != std::string_view::npos;
}

// Whether the file holds the block already: its start marker or its include line on a line
// of code, even in a comment or a string there, but not on a line inside a string literal (a
// docstring that quotes the block mounts nothing).
bool holds_block(std::string_view text) {
  if (!mentions_block(text)) return false;
  const Lines lines = lines_of(text);
  StringLines strings(lines);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (mentions_block(lines[i]) && !strings.inside(i)) return true;
  }
  return false;
}

// The text with the two imports and the block added; the block is known to be missing.
std::string mounted(std::string_view text, std::string_view source) {
  Lines lines = lines_of(text);

  const std::size_t header_start = text::docstring_end(lines, leading_comments_end(lines));
  ImportHeader header = scan_import_header(lines, header_start);
  if (!already_imported(lines, kImportlibLine, "importlib")) add_importlib(header.groups);
  const std::string registry_import =
      fmt::format("from {}.modules import {}", source, registry::kRegistryVar);
  if (!already_imported(lines, registry_import, registry::kRegistryVar)) {
    add_registry_import(header.groups, registry_import, fmt::format("from {}.", source));
  }

  Lines edited(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(header_start));
  std::ranges::move(rebuild_header(header), std::back_inserter(edited));
  std::move(lines.begin() + static_cast<std::ptrdiff_t>(header.end), lines.end(),
            std::back_inserter(edited));

  // A line inside a string literal, such as a docstring that shows an example, is no code.
  StringLines strings(edited);
  std::size_t app_line = 0;
  while (app_line < edited.size() &&
         !(edited[app_line].starts_with(kAppLinePrefix) && !strings.inside(app_line))) {
    ++app_line;
  }
  if (app_line == edited.size()) return append_block(text);

  // The block goes where code goes on: past a string that the call's last line leaves open.
  std::size_t closing = closing_line(edited, app_line);
  while (closing + 1 < edited.size() && strings.inside(closing + 1)) ++closing;
  edited.insert(edited.begin() + static_cast<std::ptrdiff_t>(closing) + 1, kAutoMountBlock.begin(),
                kAutoMountBlock.end());
  return text::join_lines(edited) + '\n';
}

}  // namespace

std::optional<std::string> insert_auto_mount(std::string_view text, std::string_view source) {
  if (holds_block(text)) return std::nullopt;
  // A byte-order mark is only allowed at the very start: the edit works on the text after it
  // and puts it back in front.
  const std::string_view mark = text.starts_with(text::kByteOrderMark) ? text::kByteOrderMark : "";
  return std::string(mark) + mounted(text.substr(mark.size()), source);
}

error::Result<writers::GeneratedFile> sync_main(files::ProjectRoot& project,
                                                std::string_view source, bool dry_run) {
  const std::filesystem::path& root = project.path();
  const std::filesystem::path path = root / source / "main.py";
  if (!files::exists(path)) return writers::GeneratedFile{path, "", writers::WriteStatus::Skipped};

  error::Result<std::string> text = files::read_text(path);
  if (!text) return error::pass(text);
  std::optional<std::string> edited = insert_auto_mount(*text, source);
  if (!edited) return writers::GeneratedFile{path, std::move(*text), writers::WriteStatus::Skipped};
  return writers::write_file(project, path, *edited, /*force=*/true, dry_run);
}

}  // namespace generators::main_py
