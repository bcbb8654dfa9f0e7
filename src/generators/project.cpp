#include "generators/project.h"

namespace generators::project {

Result<std::vector<GeneratedFile>> generate_project(std::string_view,
                                                    const std::filesystem::path&,
                                                    std::optional<std::string_view>,
                                                    std::string_view, std::string_view, bool,
                                                    bool) {
  return fail("not built yet: generate_project");
}

}  // namespace generators::project
