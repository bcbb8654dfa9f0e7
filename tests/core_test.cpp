#include "generators/core.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_file, testing_support::TempDir, testing_support::write_file;
using Names = std::vector<std::string>;

// Runs the generator in a project configured for the source directory "app", with app/core
// holding `files` (name → bytes; "/" makes a directory), and expects the records of `written`,
// in order. A file written holds the record's text ("\n" for the empty one); everything else,
// and in a dry run the whole disk, stays as it was.
void generates(const std::map<std::string, std::string>& files, bool dry_run, Names written) {
  SCOPED_TRACE(::testing::PrintToString(files) + (dry_run ? " dry run" : ""));
  TempDir dir;
  write_file(dir.path() / ".brintle.json", R"({"source_dir": "app"})");
  write_file(dir.path() / "src/main.py", "");
  const fs::path core = dir.path() / "app/core";
  for (const auto& [name, bytes] : files)
    bytes == "/" ? void(fs::create_directories(core / name)) : write_file(core / name, bytes);
  const auto records = generators::core::generate_core(dir.path(), std::nullopt, dry_run);
  std::map<std::string, std::string> after = files;  // what the disk holds afterwards
  Names names;
  for (const writers::GeneratedFile& file : records.value()) {
    names.push_back(file.path.lexically_relative(core).string());
    EXPECT_EQ(file.status, dry_run ? writers::WriteStatus::DryRun : writers::WriteStatus::Created);
    EXPECT_EQ(file.content.contains("from app.core.config "), names.back() == "database.py");
    if (!dry_run) after[names.back()] = file.content.empty() ? "\n" : file.content;
  }
  EXPECT_EQ(names, written);
  for (const auto& [name, bytes] : after)
    EXPECT_EQ(fs::is_directory(core / name) ? "/" : read_file(core / name), bytes) << name;
  EXPECT_EQ(fs::exists(dir.path() / "app"), !after.empty());
}

// A dry run lists exactly what a real run writes.
TEST(Core, WritesOnlyMissingOrBlankFiles) {
  for (bool dry : {false, true}) {
    generates({}, dry, {"__init__.py", "config.py", "database.py"});
    generates({{"__init__.py", ""}, {"config.py", "X"}, {"database.py", "#"}}, dry, {});
    for (const char* blank : {"", " \t\r\n", "\u00a0\u3000\n"})
      generates({{"__init__.py", "/"}, {"config.py", blank}}, dry, {"config.py", "database.py"});
    generates({{"__init__.py", "\n"}, {"config.py", "X"}}, dry, {"database.py"});
    // Not readable as UTF-8 text: perhaps the developer's work, so left alone with no record.
    generates({{"config.py", "# caf\xe9\n"}, {"database.py", "/"}}, dry, {"__init__.py"});
  }
}

TEST(Core, ModuleWithoutReadPermissionIsLeftAlone) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempDir dir;
  write_file(dir.path() / "src/core/config.py", "X = 1\n");
  fs::permissions(dir.path() / "src/core/config.py", fs::perms::none);
  EXPECT_EQ(generators::core::generate_core(dir.path(), "src", false).value().size(), 2u);
  EXPECT_EQ(fs::file_size(dir.path() / "src/core/config.py"), 6u);
}

}  // namespace
