#include "cli/parse.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "cli/definitions.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using cli::Cli;
using cli::ParserError;
using cli::ParserErrorKind;
using cli::ParserOutcome;
using style::Stream;
using Args = std::vector<std::string>;

std::string first_line(std::string_view text) {
  return std::string(text.substr(0, text.find('\n')));
}

ParserOutcome outcome_of(const Args& args) {
  auto parsed = cli::parse_command_line(args);
  if (const auto* outcome = std::get_if<ParserOutcome>(&parsed)) return *outcome;
  ADD_FAILURE() << "parsed into a command";
  return {};
}

struct ConversionCase {
  Args args;
  cli::Commands command;
};

TEST(CliParse, ConvertsEachCommandWithItsDefaults) {
  using cli::Alembic, cli::Init, cli::List, cli::Make, cli::Module, cli::New;
  for (const ConversionCase& c : std::initializer_list<ConversionCase>{
           {{"new", "shop"}, New{"shop", ".", std::nullopt, "", false, false}},
           {{"new", ".", "--title", "My Shop", "--description", "A shop", "-d", "../work",
             "--dry-run", "-f"},
            New{".", "../work", "My Shop", "A shop", true, true}},
           // An empty value after "=" is a value, also for a string.
           {{"new", "shop", "--title=", "--description="}, New{"shop", ".", "", "", false, false}},
           {{"new", "--title=a=b", "shop", "--dir=x/y"},
            New{"shop", "x/y", "a=b", "", false, false}},
           {{"new", "-fd", "x", "shop"}, New{"shop", "x", std::nullopt, "", false, true}},
           {{"new", "-d=x", "shop"}, New{"shop", "x", std::nullopt, "", false, false}},
           {{"new", "-dx", "shop"}, New{"shop", "x", std::nullopt, "", false, false}},
           // Values are taken byte for byte.
           {{"new", "--", "-shop"}, New{"-shop", ".", std::nullopt, "", false, false}},
           {{"new", "++"}, New{"++", ".", std::nullopt, "", false, false}},
           {{"new", "list", "--title", " a\nb ", "-d", "-"},
            New{"list", "-", " a\nb ", "", false, false}},
           {{"new", "", "--description", "[a,b]"},
            New{"", ".", std::nullopt, "[a,b]", false, false}},
           {{"make", "module", "user", "-f", "--dry-run"}, Make{Module{"user", ".", true, true}}},
           {{"make", "module", "--dir", "../shop", "help"},
            Make{Module{"help", "../shop", false, false}}},
           {{"init", "alembic"}, Init{Alembic{".", false}}},
           {{"init", "alembic", "--dry-run", "-d", "p"}, Init{Alembic{"p", true}}},
           {{"list"}, List{"."}},
           {{"list", "-d", "./a/../b/"}, List{"./a/../b/"}},
           // A path need not be UTF-8.
           {{"list", "--dir", "\xff/x"}, List{"\xff/x"}},
       }) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    auto parsed = cli::parse_command_line(c.args);
    ASSERT_TRUE(std::holds_alternative<Cli>(parsed)) << std::get<ParserOutcome>(parsed).text;
    EXPECT_EQ(std::get<Cli>(parsed), Cli{c.command});
  }
}

struct OutcomeCase {
  Args args;
  Stream stream;
  int status;
  std::string_view first_line;
};

