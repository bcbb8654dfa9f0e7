#include "generators/alembic.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>

#include "files/resolve.h"
#include "support/cases.h"
#include "support/process.h"

namespace {

using generators::alembic::format_create_date;

const bool kAlembicCases = testing_support::register_unit_cases(
    "alembic", {{"date", [](const auto& in) { return format_create_date(std::stoll(in[0])); }}});

TEST(Alembic, BaselineIsStampedWithTheTimeOfTheRun) {
  // The same clock the program reads: time() may lag it by a tick, being served from a coarser
  // clock, which would put the stamp after the "after" reading.
  const auto now = [] {
    using namespace std::chrono;
    return format_create_date(
        duration_cast<seconds>(system_clock::now().time_since_epoch()).count());
  };
  testing_support::TempDir dir;
  const std::string before = now();
  files::ProjectRoot project(dir.path());
  ASSERT_TRUE(generators::alembic::generate_alembic(project, "src", false));
  const std::string after = now();
  std::smatch stamp;
  const std::string baseline =
      testing_support::read_file(dir.path() / "migrations/versions/0001_initial.py");
  ASSERT_TRUE(std::regex_search(baseline, stamp, std::regex("\nCreate Date: (.*)\n")));
  EXPECT_LE(before, stamp[1].str());
  EXPECT_LE(stamp[1].str(), after);
}

}  // namespace
