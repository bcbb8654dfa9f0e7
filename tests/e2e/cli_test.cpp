#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::run_brintle;
using testing_support::RunOptions;
using testing_support::Sink;
using testing_support::TempDir;
using Args = std::vector<std::string>;

RunOptions in(const fs::path& cwd) {
  RunOptions options;
  options.cwd = cwd;
  return options;
}

RunOptions writing_to(Sink out, Sink err) {
  RunOptions options;
  options.out = out;
  options.err = err;
  return options;
}

const std::string kTopHelp =
    "FastAPI feature-based module manager (like a web framework's built-in generator CLI).\n"
    "\n"
    "Usage: brintle [OPTIONS] <COMMAND>\n"
    "\n"
    "Commands:\n"
    "  new            Scaffold a new best-practice `FastAPI` project\n"
    "  make           Scaffold modules and core infrastructure\n"
    "  init           Add optional infrastructure to an existing project\n"
    "  list           List registered modules and their boundaries\n"
    "  help           Print this message or the help of the given subcommand(s)\n"
    "\n"
    "Options:\n"
    "  -h, --help     Print help\n"
    "  -V, --version  Print version\n";

const std::string kMakeHelp =
    "Scaffold modules and core infrastructure\n"
    "\n"
    "Usage: brintle make [OPTIONS] <COMMAND>\n"
    "\n"
    "Commands:\n"
    "  module      Scaffold a feature module and register it\n"
    "  help        Print this message or the help of the given subcommand(s)\n"
    "\n"
    "Options:\n"
    "  -h, --help  Print help\n";

const std::string kInitHelp =
    "Add optional infrastructure to an existing project\n"
    "\n"
    "Usage: brintle init [OPTIONS] <COMMAND>\n"
    "\n"
    "Commands:\n"
    "  alembic     Add Alembic migration scaffolding to an existing project\n"
    "  help        Print this message or the help of the given subcommand(s)\n"
    "\n"
    "Options:\n"
    "  -h, --help  Print help\n";

// The help of `new` after its first line, with the help flag's text for the mode.
std::string new_help_body(std::string_view help_flag) {
  return "\n"
         "Usage: brintle new [OPTIONS] <NAME>\n"
         "\n"
         "Arguments:\n"
         "  <NAME>                           Project name, or '.' to scaffold into --dir\n"
         "\n"
         "Options:\n"
         "  -d, --dir <DIR>                  Parent directory for the new project [default: .]\n"
         "      --title <TITLE>              Human-readable app title\n"
         "      --description <DESCRIPTION>  Short project description [default: ]\n"
         "      --dry-run                    Preview files without writing\n"
         "  -f, --force                      Overwrite an existing project\n"
         "  -h, --help                       " +
         std::string(help_flag) + "\n";
}

const std::string kNewShortHelp = "Scaffold a new best-practice `FastAPI` project\n" +
                                  new_help_body("Print help (see more with '--help')");
const std::string kNewLongHelp =
    "Scaffold a new best-practice `FastAPI` project.\n"
    "\n"
    "Generates a `src`-layout project: `.env`, `src/main.py`, `src/core/` (config + async "
    "database), the `src/modules/` registry, a `tests/` suite, plus `pyproject.toml` / "
    "`.gitignore` / `.python-version`. The project is immediately manageable with `brintle make "
    "module` / `brintle list`.\n" +
    new_help_body("Print help (see a summary with '-h')");

const std::string kModuleLongHelp =
    "Scaffold a feature module and register it.\n"
    "\n"
    "Generates a minimal module skeleton (schemas / service / router / __init__) that outlines "
    "the module's shape; fill in the entity fields and business logic yourself. The shared "
    "core/ database scaffolding and the module registry are created automatically.\n"
    "\n"
    "Usage: brintle make module [OPTIONS] <FEATURE>\n"
    "\n"
    "Arguments:\n"
    "  <FEATURE>        Feature name, e.g. user\n"
    "\n"
    "Options:\n"
    "  -d, --dir <DIR>  Target project root [default: .]\n"
    "      --dry-run    Preview files without writing\n"
    "  -f, --force      Overwrite existing files\n"
    "  -h, --help       Print help (see a summary with '-h')\n";

TEST(CliEndToEnd, GivenNothingACommandPrintsItsHelpAsAnError) {
  for (const auto& [args, help] : std::initializer_list<std::pair<Args, std::string>>{
           {{}, kTopHelp}, {{"make"}, kMakeHelp}, {{"init"}, kInitHelp}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const auto result = run_brintle(args);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, help);
  }
}

TEST(CliEndToEnd, HelpOnRequestGoesToStandardOutput) {
  for (const auto& [args, help] : std::initializer_list<std::pair<Args, std::string>>{
           {{"-h"}, kTopHelp},
           {{"--help"}, kTopHelp},
           {{"help"}, kTopHelp},
           {{"make", "--help"}, kMakeHelp},
           {{"make", "-h"}, kMakeHelp},
           {{"make", "help"}, kMakeHelp},
           {{"help", "init"}, kInitHelp},
           {{"new", "-h"}, kNewShortHelp},
           {{"new", "--help"}, kNewLongHelp},
           {{"help", "new"}, kNewLongHelp},
           {{"make", "help", "module"}, kModuleLongHelp},
           {{"help", "make", "module"}, kModuleLongHelp},
           {{"make", "module", "--help"}, kModuleLongHelp},
       }) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const auto result = run_brintle(args);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, help);
    EXPECT_EQ(result.err, "");
  }
}

