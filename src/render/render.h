#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "error/error.h"
#include "writers/writers.h"

namespace render {

/// The values a template can use, by key. Putting a key that is present replaces its value.
class Context {
 public:
  Context& put(std::string_view key, std::string value);
  /// The value of `key`, or nullptr when the context does not define it.
  const std::string* find(std::string_view key) const;

 private:
  std::vector<std::pair<std::string, std::string>> pairs_;
};

/// Renders one template text: `{{ key }}`, `{{ key|tojson }}` and string literals such as
/// `{{ '{' }}`. One final "\n" (then one "\r") of the text is dropped first. Undefined keys,
/// block and comment tags, unknown filters and unclosed expressions are errors naming the line.
[[nodiscard]] error::Result<std::string> render_str(std::string_view text, const Context& context);

/// A value as a JSON string literal, with <, >, & and ' escaped as \u003c, \u003e, \u0026, \u0027.
std::string tojson(std::string_view value);

/// A rendered template path less one final ".j2"; unchanged when it has none.
std::string_view strip_template_suffix(std::string_view rendered_path);

/// Renders every template of `group` into `root`, a directory of `project`, through
/// writers::write_file, in byte order of the raw template paths, dropping the final ".j2" of
/// each rendered path.
[[nodiscard]] error::Result<std::vector<writers::GeneratedFile>> render_tree(
    files::ProjectRoot& project, std::string_view group, const Context& context,
    const std::filesystem::path& root, bool force, bool dry_run);

/// Renders the template `name` (as in the table, ".j2" included) of `group` into text.
[[nodiscard]] error::Result<std::string> render_template(std::string_view group,
                                                         std::string_view name,
                                                         const Context& context);

}  // namespace render