TEST(CliParse, HelpVersionAndUsageErrorsEndWithTheirStatus) {
  constexpr std::string_view kTop =
      "FastAPI feature-based module manager (like a web framework's built-in generator CLI).";
  constexpr std::string_view kMake = "Scaffold modules and core infrastructure";
  constexpr std::string_view kInit = "Add optional infrastructure to an existing project";
  constexpr std::string_view kNewShort = "Scaffold a new best-practice `FastAPI` project";
  constexpr std::string_view kNewLong = "Scaffold a new best-practice `FastAPI` project.";
  constexpr std::string_view kModuleLong = "Scaffold a feature module and register it.";
  constexpr std::string_view kMissingValue =
      "error: a value is required for '--dir <DIR>' but none was supplied";
  constexpr std::string_view kBadUtf8 = "error: invalid UTF-8 was detected";
  for (const OutcomeCase& c : std::initializer_list<OutcomeCase>{
           // Given nothing, a command that needs a subcommand shows its help as an error.
           {{}, Stream::Stderr, 2, kTop},
           {{"--"}, Stream::Stderr, 2, kTop},
           {{"make"}, Stream::Stderr, 2, kMake},
           {{"init"}, Stream::Stderr, 2, kInit},
           {{"-h"}, Stream::Stdout, 0, kTop},
           {{"--help"}, Stream::Stdout, 0, kTop},
           {{"make", "--help"}, Stream::Stdout, 0, kMake},
           {{"new", "-h"}, Stream::Stdout, 0, kNewShort},
           {{"new", "--help"}, Stream::Stdout, 0, kNewLong},
           // Help comes as soon as it is asked for; what follows is not read.
           {{"-h", "new"}, Stream::Stdout, 0, kTop},
           {{"new", "-fh", "--bogus"}, Stream::Stdout, 0, kNewShort},
           {{"-hV"}, Stream::Stdout, 0, kTop},
           {{"help"}, Stream::Stdout, 0, kTop},
           {{"help", "new"}, Stream::Stdout, 0, kNewLong},
           {{"help", "make", "module"}, Stream::Stdout, 0, kModuleLong},
           {{"make", "help", "module"}, Stream::Stdout, 0, kModuleLong},
           {{"make", "help"}, Stream::Stdout, 0, kMake},
           {{"--version"}, Stream::Stdout, 0, "brintle 0.7.0"},
           {{"-V", "new"}, Stream::Stdout, 0, "brintle 0.7.0"},
           // Usage errors.
           {{"list", "--version"}, Stream::Stderr, 2,
            "error: unexpected argument '--version' found"},
           {{"new", "-V"}, Stream::Stderr, 2, "error: unexpected argument '-V' found"},
           {{"init", "alembic", "--force"}, Stream::Stderr, 2,
            "error: unexpected argument '--force' found"},
           {{"list", "--dir", ""}, Stream::Stderr, 2, kMissingValue},
           {{"list", "--dir="}, Stream::Stderr, 2, kMissingValue},
           {{"list", "-d="}, Stream::Stderr, 2, kMissingValue},
           {{"list", "--dir"}, Stream::Stderr, 2, kMissingValue},
           {{"list", "--dir", "--dry-run"}, Stream::Stderr, 2, kMissingValue},
           {{"new", "--dir", "", "-h"}, Stream::Stderr, 2, kMissingValue},
           {{"new"}, Stream::Stderr, 2,
            "error: the following required arguments were not provided:"},
           {{"make", "module", "-f"}, Stream::Stderr, 2,
            "error: the following required arguments were not provided:"},
           {{"new", "foo", "--dry-run=yes"}, Stream::Stderr, 2,
            "error: unexpected value 'yes' for '--dry-run' found; no more were expected"},
           {{"new", "foo", "--dry-run="}, Stream::Stderr, 2,
            "error: unexpected value '' for '--dry-run' found; no more were expected"},
           {{"new", "foo", "-f=1"}, Stream::Stderr, 2,
            "error: unexpected value '1' for '--force' found; no more were expected"},
           {{"--version=1"}, Stream::Stderr, 2,
            "error: unexpected value '1' for '--version' found; no more were expected"},
           {{"new", "\xff"}, Stream::Stderr, 2, kBadUtf8},
           {{"make", "module", "us\xc3"}, Stream::Stderr, 2, kBadUtf8},
           {{"new", "foo", "--title", "\xfe"}, Stream::Stderr, 2, kBadUtf8},
           {{"new", "foo", "--description=\xc0\xaf"}, Stream::Stderr, 2, kBadUtf8},
           {{"new", "foo", "bar"}, Stream::Stderr, 2, "error: unexpected argument 'bar' found"},
           {{"new", "foo", "--", "bar"}, Stream::Stderr, 2,
            "error: unexpected argument 'bar' found"},
           {{"new", "foo", "list"}, Stream::Stderr, 2, "error: unexpected argument 'list' found"},
           {{"--", "new", "foo"}, Stream::Stderr, 2, "error: unexpected argument 'new' found"},
           {{"new", "-foo"}, Stream::Stderr, 2, "error: unexpected argument '-o' found"},
           {{"new", "foo", "--title", "a", "--title", "b"}, Stream::Stderr, 2,
            "error: the argument '--title <TITLE>' cannot be used multiple times"},
           {{"new", "foo", "-f", "--force"}, Stream::Stderr, 2,
            "error: the argument '--force' cannot be used multiple times"},
           {{"help", "bogus"}, Stream::Stderr, 2, "error: unexpected argument 'bogus' found"},
           {{"help", "new", "foo"}, Stream::Stderr, 2, "error: unexpected argument 'foo' found"},
           {{"bogus\xff"}, Stream::Stderr, 2,
            "error: unexpected argument 'bogus\xef\xbf\xbd' found"},
       }) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ParserOutcome outcome = outcome_of(c.args);
    EXPECT_EQ(outcome.stream, c.stream);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(first_line(outcome.text), c.first_line);
  }
}

