#include "render/render.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <vector>

#include <fmt/core.h>

#include "templates/templates.h"
#include "text/text.h"

namespace render {

Context& Context::put(std::string_view key, std::string value) {
  for (auto& [existing, current] : pairs_) {
    if (existing == key) {
      current = std::move(value);
      return *this;
    }
  }
  pairs_.emplace_back(std::string(key), std::move(value));
  return *this;
}

const std::string* Context::find(std::string_view key) const {
  for (const auto& [existing, value] : pairs_) {
    if (existing == key) return &value;
  }
  return nullptr;
}

namespace {

// Reads one `{{ ... }}` expression. Positions index the template text; `line` follows every
// line feed passed, so each error names the line where the parser stood.
class ExpressionParser {
 public:
  ExpressionParser(std::string_view text, std::size_t pos, std::size_t line,
                   const Context& context)
      : text_(text), pos_(pos), line_(line), open_line_(line), context_(context) {}

  // Evaluates the expression that starts after "{{" and consumes its closing "}}".
  [[nodiscard]] error::Result<std::string> evaluate() {
    skip_blanks();
    auto value = primary();
    if (!value) return value;
    skip_blanks();
    while (!at_end() && peek() == '|') {
      ++pos_;
      skip_blanks();
      if (at_end()) return unclosed();
      const std::string_view filter = identifier();
      if (filter.empty()) return error(fmt::format("expected a filter name, found {}", found()));
      if (filter != "tojson") return error(fmt::format("unknown filter '{}'", filter));
      *value = tojson(*value);
      skip_blanks();
    }
    if (at_end()) return unclosed();
    if (text_.substr(pos_, 2) != "}}") {
      return error(fmt::format("unexpected {}, expected '}}}}'", found()));
    }
    pos_ += 2;
    return value;
  }

  std::size_t pos() const { return pos_; }
  std::size_t line() const { return line_; }

 private:
  [[nodiscard]] error::Result<std::string> primary() {
    if (at_end()) return unclosed();
    const char c = peek();
    if (c == '\'' || c == '"') return string_literal(c);
    const std::string_view name = identifier();
    if (name.empty()) return error(fmt::format("unexpected {}, expected an expression", found()));
    const std::string* value = context_.find(name);
    if (value == nullptr) return error(fmt::format("undefined value '{}'", name));
    return *value;
  }

  // A quoted literal without escapes: the templates only ever need single braces.
  [[nodiscard]] error::Result<std::string> string_literal(char quote) {
    const std::size_t start_line = line_;
    ++pos_;
    std::string value;
    while (!at_end() && peek() != quote) {
      const char c = text_[pos_++];
      if (c == '\\') return error("escape sequences in string literals are not supported");
      if (c == '\n') ++line_;
      value += c;
    }
    if (at_end()) {
      line_ = start_line;
      return error("unclosed string literal");
    }
    ++pos_;
    return value;
  }

  std::string_view identifier() {
    const std::size_t start = pos_;
    const auto is_rest = [](char c) { return c == '_' || text::is_ascii_alphanumeric(c); };
    const auto is_start = [&](char c) { return is_rest(c) && !(c >= '0' && c <= '9'); };
    if (at_end() || !is_start(peek())) return {};
    while (!at_end() && is_rest(peek())) ++pos_;
    return text_.substr(start, pos_ - start);
  }

  void skip_blanks() {
    while (!at_end() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) {
      if (peek() == '\n') ++line_;
      ++pos_;
    }
  }

  // The token at the current position, for messages.
  std::string found() const {
    if (at_end()) return "end of template";
    if (text_.substr(pos_, 2) == "}}") return "'}}'";
    if (static_cast<unsigned char>(peek()) >= 0x80) return "a non-ASCII character";
    return fmt::format("'{}'", peek());
  }

  std::unexpected<error::Error> error(std::string message) const {
    return error::fail(fmt::format("{} (line {})", message, line_));
  }

  // An expression cut off by the end of the text is reported where it opened.
  std::unexpected<error::Error> unclosed() const {
    return error::fail(fmt::format("unclosed expression (line {})", open_line_));
  }

  bool at_end() const { return pos_ >= text_.size(); }
  char peek() const { return text_[pos_]; }

