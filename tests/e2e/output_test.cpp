#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/process.h"

using testing_support::run_brintle;
using testing_support::RunOptions;
using testing_support::RunResult;

TEST(OutputE2e, ReportAndErrorLineAreColouredOnlyWhenForced) {
  std::string next_steps;  // as the first run without colour prints them, less the line feed
  for (const bool colour : {false, true}) {
    const testing_support::TempDir dir;
    RunOptions options;
    if (colour) options.env["CLICOLOR_FORCE"] = "1";
    const auto sgr = [&](const char* code, const std::string& text) {
      return colour ? "\x1b[" + std::string(code) + "m" + text + "\x1b[39m" : text;
    };
    // "--" only ends the options: those runs have no flag.
    for (const auto& [flag, label] : std::vector<std::pair<std::string, std::string>>{
             {"--dry-run", sgr("33", "[dry-run]") + " " + sgr("36", "[dry-run]")},
             {"--", sgr("32", "[created]")},
             {"--", sgr("33", "[skipped]")}}) {
      std::string report;
      for (const char* file : {"alembic.ini", "migrations/env.py", "migrations/script.py.mako",
                               "migrations/versions/0001_initial.py"})
        report += label + " " + (dir.path() / file).string() + "\n";
      const auto result = run_brintle({"init", "alembic", "--dir", dir.path(), flag}, options);
      if (next_steps.empty())
        next_steps = result.out.substr(report.size(), result.out.size() - report.size() - 1);
      EXPECT_TRUE(next_steps.starts_with("Next steps:\n")) << next_steps;
      EXPECT_EQ(result, (RunResult{0, report + sgr("36", next_steps) + "\n", ""}));
    }
    // No directory can be made under /dev/null.
    EXPECT_EQ(run_brintle({"init", "alembic", "--dir", "/dev/null"}, options),
              (RunResult{1, "", sgr("31", "error:") + " Not a directory (os error 20)\n"}));
  }
}

TEST(OutputE2e, UnusableStandardStreams) {
  using enum testing_support::Sink;
  std::vector<std::tuple<testing_support::Sink, testing_support::Sink, int, std::string>> cases{
      {ClosedByReader, Pipe, 0, ""},
      {NotOpen, Pipe, 0, ""},
      {DevFull, Pipe, 101, "failed printing to stdout: No space left on device (os error 28)"},
      {Pipe, ClosedByReader, 1, ""},
      {Pipe, NotOpen, 1, ""},
      {Pipe, DevFull, 101, ""}};
  for (const auto& [out, err, status, err_text] : cases) {
    const testing_support::TempDir dir;
    // The command fails (stderr unusable) when its directory cannot be made.
    const std::string target = err == Pipe ? dir.path().string() : "/dev/null";
    const auto result = run_brintle({"init", "alembic", "--dir", target}, {.out = out, .err = err});
    EXPECT_EQ(result.status, status) << "stdout " << int(out) << ", stderr " << int(err);
    EXPECT_TRUE(err_text.empty() ? result.err.empty() : result.err.contains(err_text))
        << result.err;
    // The files are written before the report: they stay whatever became of it.
    EXPECT_EQ(std::filesystem::exists(dir.path() / "alembic.ini"), err == Pipe);
  }
}
