#include "generators/alembic.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <regex>
#include <string>
#include <string_view>
#include <utility>

#include "support/process.h"

namespace {

using generators::alembic::format_create_date;

// Seconds since the epoch of midnight UTC on a civil date, by the standard library's calendar.
std::int64_t utc(int year, unsigned month, unsigned day) {
  return std::chrono::sys_days{std::chrono::year{year} / month / day}.time_since_epoch().count() *
         86400;
}

TEST(Alembic, CreateDateFollowsTheCalendar) {
  for (const auto& [seconds, text] : std::initializer_list<std::pair<std::int64_t, std::string>>{
           {1796489150, "2026-12-05 16:45:50"},
           {0, "1970-01-01 00:00:00"},
           {-1, "1970-01-01 00:00:00"},
           {-86400 * 365 * 10LL, "1970-01-01 00:00:00"},
           {utc(2000, 2, 29) + 45296, "2000-02-29 12:34:56"},
           {utc(2000, 2, 29) + 86400, "2000-03-01 00:00:00"},
           {utc(2100, 2, 28) + 86400, "2100-03-01 00:00:00"},
           {utc(2000, 1, 1) - 1, "1999-12-31 23:59:59"},
           {utc(2000, 1, 1), "2000-01-01 00:00:00"},
           {utc(12345, 6, 7), "12345-06-07 00:00:00"},
       })
    EXPECT_EQ(format_create_date(seconds), text) << seconds;
}

TEST(Alembic, BaselineIsStampedWithTheTimeOfTheRun) {
  // The same clock the program reads: time() may lag it by a tick, being served from a coarser
  // clock, which would put the stamp after the "after" reading.
  const auto now = [] {
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    using std::chrono::duration_cast, std::chrono::seconds;
    return format_create_date(duration_cast<seconds>(since_epoch).count());
  };
  testing_support::TempDir dir;
  const std::string before = now();
  ASSERT_TRUE(generators::alembic::generate_alembic(dir.path(), "src", false));
  const std::string after = now();
  const std::string baseline =
      testing_support::read_file(dir.path() / "migrations/versions/0001_initial.py");
  std::smatch stamp;
  ASSERT_TRUE(std::regex_search(baseline, stamp, std::regex("\nCreate Date: (.*)\n")));
  EXPECT_LE(before, stamp[1].str());
  EXPECT_LE(stamp[1].str(), after);
}

}  // namespace
