#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "files/resolve.h"
#include "style/output.h"
#include "support/process.h"
#include "writers/writers.h"

namespace fs = std::filesystem;
using testing_support::snapshot;
using testing_support::Tree;

namespace {

// What stood there: a file of mode 0604 with an old time stamp, a directory, a link to the file
// through a second link in another directory, and a link to a missing file.
const Tree kFixture{{"old.txt", "old"},
                    {"link.txt", "-> old.txt"},
                    {"sub", "<dir>"},
                    {"sub/link.txt", "-> ../link.txt"},
                    {"dangling.txt", "-> sub/gone.txt"}};

TEST(WriteFile, OutcomeAndBytesOnDiskForWhatStandsAtThePath) {
  const mode_t old_umask = ::umask(022);
  const std::string longest(255, 'n');  // its temporary file's name must fit as well
  struct Case {
    std::string path, content;
    bool force, dry_run;
    std::string outcome, record;  ///< status label or error text; the record's content
    Tree changes;                 ///< entries that differ from the fixture afterwards
  };
  for (const Case& c : std::vector<Case>{
           {"a.txt", "abc", false, false, "created", "abc\n", {{"a.txt", "abc\n"}}},
           {"a.txt", "abc\n\n", false, false, "created", "abc\n\n", {{"a.txt", "abc\n\n"}}},
           {"n/a.txt", "", false, false, "created", "\n", {{"n", "<dir>"}, {"n/a.txt", "\n"}}},
           {"old.txt", "new", true, true, "dry-run", "new", {}},
           {"n/a.txt", "x", false, true, "dry-run", "x", {}},
           {"old.txt", "new", false, false, "skipped", "new", {}},
           {"old.txt", "new", true, false, "created", "new\n", {{"old.txt", "new\n"}}},
           {"sub", "x", false, false, "skipped", "x", {}},
           {"sub/link.txt", "x", false, false, "skipped", "x", {}},
           {"sub/link.txt", "new", true, false, "created", "new\n", {{"old.txt", "new\n"}}},
           {"dangling.txt", "new", false, false, "created", "new\n", {{"sub/gone.txt", "new\n"}}},
           {longest, "x", false, false, "created", "x\n", {{longest, "x\n"}}},
       }) {
    SCOPED_TRACE(c.path + (c.force ? " forced" : "") + (c.dry_run ? " dry run" : ""));
    testing_support::TempDir dir;
    const fs::path old = dir.path() / "old.txt", path = dir.path() / c.path;
    testing_support::make_tree(dir.path(), kFixture);
    fs::permissions(old, fs::perms(0604));
    fs::last_write_time(old, fs::last_write_time(old) - std::chrono::hours(1));
    const auto old_time = fs::last_write_time(old);
    const bool has_attributes = ::setxattr(old.c_str(), "user.tag", "kept", 4, 0) == 0;

    files::ProjectRoot project(dir.path());
    const auto record = writers::write_file(project, path, c.content, c.force, c.dry_run);
    const char* const labels[] = {"created", "skipped", "dry-run"};
    EXPECT_EQ(record ? labels[static_cast<int>(record->status)] : record.error().joined(),
              c.outcome);
    EXPECT_EQ(record ? record->content : "", c.record);
    Tree expected = kFixture;
    for (const auto& [name, value] : c.changes) expected[name] = value;
    EXPECT_EQ(snapshot(dir.path()), expected);
    // A replaced file keeps its permission bits and extended attributes; a new one gets 0666
    // less the umask.
    EXPECT_EQ(fs::status(old).permissions(), fs::perms(0604));
    EXPECT_TRUE(!has_attributes || ::getxattr(old.c_str(), "user.tag", nullptr, 0) == 4);
    for (const auto& [name, value] : c.changes) {
      const bool new_file = value != "<dir>" && !kFixture.contains(name);
      EXPECT_TRUE(!new_file || fs::status(dir.path() / name).permissions() == fs::perms(0644));
    }
    EXPECT_TRUE(c.changes.contains("old.txt") || fs::last_write_time(old) == old_time);
  }
  ::umask(old_umask);
}

TEST(Report, OneLinePerRecordWithThePlainLabels) {
  const std::vector<writers::GeneratedFile> files{
      {"a", "x", writers::WriteStatus::Created},
      {"caf\xe9/\xff.py", "x", writers::WriteStatus::Skipped},
      {"dir/c.py", "x", writers::WriteStatus::DryRun}};
  for (const std::string prefix : {"", "[dry-run] "}) {
    std::string shown;
    for (const std::string& line : writers::report(files, !prefix.empty())) shown += line + "\n";
    EXPECT_EQ(style::strip_ansi(shown), prefix + "[created] a\n" + prefix +
                                            "[skipped] caf\uFFFD/\uFFFD.py\n" + prefix +
                                            "[dry-run] dir/c.py\n");
  }
}

}  // namespace