TEST(CliEndToEnd, TheVersionBelongsToTheTopCommand) {
  for (const char* flag : {"--version", "-V"}) {
    const auto result = run_brintle({flag});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "brintle 0.7.0\n");
    EXPECT_EQ(result.err, "");
  }
  const auto result = run_brintle({"list", "--version"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "error: unexpected argument '--version' found\n"
            "\n"
            "Usage: brintle list [OPTIONS]\n"
            "\n"
            "For more information, try '--help'.\n");
}

TEST(CliEndToEnd, UsageErrorsPrintTheMessageAndUsageWithStatusTwo) {
  for (const auto& [args, message, usage] :
       std::initializer_list<std::tuple<Args, std::string_view, std::string_view>>{
           {{"init", "alembic", "--force"}, "unexpected argument '--force' found",
            "brintle init alembic [OPTIONS]"},
           {{"list", "--dir", ""}, "a value is required for '--dir <DIR>' but none was supplied",
            "brintle list [OPTIONS]"},
           {{"list", "--dir="}, "a value is required for '--dir <DIR>' but none was supplied",
            "brintle list [OPTIONS]"},
           {{"new", "foo", "--dry-run=yes"},
            "unexpected value 'yes' for '--dry-run' found; no more were expected",
            "brintle new [OPTIONS] <NAME>"},
           {{"new", "sh\xffop"}, "invalid UTF-8 was detected", "brintle new [OPTIONS] <NAME>"},
           {{"new"}, "the following required arguments were not provided:\n  <NAME>",
            "brintle new [OPTIONS] <NAME>"},
           {{"make", "module"}, "the following required arguments were not provided:\n  <FEATURE>",
            "brintle make module [OPTIONS] <FEATURE>"},
       }) {
    SCOPED_TRACE(::testing::PrintToString(args));
    TempDir temp;
    const auto result = run_brintle(args, in(temp.path()));
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "error: " + std::string(message) + "\n\nUsage: " + std::string(usage) +
                              "\n\nFor more information, try '--help'.\n");
    EXPECT_TRUE(fs::is_empty(temp.path()));
  }
}

TEST(CliEndToEnd, AMistypedSubcommandGetsATip) {
  const auto result = run_brintle({"neww", "foo"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "error: unexpected argument 'neww' found\n"
            "\n"
            "  tip: a similar subcommand exists: 'new'\n"
            "\n"
            "Usage: brintle [OPTIONS] <COMMAND>\n"
            "\n"
            "For more information, try '--help'.\n");
}

TEST(CliEndToEnd, FailedWritesOfTheParserKeepItsStatus) {
  for (Sink sink : {Sink::DevFull, Sink::ClosedByReader, Sink::NotOpen}) {
    SCOPED_TRACE(static_cast<int>(sink));
    EXPECT_EQ(run_brintle({"--help"}, writing_to(sink, Sink::Pipe)).status, 0);
    EXPECT_EQ(run_brintle({"--version"}, writing_to(sink, Sink::Pipe)).status, 0);
    EXPECT_EQ(run_brintle({}, writing_to(Sink::Pipe, sink)).status, 2);
    EXPECT_EQ(run_brintle({"neww"}, writing_to(Sink::Pipe, sink)).status, 2);
  }
}

TEST(CliEndToEnd, AnEmptyTitleAfterEqualsIsAnEmptyTitle) {
  TempDir temp;
  const auto result = run_brintle({"new", "shop", "--title="}, in(temp.path()));
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_NE(read_file(temp.path() / "shop/src/main.py").find("FastAPI(title=\"\", "),
            std::string::npos);
  EXPECT_TRUE(read_file(temp.path() / "shop/README.md").starts_with("# \n"));
}

// The report lines of a run, each without its labels: the paths as printed.
std::vector<std::string> reported_paths(const std::string& out) {
  std::vector<std::string> paths;
  for (std::size_t start = 0; start < out.size();) {
    const std::size_t end = out.find('\n', start);
    std::string_view line(out.data() + start, end - start);
    if (line.starts_with("[dry-run] [dry-run] ")) paths.emplace_back(line.substr(20));
    start = end + 1;
  }
  return paths;
}

TEST(CliEndToEnd, TheCurrentDirectoryIsPrintedAsAnAbsolutePath) {
  TempDir temp;
  const std::string cwd = fs::canonical(temp.path()).string();
  for (const Args& dir :
       std::initializer_list<Args>{{}, {"--dir", "."}, {"-d", "./"}, {"--dir=./."}}) {
    SCOPED_TRACE(::testing::PrintToString(dir));
    for (Args args : {Args{"init", "alembic", "--dry-run"}, Args{"new", "shop", "--dry-run"}}) {
      args.insert(args.end(), dir.begin(), dir.end());
      const auto result = run_brintle(args, in(temp.path()));
      ASSERT_EQ(result.status, 0) << result.err;
      const auto paths = reported_paths(result.out);
      ASSERT_FALSE(paths.empty()) << result.out;
      for (const std::string& path : paths) EXPECT_TRUE(path.starts_with(cwd + "/")) << path;
    }
  }
  EXPECT_TRUE(fs::is_empty(temp.path()));
}

TEST(CliEndToEnd, ARelativeDirectoryStaysRelative) {
  TempDir temp;
  fs::create_directory(temp.path() / "here");
  const auto result = run_brintle({"init", "alembic", "--dry-run", "--dir", "../shop"},
                                  in(temp.path() / "here"));
  ASSERT_EQ(result.status, 0) << result.err;
  const auto paths = reported_paths(result.out);
  ASSERT_FALSE(paths.empty()) << result.out;
  for (const std::string& path : paths) EXPECT_TRUE(path.starts_with("../shop/")) << path;
}

}  // namespace
