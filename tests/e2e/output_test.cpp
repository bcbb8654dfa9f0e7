#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "style/output.h"
#include "support/process.h"

namespace fs = std::filesystem;
using testing_support::run_brintle;
using testing_support::RunOptions;
using testing_support::RunResult;
using testing_support::Sink;
using testing_support::TempDir;

namespace {

const std::vector<std::string> kAlembicFiles{
    "alembic.ini",
    "migrations/env.py",
    "migrations/script.py.mako",
    "migrations/versions/0001_initial.py",
};

constexpr std::string_view kGreen = "\x1b[32m";
constexpr std::string_view kYellow = "\x1b[33m";
constexpr std::string_view kCyan = "\x1b[36m";
constexpr std::string_view kDefault = "\x1b[39m";

// The report lines of `init alembic` into `root`, each label already in its colour codes.
std::string report_lines(const fs::path& root, const std::string& prefix,
                         const std::string& label) {
  std::string lines;
  for (const std::string& file : kAlembicFiles) {
    lines += prefix + label + " " + (root / file).string() + "\n";
  }
  return lines;
}

std::string coloured(std::string_view code, std::string_view text) {
  return std::string(code) + std::string(text) + std::string(kDefault);
}

RunOptions with_env(std::map<std::string, std::optional<std::string>> env) {
  RunOptions options;
  options.env = std::move(env);
  return options;
}

RunOptions with_sinks(Sink out, Sink err) {
  RunOptions options;
  options.out = out;
  options.err = err;
  return options;
}

const RunOptions kForcedColour = with_env({{"CLICOLOR_FORCE", "1"}});

RunResult init_alembic(const fs::path& root, RunOptions options = {},
                       std::vector<std::string> extra = {}) {
  std::vector<std::string> args{"init", "alembic", "--dir", root.string()};
  args.insert(args.end(), extra.begin(), extra.end());
  return run_brintle(args, options);
}

// A command that fails on a file-system error: its directory is a regular file.
RunResult failing_command(const TempDir& dir, RunOptions options = {}) {
  const fs::path file = dir.path() / "not-a-directory";
  testing_support::write_file(file, "plain\n");
  return init_alembic(file, options);
}

void expect_alembic_files_written(const fs::path& root) {
  for (const std::string& file : kAlembicFiles) {
    EXPECT_TRUE(fs::is_regular_file(root / file)) << file;
  }
}

TEST(OutputE2e, ReportWithoutColourIsPlainText) {
  TempDir dir;
  const RunResult result = init_alembic(dir.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  const std::string report = report_lines(dir.path(), "", "[created]");
  ASSERT_EQ(result.out.substr(0, report.size()), report);
  const std::string rest = result.out.substr(report.size());
  EXPECT_TRUE(rest.starts_with("Next steps:\n")) << rest;
  EXPECT_TRUE(rest.ends_with("steps 2-3.\n")) << rest;
  EXPECT_EQ(result.out.find('\x1b'), std::string::npos);
  expect_alembic_files_written(dir.path());
}

TEST(OutputE2e, ForcedColourWrapsLabelsAndWholeMessages) {
  TempDir dir;
  const RunResult plain = init_alembic(dir.path(), {}, {"--dry-run"});
  const RunResult colour =
      init_alembic(dir.path(), kForcedColour, {"--dry-run"});
  EXPECT_EQ(colour.status, 0);
  const std::string report =
      report_lines(dir.path(), coloured(kYellow, "[dry-run]") + " ", coloured(kCyan, "[dry-run]"));
  ASSERT_EQ(colour.out.substr(0, report.size()), report);
  // The next-steps text is one message of several lines: one opening code, one closing code.
  const std::string plain_report = report_lines(dir.path(), "[dry-run] ", "[dry-run]");
  ASSERT_EQ(plain.out.substr(0, plain_report.size()), plain_report);
  std::string text = plain.out.substr(plain_report.size());
  ASSERT_TRUE(text.ends_with("\n"));
  text.pop_back();
  EXPECT_EQ(colour.out.substr(report.size()), coloured(kCyan, text) + "\n");
  EXPECT_EQ(style::strip_ansi(colour.out), plain.out);
  EXPECT_FALSE(fs::exists(dir.path() / "alembic.ini"));
}

TEST(OutputE2e, ColourCodesOfCreatedAndSkippedLabels) {
  TempDir dir;
  const RunResult first = init_alembic(dir.path(), kForcedColour);
  EXPECT_EQ(first.status, 0);
  EXPECT_TRUE(first.out.starts_with(report_lines(dir.path(), "", coloured(kGreen, "[created]"))))
      << first.out;
  const RunResult second = init_alembic(dir.path(), kForcedColour);
  EXPECT_EQ(second.status, 0);
  EXPECT_TRUE(second.out.starts_with(report_lines(dir.path(), "", coloured(kYellow, "[skipped]"))))
      << second.out;
}

TEST(OutputE2e, NoColourBeatsForcedColour) {
  TempDir dir;
  const RunResult result =
      init_alembic(dir.path(), with_env({{"NO_COLOR", "1"}, {"CLICOLOR_FORCE", "1"}}));
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(result.out.starts_with(report_lines(dir.path(), "", "[created]"))) << result.out;
  EXPECT_EQ(result.out.find('\x1b'), std::string::npos);
}

TEST(OutputE2e, ErrorLineWithAndWithoutColour) {
  TempDir dir;
  const RunResult plain = failing_command(dir);
  EXPECT_EQ(plain.status, 1);
  EXPECT_EQ(plain.out, "");
  EXPECT_EQ(plain.err, "error: Not a directory (os error 20)\n");

  const RunResult colour = failing_command(dir, kForcedColour);
  EXPECT_EQ(colour.status, 1);
  EXPECT_EQ(colour.err, "\x1b[31merror:\x1b[39m Not a directory (os error 20)\n");
}

TEST(OutputE2e, StandardOutputThatCannotBeReadDoesNotChangeTheStatus) {
  for (const Sink sink : {Sink::ClosedByReader, Sink::NotOpen}) {
    SCOPED_TRACE(sink == Sink::ClosedByReader ? "closed by reader" : "not open");
    TempDir dir;
    const RunResult result = init_alembic(dir.path(), with_sinks(sink, Sink::Pipe));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    expect_alembic_files_written(dir.path());
  }
}

TEST(OutputE2e, FullStandardOutputEndsWithStatus101) {
  TempDir dir;
  const RunResult result = init_alembic(dir.path(), with_sinks(Sink::DevFull, Sink::Pipe));
  EXPECT_EQ(result.status, 101);
  EXPECT_NE(result.err.find("failed printing to stdout: No space left on device (os error 28)"),
            std::string::npos)
      << result.err;
  // The files were written before the report failed, and stay.
  expect_alembic_files_written(dir.path());
}

TEST(OutputE2e, FailingCommandWithUnusableStandardError) {
  struct Case {
    const char* name;
    Sink err;
    int status;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"closed by reader", Sink::ClosedByReader, 1},
           {"not open", Sink::NotOpen, 1},
           {"full device", Sink::DevFull, 101},
       }) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const RunResult result = failing_command(dir, with_sinks(Sink::Pipe, c.err));
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, "");
  }
}

TEST(OutputE2e, FailingCommandDoesNotWriteToStandardOutput) {
  TempDir dir;
  // Nothing goes to the full standard output, so its failure cannot turn status 1 into 101.
  const RunResult result = failing_command(dir, with_sinks(Sink::DevFull, Sink::Pipe));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "error: Not a directory (os error 20)\n");
}

}  // namespace
