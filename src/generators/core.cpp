#include "generators/core.h"

namespace generators::core {

Result<std::vector<GeneratedFile>> generate_core(const std::filesystem::path&,
                                                 std::optional<std::string_view>, bool) {
  return fail("not built yet: generate_core");
}

}  // namespace generators::core
