#include "cli/cli.h"

namespace cli {

Result<void> run_list(List command) {
  (void)command;
  return fail("the command 'list' is not built yet");
}

}  // namespace cli
