// The configuration reader: any bytes in .brintle.json give an object or nothing, never a
// crash, and the source directory name that follows from them is the configured one or "app",
// never a directory outside the project and never a name the system would cut short.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "layout/config.h"
#include "layout/layout.h"
#include "support/fuzz_support.h"
#include "text/text.h"

using fuzz_support::check;

namespace {

// The project root of this process: it never holds src/main.py, so detection gives "app".
const std::filesystem::path& project_root() {
  static const std::filesystem::path root = [] {
    std::filesystem::path path = fuzz_support::process_temp_dir() / "project";
    std::filesystem::create_directories(path);
    return path;
  }();
  return root;
}

// Whether files written under root / name would land outside the project: an absolute name,
// or one with a ".." component.
bool leaves_project(std::string_view name) {
  if (name.starts_with('/')) return true;
  for (std::size_t start = 0; start <= name.size();) {
    const std::size_t slash = std::min(name.find('/', start), name.size());
    if (name.substr(start, slash - start) == "..") return true;
    start = slash + 1;
  }
  return false;
}

// The configured "source_dir" less its trailing "/" when it counts: a string of at least one
// byte then, without a NUL (the system would cut the path short there), that keeps the
// generated files inside the project.
std::optional<std::string> configured_source(const std::optional<nlohmann::json>& config) {
  if (!config) return std::nullopt;
  const auto found = config->find("source_dir");
  if (found == config->end() || !found->is_string()) return std::nullopt;
  std::string name = found->get_ref<const std::string&>();
  while (name.ends_with('/')) name.pop_back();
  if (name.empty() || name.find('\0') != std::string::npos || leaves_project(name)) {
    return std::nullopt;
  }
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The reader takes any file, so every input goes to it as it is.
  const std::string_view input = fuzz_support::as_text(data, size);
  const std::filesystem::path& root = project_root();
  fuzz_support::write_bytes(root / layout::kConfigFile, input);

  const std::optional<nlohmann::json> config = layout::read_config(root);
  if (config) {
    check(config->is_object(), "a configuration is an object", input);
    check(text::is_valid_utf8(input), "a configuration is read from UTF-8 only", input);
    check(input.find('\0') == std::string_view::npos, "a configuration holds no NUL", input);
    check(!input.starts_with(text::kByteOrderMark), "a byte-order mark gives no configuration",
          input);
  }

  const std::string source = layout::source_dir_name(root);
  const std::string expected = configured_source(config).value_or("app");
  check(source == expected, "the source is the configured one, else the detected one",
        source + " != " + expected);
  check(!leaves_project(source), "the source directory lies inside the project", source);
  check(text::is_valid_utf8(source), "the source name is UTF-8", source);
  check(source.find('\0') == std::string::npos, "the source name holds no NUL", source);
  check(layout::registry_path(root, layout::source_dir_name(root)) ==
            root / source / "modules" / "__init__.py",
        "the registry lies under the source directory", source);
  // The commands that write take the same name, when its imports can start with it.
  const error::Result<std::string> package = layout::package_source_dir(root);
  if (package) {
    check(*package == source, "a command that writes takes the same source", source);
    check(package->find_first_of("/. -") == std::string::npos, "a package name is one word",
          source);
  } else {
    check(configured_source(config).has_value(), "only a configured source is refused", source);
  }
  return 0;
}
