#include "generators/alembic.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

constexpr std::string_view kAlembicFiles[] = {"alembic.ini", "migrations/env.py",
                                              "migrations/script.py.mako",
                                              "migrations/versions/0001_initial.py"};

std::int64_t now_seconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Seconds since the epoch of a civil UTC time, for writing the cases in calendar terms.
std::int64_t utc(int year, unsigned month, unsigned day, int hour, int minute, int second) {
  const std::chrono::sys_days date{std::chrono::year{year} / month / day};
  return date.time_since_epoch().count() * 86400 + hour * 3600 + minute * 60 + second;
}

TEST(Alembic, CreateDateCalendar) {
  struct Case {
    std::int64_t seconds;
    std::string_view text;
  };
  for (const Case& c : std::initializer_list<Case>{
           {0, "1970-01-01 00:00:00"},
           {-1, "1970-01-01 00:00:00"},
           {-86400 * 365, "1970-01-01 00:00:00"},
           {59, "1970-01-01 00:00:59"},
           {86399, "1970-01-01 23:59:59"},
           {86400, "1970-01-02 00:00:00"},
           {1796489150, "2026-12-05 16:45:50"},
           {utc(2026, 12, 5, 16, 45, 50), "2026-12-05 16:45:50"},
           {utc(2000, 2, 29, 12, 0, 0), "2000-02-29 12:00:00"},
           {utc(2000, 2, 29, 0, 0, 0) + 86400, "2000-03-01 00:00:00"},
           {utc(2100, 2, 28, 0, 0, 0) + 86400, "2100-03-01 00:00:00"},
           {utc(1999, 12, 31, 23, 59, 59), "1999-12-31 23:59:59"},
           {utc(1999, 12, 31, 23, 59, 59) + 1, "2000-01-01 00:00:00"},
           {utc(2024, 2, 28, 23, 59, 59) + 1, "2024-02-29 00:00:00"},
           {utc(2023, 2, 28, 23, 59, 59) + 1, "2023-03-01 00:00:00"},
           {utc(1970, 3, 1, 0, 0, 0) - 1, "1970-02-28 23:59:59"},
           {utc(12345, 6, 7, 8, 9, 10), "12345-06-07 08:09:10"},
       }) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(generators::alembic::format_create_date(c.seconds), c.text);
  }
  // The fixed value checks the helper above as much as the generator.
  EXPECT_EQ(utc(2026, 12, 5, 16, 45, 50), 1796489150);
}

TEST(Alembic, FreshProjectGetsFourFilesStampedWithTheRunTime) {
  TempDir dir;
  const std::string before = generators::alembic::format_create_date(now_seconds());
  const auto files = generators::alembic::generate_alembic(dir.path(), "src", false);
  const std::string after = generators::alembic::format_create_date(now_seconds());
  ASSERT_TRUE(files) << files.error().joined();
  ASSERT_EQ(files->size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(kAlembicFiles[i]);
    EXPECT_EQ((*files)[i].path, dir.path() / kAlembicFiles[i]);
    EXPECT_EQ((*files)[i].status, WriteStatus::Created);
    EXPECT_EQ(read_file((*files)[i].path), (*files)[i].content);
  }
  const std::string baseline = read_file(dir.path() / kAlembicFiles[3]);
  std::smatch match;
  const std::regex stamp("\nCreate Date: (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d)\n");
  ASSERT_TRUE(std::regex_search(baseline, match, stamp));
  EXPECT_LE(before, match[1].str());
  EXPECT_LE(match[1].str(), after);
  EXPECT_NE(read_file(dir.path() / kAlembicFiles[1]).find("from src.core.config import settings\n"),
            std::string::npos);
  // The Mako revision template keeps its own placeholder for Alembic to fill.
  EXPECT_NE(read_file(dir.path() / kAlembicFiles[2]).find("Create Date: ${create_date}\n"),
            std::string::npos);
}

TEST(Alembic, ExistingFilesAreSkippedAndKept) {
  TempDir dir;
  write_file(dir.path() / "alembic.ini", "[alembic]\nmine = 1\n");
  write_file(dir.path() / "migrations" / "env.py", "");
  const auto files = generators::alembic::generate_alembic(dir.path(), "src", false);
  ASSERT_TRUE(files) << files.error().joined();
  ASSERT_EQ(files->size(), 4u);
  EXPECT_EQ((*files)[0].status, WriteStatus::Skipped);
  EXPECT_EQ((*files)[1].status, WriteStatus::Skipped);
  EXPECT_EQ((*files)[2].status, WriteStatus::Created);
  EXPECT_EQ((*files)[3].status, WriteStatus::Created);
  EXPECT_EQ(read_file(dir.path() / "alembic.ini"), "[alembic]\nmine = 1\n");
  EXPECT_EQ(read_file(dir.path() / "migrations" / "env.py"), "");
}

TEST(Alembic, SecondRunSkipsAllAndKeepsTheBaseline) {
  TempDir dir;
  ASSERT_TRUE(generators::alembic::generate_alembic(dir.path(), "src", false));
  // Overwrite the stamp so that a rewrite would show even within the same second.
  const fs::path baseline = dir.path() / kAlembicFiles[3];
  write_file(baseline, "first run\n");
  const auto files = generators::alembic::generate_alembic(dir.path(), "src", false);
  ASSERT_TRUE(files) << files.error().joined();
  ASSERT_EQ(files->size(), 4u);
  for (const GeneratedFile& file : *files) EXPECT_EQ(file.status, WriteStatus::Skipped);
  EXPECT_EQ(read_file(baseline), "first run\n");
}

TEST(Alembic, DryRunReportsEveryFileAndWritesNothing) {
  TempDir dir;
  write_file(dir.path() / "alembic.ini", "mine\n");
  const auto files = generators::alembic::generate_alembic(dir.path(), "src", true);
  ASSERT_TRUE(files) << files.error().joined();
  ASSERT_EQ(files->size(), 4u);
  for (const GeneratedFile& file : *files) EXPECT_EQ(file.status, WriteStatus::DryRun);
  EXPECT_EQ(read_file(dir.path() / "alembic.ini"), "mine\n");
  EXPECT_FALSE(fs::exists(dir.path() / "migrations"));
}

TEST(Alembic, ConfiguredSourceEntersTheTextsOnly) {
  TempDir dir;
  write_file(dir.path() / ".brintle.json", "{\"source_dir\": \"app\"}\n");
  const auto files = generators::alembic::generate_alembic(dir.path(), std::nullopt, false);
  ASSERT_TRUE(files) << files.error().joined();
  const std::string env = read_file(dir.path() / "migrations" / "env.py");
  for (std::string_view line : {"from app.core.config import settings\n",
                                "from app.core.database import Base\n",
                                "from app.modules import modules\n"}) {
    EXPECT_NE(env.find(line), std::string::npos) << line;
  }
  EXPECT_NE(read_file(dir.path() / "alembic.ini").find("from app.core.config in migrations/env.py"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(dir.path() / "migrations" / "versions" / "0001_initial.py"));
  EXPECT_FALSE(fs::exists(dir.path() / "app"));
}

TEST(Alembic, WriteFailureEndsTheGenerator) {
  TempDir dir;
  write_file(dir.path() / "migrations", "not a directory");
  const auto files = generators::alembic::generate_alembic(dir.path(), "src", false);
  ASSERT_FALSE(files);
  EXPECT_EQ(files.error().messages(), std::vector<std::string>{os_error_text(ENOTDIR)});
}

}  // namespace
