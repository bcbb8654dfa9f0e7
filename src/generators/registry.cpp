#include "generators/registry.h"

namespace generators::registry {

std::string registry_content(std::span<const RegistryEntry>) { return {}; }
std::vector<RegistryEntry> parse_registry(std::string_view) { return {}; }
std::vector<RegistryEntry> read_registry(const std::filesystem::path&,
                                         std::optional<std::string_view>) {
  return {};
}
std::string module_description(const std::filesystem::path&) { return {}; }
std::vector<RegisteredModule> list_registered(const std::filesystem::path&,
                                              std::optional<std::string_view>) {
  return {};
}
Result<GeneratedFile> register_module(const std::filesystem::path&, std::string_view,
                                      std::optional<std::string_view>, bool) {
  return fail("not built yet: register_module");
}

}  // namespace generators::registry