  std::string_view text_;
  std::size_t pos_;
  std::size_t line_;
  std::size_t open_line_;
  const Context& context_;
};

// The template text less one final "\n" and then one final "\r".
std::string_view without_final_newline(std::string_view text) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  if (text.ends_with('\r')) text.remove_suffix(1);
  return text;
}

// The rendered path under `root`, one component at a time so that "/" always makes a
// subdirectory and an empty segment never turns the path absolute.
std::filesystem::path join_under(const std::filesystem::path& root, std::string_view relative) {
  std::filesystem::path joined = root;
  for (const std::string_view segment : text::path_components(relative)) {
    joined /= std::filesystem::path(std::string(segment));
  }
  return joined;
}

error::Error template_not_found(std::string_view group, std::string_view name) {
  return error::Error(fmt::format("template not found: {}/{}", group, name));
}

}  // namespace

error::Result<std::string> render_str(std::string_view text, const Context& context) {
  text = without_final_newline(text);
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  std::size_t line = 1;
  while (pos < text.size()) {
    const std::size_t open = text.find('{', pos);
    const std::size_t plain_end = open == std::string_view::npos ? text.size() : open;
    const std::string_view plain = text.substr(pos, plain_end - pos);
    out += plain;
    line += static_cast<std::size_t>(std::ranges::count(plain, '\n'));
    pos = plain_end;
    if (pos >= text.size()) break;
    const char next = pos + 1 < text.size() ? text[pos + 1] : '\0';
    if (next == '%')
      return error::fail(fmt::format("block tags are not supported (line {})", line));
    if (next == '#')
      return error::fail(fmt::format("comment tags are not supported (line {})", line));
    if (next != '{') {
      out += '{';
      ++pos;
      continue;
    }
    ExpressionParser parser(text, pos + 2, line, context);
    auto value = parser.evaluate();
    if (!value) return error::pass(value);
    out += *value;
    pos = parser.pos();
    line = parser.line();
  }
  return out;
}

std::string tojson(std::string_view value) {
  std::string out = "\"";
  for (const char c : value) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      // Safe to embed in HTML and in single-quoted strings, as the generated files expect.
      case '<': out += "\\u003c"; break;
      case '>': out += "\\u003e"; break;
      case '&': out += "\\u0026"; break;
      case '\'': out += "\\u0027"; break;
      default:
        // DEL too: JSON allows it raw, but a TOML string (pyproject.toml) does not.
        if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') {
          out += fmt::format("\\u{:04x}", static_cast<unsigned char>(c));
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

std::string_view strip_template_suffix(std::string_view rendered_path) {
  if (rendered_path.ends_with(".j2")) rendered_path.remove_suffix(3);
  return rendered_path;
}

error::Result<std::vector<writers::GeneratedFile>> render_tree(files::ProjectRoot& project,
                                                               std::string_view group,
                                                               const Context& context,
                                                               const std::filesystem::path& root,
                                                               bool force, bool dry_run) {
  // The table holds each group in byte order of the raw template path, and that order is the
  // order of writing, not the rendered one: a module's service file must come after
  // `schemas.py` whatever the feature is called.
  std::vector<writers::GeneratedFile> written;
  for (const templates::TemplateFile& record : templates::kTemplates) {
    if (record.group != group) continue;
    auto rendered_path = render_str(record.path, context);
    if (!rendered_path) {
      return error::fail(
          std::move(rendered_path)
              .error()
              .context(fmt::format("failed to render template path {}", record.path)));
    }
    const std::string_view output_path = strip_template_suffix(*rendered_path);
    auto content = render_str(record.content, context);
    if (!content) {
      return error::fail(std::move(content).error().context(
          fmt::format("failed to render template {}/{}", group, *rendered_path)));
    }
    auto file =
        writers::write_file(project, join_under(root, output_path), *content, force, dry_run);
    if (!file) return error::pass(file);
    written.push_back(std::move(*file));
  }
  return written;
}

error::Result<std::string> render_template(std::string_view group, std::string_view name,
                                           const Context& context) {
  const auto record = std::ranges::find_if(
      templates::kTemplates,
      [&](const templates::TemplateFile& t) { return t.group == group && t.path == name; });
  if (record == templates::kTemplates.end()) return error::fail(template_not_found(group, name));
  auto content = render_str(record->content, context);
  if (!content) {
    return error::fail(std::move(content).error().context(
        fmt::format("failed to render template {}/{}", group, name)));
  }
  return content;
}

}  // namespace render
