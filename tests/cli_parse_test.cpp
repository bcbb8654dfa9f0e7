#include "cli/parse.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <tuple>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;
using cli::Alembic, cli::Cli, cli::Init, cli::List, cli::Make, cli::Module, cli::New;

TEST(CliParse, ConvertsArgumentsWithTheirDefaults) {
  for (const auto& [args, command] : std::initializer_list<std::pair<Args, cli::Commands>>{
           {{"new", "shop"}, New{"shop", ".", std::nullopt, "", false, false}},
           {{"new", ".", "--title", "My Shop", "--description", "A shop", "-d", "../w",
             "--dry-run", "-f"},
            New{".", "../w", "My Shop", "A shop", true, true}},
           // An empty string after "=" is a value; a path need not be UTF-8.
           {{"new", "shop", "--title="}, New{"shop", ".", "", "", false, false}},
           {{"make", "module", "user", "-f", "--dry-run"}, Make{Module{"user", ".", true, true}}},
           {{"init", "alembic"}, Init{Alembic{".", false}}},
           {{"list"}, List{"."}},
           {{"list", "--dir", "\xff/x"}, List{"\xff/x"}},
       }) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(std::get<Cli>(cli::parse_command_line(args)), Cli{command});
  }
}

// Help, the version and usage errors: the stream, the status and the first line printed.
TEST(CliParse, HelpVersionAndUsageErrorsEndWithTheirStatus) {
  constexpr std::string_view kTop =
      "FastAPI feature-based module manager (like a web framework's built-in generator CLI).";
  constexpr std::string_view kNoValue =
      "error: a value is required for '--dir <DIR>' but none was supplied";
  constexpr auto out = style::Stream::Stdout, err = style::Stream::Stderr;
  struct Case { Args args; style::Stream stream; int status; std::string_view first_line; };
  for (const Case& c : std::initializer_list<Case>{
           {{}, err, 2, kTop},
           {{"make"}, err, 2, "Scaffold modules and core infrastructure"},
           {{"init"}, err, 2, "Add optional infrastructure to an existing project"},
           {{"help"}, out, 0, kTop},
           {{"new", "-h"}, out, 0, "Scaffold a new best-practice `FastAPI` project"},
           {{"new", "--help"}, out, 0, "Scaffold a new best-practice `FastAPI` project."},
           {{"help", "new"}, out, 0, "Scaffold a new best-practice `FastAPI` project."},
           {{"make", "help", "module"}, out, 0, "Scaffold a feature module and register it."},
           {{"help", "make", "module"}, out, 0, "Scaffold a feature module and register it."},
           {{"--version"}, out, 0, "brintle 0.7.0"},
           {{"list", "--version"}, err, 2, "error: unexpected argument '--version' found"},
           {{"init", "alembic", "--force"}, err, 2, "error: unexpected argument '--force' found"},
           {{"list", "--dir", ""}, err, 2, kNoValue},
           {{"list", "--dir="}, err, 2, kNoValue},
           {{"new", "foo", "--dry-run=yes"}, err, 2,
            "error: unexpected value 'yes' for '--dry-run' found; no more were expected"},
           {{"new", "sh\xffop"}, err, 2, "error: invalid UTF-8 was detected"},
           {{"new"}, err, 2, "error: the following required arguments were not provided:"},
           {{"neww", "foo"}, err, 2, "error: unexpected argument 'neww' found"},
       }) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const auto [text, stream, status] =
        std::get<cli::ParserOutcome>(cli::parse_command_line(c.args));
    EXPECT_EQ(std::tuple(stream, status, text.substr(0, text.find('\n'))),
              std::tuple(c.stream, c.status, c.first_line));
  }
}

TEST(ResolveDir, OnlyTheCurrentDirectoryBecomesTheWorkingDirectory) {
  for (const char* dir : {".", "./", ".//", "./."})
    EXPECT_EQ(cli::resolve_dir(dir).native(), fs::current_path().native()) << dir;
  for (const char* dir : {"", "..", "./x", "x/.", "../shop"})
    EXPECT_EQ(cli::resolve_dir(dir).native(), dir) << dir;
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
