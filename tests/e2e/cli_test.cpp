#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <ranges>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::run_brintle;
using testing_support::RunOptions;
using testing_support::Sink;
using Args = std::vector<std::string>;

// The parser ignores failed writes of its own texts: the status stays that of the outcome.
TEST(CliEndToEnd, ParserStatusesHoldWhenItsOutputCannotBeWritten) {
  for (Sink sink : {Sink::DevFull, Sink::ClosedByReader, Sink::NotOpen}) {
    SCOPED_TRACE(static_cast<int>(sink));
    RunOptions to_out, to_err;
    to_out.out = to_err.err = sink;
    EXPECT_EQ(run_brintle({"--help"}, to_out).status, 0);
    EXPECT_EQ(run_brintle({}, to_err).status, 2);
    EXPECT_EQ(run_brintle({"neww"}, to_err).status, 2);
  }
}

TEST(CliEndToEnd, TheCurrentDirectoryIsPrintedAbsoluteAndOtherDirectoriesAsGiven) {
  testing_support::TempDir temp;
  RunOptions options;
  options.cwd = temp.path() / "here";
  fs::create_directory(options.cwd);
  const std::string cwd = fs::canonical(options.cwd).string();
  for (const auto& [dir, base] : std::initializer_list<std::pair<Args, std::string>>{
           {{}, cwd}, {{"-d", "."}, cwd}, {{"--dir=./"}, cwd}, {{"--dir", "../shop"}, "../shop"}}) {
    SCOPED_TRACE(::testing::PrintToString(dir));
    Args args{"new", ".", "--dry-run"};
    args.insert(args.end(), dir.begin(), dir.end());
    const auto result = run_brintle(args, options);
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_NE(result.out, "");
    for (auto line : std::views::split(result.out.substr(0, result.out.size() - 1), '\n'))
      EXPECT_TRUE(std::string_view(line).starts_with("[dry-run] [dry-run] " + base + "/"))
          << std::string_view(line);
  }
}

}  // namespace
