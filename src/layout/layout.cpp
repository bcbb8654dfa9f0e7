#include "layout/layout.h"

namespace layout {

std::optional<nlohmann::json> read_config(const std::filesystem::path&) { return std::nullopt; }
std::string source_dir_name(const std::filesystem::path&) { return "src"; }
std::filesystem::path registry_path(const std::filesystem::path& root,
                                    std::optional<std::string_view> source) {
  return root / std::string(source.value_or("src")) / "modules" / "__init__.py";
}
Result<GeneratedFile> write_config(const std::filesystem::path&, const nlohmann::json&, bool) {
  return fail("not built yet: write_config");
}

}  // namespace layout
