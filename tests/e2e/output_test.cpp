// Standard streams the program cannot write to: its own messages end with status 101 unless the
// pipe's reader is gone or the stream is not open; the parser's texts keep the parser's status.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/process.h"

namespace {

using namespace testing_support;

TEST(Output, UnusableStandardStreams) {
  struct Case {
    Sink out, err;
    int status;
    std::string err_text;
  };
  const std::string no_space = "No space left on device (os error 28)";
  for (const Case& c : std::vector<Case>{
           {Sink::ClosedByReader, Sink::Pipe, 0, ""},
           {Sink::NotOpen, Sink::Pipe, 0, ""},
           {Sink::DevFull, Sink::Pipe, 101, "fatal: failed printing to stdout: " + no_space + "\n"},
           {Sink::Pipe, Sink::ClosedByReader, 1, ""},
           {Sink::Pipe, Sink::NotOpen, 1, ""},
           {Sink::Pipe, Sink::DevFull, 101, ""}}) {
    SCOPED_TRACE(::testing::Message() << "stdout " << int(c.out) << ", stderr " << int(c.err));
    const TempDir dir;
    // The command fails (and writes to stderr) when its directory cannot be made.
    const std::string target = c.err == Sink::Pipe ? dir.path().string() : "/dev/null";
    const RunOptions options{.out = c.out, .err = c.err};
    const RunResult result = run_brintle({"init", "alembic", "--dir", target}, options);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.err, c.err_text);
    // The files are written before the report: they stay whatever became of it.
    EXPECT_EQ(std::filesystem::exists(dir.path() / "alembic.ini"), c.err == Sink::Pipe);
    // Help to stdout, and bare help and a usage error to stderr.
    EXPECT_EQ(run_brintle({"--help"}, options).status, 0);
    EXPECT_EQ(run_brintle({}, options).status, 2);
    EXPECT_EQ(run_brintle({"neww"}, options).status, 2);
  }
}

}  // namespace
