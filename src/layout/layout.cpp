#include "layout/layout.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include <fmt/core.h>
#include <nlohmann/json.hpp>

#include "files/files.h"
#include "files/resolve.h"
#include "layout/config.h"
#include "naming/naming.h"
#include "text/text.h"

namespace layout {

namespace {

// Every command writes under root / source, so a configured name that is absolute or climbs
// out with ".." would send the generated files outside the project. Such a name cannot be a
// Python package anyway; it counts as absent. So does a name holding a NUL byte, which the
// system would cut short into some other path.
bool stays_inside_project(std::string_view name) {
  if (name.find('\0') != std::string_view::npos) return false;
  if (std::filesystem::path(name).is_absolute()) return false;
  return std::ranges::none_of(text::path_components(name), [](auto c) { return c == ".."; });
}

// The generated imports start with the source directory's name ("from src.core ..."), so it
// must be a Python package name: identifier characters, not starting with a digit, and no
// keyword.
bool names_a_package(std::string_view name) {
  if (name.empty() || (name.front() >= '0' && name.front() <= '9')) return false;
  if (naming::is_python_keyword(name)) return false;
  return std::ranges::all_of(name, text::continues_identifier);
}

// A configuration holds one short key; a file far larger than any real one (a link to a huge
// or endless file, say) is no configuration, and is not read whole to find that out.
constexpr std::size_t kLargestConfig = 1024 * 1024;

}  // namespace

std::optional<nlohmann::json> read_config(const std::filesystem::path& root) {
  const error::Result<std::string> text = files::read_text(root / kConfigFile, kLargestConfig);
  if (!text) return std::nullopt;
  // The parser would skip a byte-order mark on its own; the file must be plain JSON.
  if (text->starts_with(text::kByteOrderMark)) return std::nullopt;
  // The parser also takes a NUL byte for the end of its input and would accept whatever follows
  // one. JSON allows no NUL anywhere (not even raw inside a string), so such a file is no
  // configuration.
  if (text->find('\0') != std::string::npos) return std::nullopt;
  nlohmann::json config = nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
  if (config.is_discarded() || !config.is_object()) return std::nullopt;
  return config;
}

std::string source_dir_name(const std::filesystem::path& root) {
  if (const std::optional<nlohmann::json> config = read_config(root)) {
    const auto found = config->find(kSourceDirKey);
    if (found != config->end() && found->is_string()) {
      std::string_view name = found->get_ref<const std::string&>();
      // "src/" names the folder src, as a shell would take it.
      while (name.ends_with('/')) name.remove_suffix(1);
      if (!name.empty() && stays_inside_project(name)) return std::string(name);
    }
  }
  if (files::exists(root / "src" / "main.py")) return "src";
  return "app";
}

error::Result<std::string> package_source_dir(const std::filesystem::path& root) {
  std::string name = source_dir_name(root);
  if (names_a_package(name)) return name;
  // Detection only ever gives src or app: the name is the configured one.
  return error::fail(fmt::format(
      "invalid source directory {:?} in {}: the generated imports need a Python package name "
      "(letters, digits and \"_\", not starting with a digit, not a keyword)",
      name, files::quoted(root / kConfigFile)));
}

std::filesystem::path modules_dir(const std::filesystem::path& root, std::string_view source) {
  return root / source / "modules";
}

std::filesystem::path registry_path(const std::filesystem::path& root, std::string_view source) {
  return modules_dir(root, source) / "__init__.py";
}

error::Result<writers::GeneratedFile> write_config(files::ProjectRoot& project,
                                                   std::string_view source, bool dry_run) {
  const nlohmann::json config = nlohmann::json::object({{kSourceDirKey, std::string(source)}});
  std::string content;
  try {
    // The object keeps its keys in byte order, so the dump writes them in that order.
    content = config.dump(2);
  } catch (const nlohmann::json::exception& error) {
    return error::fail(error.what());
  }
  content += '\n';
  return writers::write_file(project, project.path() / kConfigFile, content, /*force=*/true,
                             dry_run);
}

}  // namespace layout