TEST(CliParse, UsageErrorsShowTheUsageOfTheirCommand) {
  for (const auto& [args, usage] : std::initializer_list<std::pair<Args, std::string_view>>{
           {{"bogus"}, "brintle [OPTIONS] <COMMAND>"},
           {{"new"}, "brintle new [OPTIONS] <NAME>"},
           {{"make", "bogus"}, "brintle make [OPTIONS] <COMMAND>"},
           {{"make", "module", "x", "-x"}, "brintle make module [OPTIONS] <FEATURE>"},
           {{"init", "alembic", "x"}, "brintle init alembic [OPTIONS]"},
           {{"list", "--dir="}, "brintle list [OPTIONS]"},
           {{"help", "-h"}, "brintle help [COMMAND]..."},
           {{"init", "help", "x"}, "brintle init [OPTIONS] <COMMAND>"},
       }) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const std::string text = outcome_of(args).text;
    EXPECT_NE(text.find("\n\nUsage: " + std::string(usage) +
                        "\n\nFor more information, try '--help'.\n"),
              std::string::npos)
        << text;
  }
}

TEST(CliParse, MistypedNamesGetASuggestion) {
  for (const auto& [args, tip] : std::initializer_list<std::pair<Args, std::string_view>>{
           {{"neww", "foo"}, "a similar subcommand exists: 'new'"},
           {{"lst"}, "a similar subcommand exists: 'list'"},
           {{"make", "modul"}, "a similar subcommand exists: 'module'"},
           {{"help", "nit"}, "a similar subcommand exists: 'init'"},
           {{"new", "foo", "--dri-run"}, "a similar argument exists: '--dry-run'"},
           {{"list", "--dirr=x"}, "a similar argument exists: '--dir'"},
           {{"--verison"}, "a similar argument exists: '--version'"},
           {{"new", "--title", "-x"}, "to pass '-x' as a value, use '--title=-x'"},
           // Nothing close enough, or not a name at all.
           {{"bogus"}, ""},
           {{"new", "foo", "--bogus"}, ""},
           {{"new", "foo", "new"}, ""},
       }) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const std::string text = outcome_of(args).text;
    if (tip.empty()) {
      EXPECT_EQ(text.find("tip:"), std::string::npos) << text;
    } else {
      EXPECT_NE(text.find("\n\n  tip: " + std::string(tip) + "\n\n"), std::string::npos) << text;
    }
  }
}

TEST(CliParse, ShortHelpShowsTheAboutAndLongHelpTheLongAbout) {
  cli::Command top("brintle");
  cli::augment_args(top);
  const auto& module = static_cast<const cli::Command&>(
      *top.get_subcommand("make")->get_subcommand("module"));
  const std::string short_help = cli::help_text(module, cli::HelpMode::Short);
  const std::string long_help = cli::help_text(module, cli::HelpMode::Long);
  EXPECT_TRUE(short_help.starts_with("Scaffold a feature module and register it\n\nUsage: "));
  EXPECT_TRUE(long_help.starts_with(module.long_about + "\n\nUsage: "));
  EXPECT_NE(short_help.find("  -h, --help       Print help (see more with '--help')\n"),
            std::string::npos);
  EXPECT_NE(long_help.find("  -h, --help       Print help (see a summary with '-h')\n"),
            std::string::npos);
  // Without a long about the two are the same.
  const auto& list = static_cast<const cli::Command&>(*top.get_subcommand("list"));
  EXPECT_EQ(cli::help_text(list, cli::HelpMode::Short), cli::help_text(list, cli::HelpMode::Long));
}

