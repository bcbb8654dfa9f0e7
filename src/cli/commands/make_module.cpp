#include "cli/cli.h"

namespace cli {

Result<void> run_make_module(Module command) {
  (void)command;
  return fail("the command 'make module' is not built yet");
}

}  // namespace cli
