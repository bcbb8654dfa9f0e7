// Standard streams the program cannot write to: its own messages end with status 101 unless the
// pipe's reader is gone or the stream is not open; the parser's texts keep the parser's status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "files/descriptor.h"
#include "support/process.h"

namespace {

using namespace testing_support;

TEST(Output, UnusableStandardStreams) {
  const std::string full =
      "fatal: failed printing to stdout: No space left on device (os error 28)\n";
  for (const auto& [out, err, status, err_text] :
       std::vector<std::tuple<Sink, Sink, int, std::string>>{
           {Sink::ClosedByReader, Sink::Pipe, 0, ""},
           {Sink::NotOpen, Sink::Pipe, 0, ""},
           {Sink::DevFull, Sink::Pipe, 101, full},
           {Sink::Pipe, Sink::ClosedByReader, 1, ""},
           {Sink::Pipe, Sink::NotOpen, 1, ""},
           {Sink::Pipe, Sink::DevFull, 101, ""}}) {
    SCOPED_TRACE(::testing::Message() << "stdout " << int(out) << ", stderr " << int(err));
    const TempDir dir;
    // The command fails (and writes to stderr) when its directory cannot be made.
    const std::string target = err == Sink::Pipe ? dir.path().string() : "/dev/null";
    const RunOptions options{.out = out, .err = err};
    const RunResult result = run_brintle({"init", "alembic", "--dir", target}, options);
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.err, err_text);
    // The files are written before the report: they stay whatever became of it.
    EXPECT_EQ(std::filesystem::exists(dir.path() / "alembic.ini"), err == Sink::Pipe);
    // Help to stdout, and bare help and a usage error to stderr.
    EXPECT_EQ(run_brintle({"--help"}, options).status, 0);
    EXPECT_EQ(run_brintle({}, options).status, 2);
    EXPECT_EQ(run_brintle({"neww"}, options).status, 2);
  }
}

// A standard descriptor that is not open stays taken while the program runs, so no file it opens
// is handed that number, whichever of the three it is.
TEST(Output, AClosedStandardDescriptorIsNotHandedOut) {
  for (int closed = STDIN_FILENO; closed <= STDERR_FILENO; ++closed) {
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(closed);
      files::occupy_closed_standard_descriptors();
      _exit(::open("/dev/null", O_RDONLY) > STDERR_FILENO ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(status, 0) << "descriptor " << closed;
  }
}

}  // namespace