// --- Conversion of a parse result ---

TEST(CliParse, AParseWithoutSubcommandConvertsToNoCommand) {
  cli::Command top("brintle");
  cli::augment_args(top);
  top.parse(Args{});
  EXPECT_EQ(cli::from_arg_matches_mut<Cli>(top), Cli{});
  EXPECT_EQ(cli::from_arg_matches_mut<cli::Commands>(top).error(),
            (ParserError{ParserErrorKind::MissingSubcommand,
                         "a subcommand is required but one was not provided"}));
}

// Definitions that disagree with the conversion, as only a programming slip would make them.
TEST(CliParse, ConversionReportsWhatTheDefinitionLacks) {
  const auto missing = [](std::string_view id) {
    return ParserError{ParserErrorKind::MissingRequiredArgument,
                       "the following required argument was not provided: " + std::string(id)};
  };
  {
    cli::Command top("brintle");
    top.add_command("new", "");
    top.parse("new");
    EXPECT_EQ(cli::from_arg_matches_mut<Cli>(top).error(), missing("name"));
  }
  {
    // `title` may be missing; the first missing value after it decides.
    cli::Command top("brintle");
    cli::Command& create = top.add_command("new", "");
    create.add_option("NAME");
    create.defaults[create.add_option("--dir")] = ".";
    top.parse("new x");
    EXPECT_EQ(cli::from_arg_matches_mut<Cli>(top).error(), missing("description"));
  }
  {
    cli::Command top("brintle");
    top.add_command("make", "").add_command("module", "").add_option("FEATURE");
    top.parse("make module x");
    EXPECT_EQ(cli::from_arg_matches_mut<Cli>(top).error(), missing("dir"));
  }
  {
    cli::Command top("brintle");
    top.add_command("list", "");
    top.add_command("bogus", "").add_command("x", "");
    top.parse("list");
    EXPECT_EQ(cli::from_arg_matches_mut<Cli>(top).error(), missing("dir"));
    top.parse("bogus");
    EXPECT_EQ(cli::from_arg_matches_mut<Cli>(top), Cli{});
    EXPECT_EQ(cli::from_arg_matches_mut<cli::Commands>(top).error(),
              (ParserError{ParserErrorKind::InvalidSubcommand,
                           "the subcommand 'bogus' wasn't recognized"}));
    top.parse("bogus x");
    const auto& bogus = static_cast<const cli::Command&>(*top.get_subcommand("bogus"));
    EXPECT_EQ(cli::from_arg_matches_mut<cli::MakeCommands>(bogus).error().message,
              "the subcommand 'x' wasn't recognized");
    EXPECT_EQ(cli::from_arg_matches_mut<cli::InitCommands>(bogus).error().message,
              "the subcommand 'x' wasn't recognized");
  }
}

// --- Directory resolution ---

TEST(ResolveDir, OnlyTheCurrentDirectoryBecomesTheWorkingDirectory) {
  const fs::path cwd = fs::current_path();
  for (const char* dir : {".", "./", ".//", "./.", "././", "././/."}) {
    SCOPED_TRACE(dir);
    EXPECT_EQ(cli::resolve_dir(dir).native(), cwd.native());
  }
  for (const char* dir : {"", "..", "./x", "x/.", "./..", ".x", "...", "../shop", "x", "/", "/."}) {
    SCOPED_TRACE(dir);
    EXPECT_EQ(cli::resolve_dir(dir).native(), dir);
  }
}

TEST(ResolveDir, KeepsTheDotWhenTheWorkingDirectoryIsGone) {
  const fs::path before = fs::current_path();
  {
    testing_support::TempDir temp;
    const fs::path gone = temp.path() / "gone";
    fs::create_directory(gone);
    ASSERT_EQ(::chdir(gone.c_str()), 0);
    fs::remove(gone);
    EXPECT_EQ(cli::resolve_dir("./").native(), "./");
    ASSERT_EQ(::chdir(before.c_str()), 0);
  }
}

}  // namespace
