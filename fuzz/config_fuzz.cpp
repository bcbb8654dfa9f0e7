// The configuration reader: any bytes in .brintle.json give an object or nothing, never a
// crash, and the source directory name that follows from them is the configured one or "app".
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "layout/layout.h"
#include "support/fuzz_support.h"
#include "text/text.h"

using fuzz_support::check;
using fuzz_support::escaped;

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

// The configured "source_dir" when it counts: a string of at least one byte.
std::optional<std::string> configured_source(const std::optional<nlohmann::json>& config) {
  if (!config) return std::nullopt;
  const auto found = config->find("source_dir");
  if (found == config->end() || !found->is_string()) return std::nullopt;
  const std::string& name = found->get_ref<const std::string&>();
  if (name.empty()) return std::nullopt;
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
    check(config->is_object(), "a configuration is an object", escaped(input));
    check(text::is_valid_utf8(input), "a configuration is read from UTF-8 only", escaped(input));
    check(!input.starts_with("\xEF\xBB\xBF"), "a byte-order mark gives no configuration",
          escaped(input));
  }

  const std::string source = layout::source_dir_name(root);
  const std::string expected = configured_source(config).value_or("app");
  check(source == expected, "the source is the configured one, else the detected one",
        escaped(source) + " != " + escaped(expected));
  check(text::is_valid_utf8(source), "the source name is UTF-8", escaped(source));
  check(layout::registry_path(root, std::nullopt) == root / source / "modules" / "__init__.py",
        "the registry lies under the source directory", escaped(source));
  return 0;
}
