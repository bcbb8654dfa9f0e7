#include "cli/cli.h"

namespace cli {

Result<void> run_init_alembic(Alembic command) {
  (void)command;
  return fail("the command 'init alembic' is not built yet");
}

}  // namespace cli
