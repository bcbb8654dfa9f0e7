#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/process.h"

namespace {

using namespace testing_support;

// "status|stderr|stdout" of `list` run in `dir`, with colour forced or not.
std::string list_in(const std::filesystem::path& dir, bool colour) {
  RunOptions options;
  options.cwd = dir;
  if (colour) options.env["CLICOLOR_FORCE"] = "1";
  const RunResult r = run_brintle({"list"}, options);
  return std::to_string(r.status) + "|" + r.err + "|" + r.out;
}

TEST(ListCommand, NoProjectGivesTitleHeaderOnlyTableAndHint) {
  TempDir dir;
  const std::string table =
      "┌────────┬──────┬─────────────┐\n"
      "│ module ┆ path ┆ description │\n"
      "╞════════╪══════╪═════════════╡\n"
      "└────────┴──────┴─────────────┘\n";
  const std::string hint = "No modules registered yet. Run `brintle make module <name>`.";
  EXPECT_EQ(list_in(dir.path(), false), "0||Registered modules\n" + table + hint + "\n");
  EXPECT_EQ(list_in(dir.path(), true), "0||\x1b[1mRegistered modules\x1b[0m\n" + table +
                                           "\x1b[33m" + hint + "\x1b[39m\n");
}

TEST(ListCommand, HandWrittenRegistryGivesRowsInFileOrderWithoutHint) {
  TempDir dir;
  const auto modules = dir.path() / "src/modules";
  write_file(dir.path() / "src/main.py", "app = None\n");
  write_file(modules / "__init__.py",
             "modules: dict[str, str] = {\n    \"user\": \"src.modules.user\",\n"
             "    \"blog\": \"src.modules.blog\",\n}\n");
  write_file(modules / "user/__init__.py", "\"\"\"User module (vertical slice).\"\"\"\n");
  write_file(modules / "blog/__init__.py", "from .api import router\n");  // no docstring
  EXPECT_EQ(list_in(dir.path(), false), "0||Registered modules\n"
            "┌────────┬──────────────────┬───────────────────────────────┐\n"
            "│ module ┆ path             ┆ description                   │\n"
            "╞════════╪══════════════════╪═══════════════════════════════╡\n"
            "│ user   ┆ src.modules.user ┆ User module (vertical slice). │\n"
            "├╌╌╌╌╌╌╌╌┼╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌┼╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌╌┤\n"
            "│ blog   ┆ src.modules.blog ┆                               │\n"
            "└────────┴──────────────────┴───────────────────────────────┘\n");
}

// A project cloned from elsewhere must not be able to drive the terminal through `list`: its
// escape sequences show as text, the columns fit what is shown, the title keeps its bold.
TEST(ListCommand, ControlCharactersFromTheProjectShowEscapedOnATerminal) {
  TempDir dir;
  const auto modules = dir.path() / "src/modules";
  write_file(dir.path() / "src/main.py", "app = None\n");
  write_file(modules / "__init__.py", "modules = {\n    \"ev\x1b[5mil\": \"src.modules.x\",\n}\n");
  write_file(modules / "ev\x1b[5mil/__init__.py",
             "\"\"\"Evil \x1b]0;pwned\x07\x1b[2J\u009b31m\x7f\ttab\"\"\"\n");
  const RunResult r = run_brintle(
      {"list"}, {.cwd = dir.path(), .env = {{"TERM", "xterm-256color"}}, .out = Sink::Terminal});
  const std::string shown = read_file(BRINTLE_SOURCE_DIR "/tests/e2e/data/list_hostile.txt");
  EXPECT_EQ(r, (RunResult{0, shown, ""}));
}

}  // namespace
