#include "generators/main.h"

namespace generators::main {

std::optional<std::string> insert_auto_mount(std::string_view, std::string_view) {
  return std::nullopt;
}

Result<GeneratedFile> sync_main(const std::filesystem::path&, std::optional<std::string_view>,
                                bool) {
  return fail("not built yet: sync_main");
}

}  // namespace generators::main
