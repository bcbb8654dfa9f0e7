#include "generators/module.h"

namespace generators::module {

render::Context module_context(std::string_view, std::string_view) { return {}; }

Result<std::vector<GeneratedFile>> generate_module(std::string_view, const std::filesystem::path&,
                                                   std::optional<std::string_view>, bool, bool) {
  return fail("not built yet: generate_module");
}

}  // namespace generators::module
