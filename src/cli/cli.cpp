#include "cli/cli.h"

#include <system_error>

namespace cli {

Result<void> main(int, char**) { return fail("not built yet: command line"); }

Result<void> execute(Commands command) {
  return std::visit(
      [](auto&& parsed) -> Result<void> {
        using T = std::decay_t<decltype(parsed)>;
        if constexpr (std::is_same_v<T, New>) {
          return run_new(std::move(parsed));
        } else if constexpr (std::is_same_v<T, Make>) {
          return run_make_module(std::get<Module>(std::move(parsed.command)));
        } else if constexpr (std::is_same_v<T, Init>) {
          return run_init_alembic(std::get<Alembic>(std::move(parsed.command)));
        } else {
          return run_list(std::move(parsed));
        }
      },
      std::move(command));
}

std::filesystem::path resolve_dir(const std::filesystem::path& dir) {
  (void)dir;
  return dir;
}

}  // namespace cli
