#include "cli/cli.h"

namespace cli {

Result<void> run_new(New command) {
  (void)command;
  return fail("the command 'new' is not built yet");
}

}  // namespace cli
