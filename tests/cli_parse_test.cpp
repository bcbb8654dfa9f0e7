#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "cli/parse.h"
#include "support/cases.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;
using cli::Cli, cli::Init, cli::InitAlembic, cli::List, cli::Make, cli::MakeModule, cli::New;

// The texts of the outcomes are checked end to end, byte for byte, in tests/cases/cli.txt.
TEST(CliParse, ArgumentListsBecomeTheCommandToRun) {
  for (const auto& [args, command] : std::initializer_list<std::pair<Args, cli::Commands>>{
           {{"new", "shop"}, New{"shop", ".", std::nullopt, "", false, false}},
           {{"new", ".", "--title", "My Shop", "--description", "A shop", "-d", "../w", "--dry-run",
             "-f"},
            New{".", "../w", "My Shop", "A shop", true, true}},
           {{"new", "--title=", "-fd../w", "--", "-x"}, New{"-x", "../w", "", "", false, true}},
           {{"new", "shop", "-d=x", "--description=a=b", "--title", "-"},
            New{"shop", "x", "-", "a=b", false, false}},
           {{"new", "--", "new"}, New{"new", ".", std::nullopt, "", false, false}},
           {{"make", "module", "user", "-f", "--dry-run"},
            Make{MakeModule{"user", ".", true, true}}},
           {{"make", "module", "--dir", "d", "user"}, Make{MakeModule{"user", "d", false, false}}},
           {{"init", "alembic", "--dry-run", "-dx"}, Init{InitAlembic{"x", true}}},
           {{"list"}, List{"."}},
           {{"list", "--dir", "\xff/x"}, List{"\xff/x"}},
       }) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const auto parsed = cli::parse_command_line(args);
    ASSERT_TRUE(std::holds_alternative<Cli>(parsed)) << std::get<cli::ParserOutcome>(parsed).text;
    EXPECT_EQ(std::get<Cli>(parsed), Cli{command});
  }
}

const bool kCliCases = testing_support::register_unit_cases(
    "cli", {{"program", [](const auto& in) { return cli::program_name(in[0]); }}});

TEST(CliParse, UsageLinesNameTheProgramByTheNameItWasStartedUnder) {
  const auto outcome =
      std::get<cli::ParserOutcome>(cli::parse_command_line({"list", "-x"}, "prog"));
  EXPECT_TRUE(outcome.text.contains("\x1b[1mprog list\x1b[0m [OPTIONS]")) << outcome.text;
}

TEST(ResolveDir, OnlyTheCurrentDirectoryBecomesTheWorkingDirectory) {
  const std::vector<fs::path> dirs = {".", "./", ".//", "./.", "", "..", "./x", "x/.", "../shop"};
  for (std::size_t i = 0; i < dirs.size(); ++i)  // the first four name the current directory
    EXPECT_EQ(cli::resolve_dir(dirs[i]).native(), (i < 4 ? fs::current_path() : dirs[i]).native());
}

TEST(ResolveDir, KeepsTheDotWhenTheWorkingDirectoryIsGone) {
  const fs::path before = fs::current_path();
  testing_support::TempDir temp;
  ASSERT_EQ(::chdir(temp.path().c_str()), 0);
  fs::remove(temp.path());
  EXPECT_EQ(cli::resolve_dir("./").native(), "./");
  ASSERT_EQ(::chdir(before.c_str()), 0);
}

}  // namespace
