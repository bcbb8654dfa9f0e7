#include "generators/core.h"

#include <cerrno>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "render/render.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

std::string rendered(std::string_view name, std::string_view source) {
  render::Context context;
  context.put("source", std::string(source));
  return *render::render_template("core", name, context) + "\n";
}

// The file names of the records, relative to the core directory, with their statuses.
std::vector<std::pair<std::string, WriteStatus>> summary(const std::vector<GeneratedFile>& files,
                                                         const fs::path& core_dir) {
  std::vector<std::pair<std::string, WriteStatus>> out;
  for (const GeneratedFile& file : files) {
    out.emplace_back(file.path.lexically_relative(core_dir).string(), file.status);
  }
  return out;
}

using Summary = std::vector<std::pair<std::string, WriteStatus>>;

TEST(Core, FreshProjectGetsAllThreeFiles) {
  TempDir dir;
  const auto files = generators::core::generate_core(dir.path(), "src", false);
  ASSERT_TRUE(files) << files.error().joined();
  const fs::path core = dir.path() / "src" / "core";
  EXPECT_EQ(summary(*files, core), (Summary{{"__init__.py", WriteStatus::Created},
                                            {"config.py", WriteStatus::Created},
                                            {"database.py", WriteStatus::Created}}));
  EXPECT_EQ((*files)[0].path, core / "__init__.py");
  EXPECT_EQ(read_file(core / "__init__.py"), "\n");
  EXPECT_EQ(read_file(core / "config.py"), rendered("config.py.j2", "src"));
  EXPECT_EQ(read_file(core / "database.py"), rendered("database.py.j2", "src"));
  EXPECT_EQ((*files)[2].content, read_file(core / "database.py"));
  for (const char* name : {"config.py", "database.py"}) {
    const auto parsed = testing_support::run_program(
        {"python3", "-c", "import ast,sys; ast.parse(open(sys.argv[1]).read())",
         (core / name).string()});
    EXPECT_EQ(parsed.status, 0) << name << "\n" << parsed.err;
  }
}

TEST(Core, FilesWithContentAreNeverReplaced) {
  TempDir dir;
  const fs::path core = dir.path() / "src" / "core";
  write_file(core / "__init__.py", "");
  write_file(core / "config.py", "X = 1\n");
  write_file(core / "database.py", "# mine");
  const auto files = generators::core::generate_core(dir.path(), "src", false);
  ASSERT_TRUE(files) << files.error().joined();
  EXPECT_TRUE(files->empty());
  EXPECT_EQ(read_file(core / "__init__.py"), "");
  EXPECT_EQ(read_file(core / "config.py"), "X = 1\n");
  EXPECT_EQ(read_file(core / "database.py"), "# mine");
}

TEST(Core, BlankModulesAreFilledAndMissingOnesWritten) {
  struct Case {
    std::string_view name;
    std::string config;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"zero bytes", ""},
           {"ASCII blanks", " \t\r\n\n  "},
           {"non-ASCII white space", "\u00a0\u3000\n\u2028\u0085"},
       }) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path core = dir.path() / "src" / "core";
    write_file(core / "__init__.py", "");
    write_file(core / "config.py", c.config);
    const auto files = generators::core::generate_core(dir.path(), "src", false);
    ASSERT_TRUE(files) << files.error().joined();
    EXPECT_EQ(summary(*files, core), (Summary{{"config.py", WriteStatus::Created},
                                              {"database.py", WriteStatus::Created}}));
    EXPECT_EQ(read_file(core / "config.py"), rendered("config.py.j2", "src"));
    EXPECT_EQ(read_file(core / "__init__.py"), "");
  }
}

TEST(Core, OnlyTheMissingModuleIsWritten) {
  TempDir dir;
  const fs::path core = dir.path() / "src" / "core";
  write_file(core / "__init__.py", "\n");
  write_file(core / "config.py", "settings = None\n");
  const auto files = generators::core::generate_core(dir.path(), "src", false);
  ASSERT_TRUE(files) << files.error().joined();
  EXPECT_EQ(summary(*files, core), (Summary{{"database.py", WriteStatus::Created}}));
  EXPECT_EQ(read_file(core / "config.py"), "settings = None\n");
}

TEST(Core, PackageMarkerThatIsADirectoryCountsAsPresent) {
  TempDir dir;
  const fs::path core = dir.path() / "src" / "core";
  fs::create_directories(core / "__init__.py");
  const auto files = generators::core::generate_core(dir.path(), "src", false);
  ASSERT_TRUE(files) << files.error().joined();
  EXPECT_EQ(summary(*files, core), (Summary{{"config.py", WriteStatus::Created},
                                            {"database.py", WriteStatus::Created}}));
}

TEST(Core, DryRunListsWhatWouldBeWrittenAndTouchesNothing) {
  TempDir dir;
  const auto files = generators::core::generate_core(dir.path(), "src", true);
  ASSERT_TRUE(files) << files.error().joined();
  const fs::path core = dir.path() / "src" / "core";
  EXPECT_EQ(summary(*files, core), (Summary{{"__init__.py", WriteStatus::DryRun},
                                            {"config.py", WriteStatus::DryRun},
                                            {"database.py", WriteStatus::DryRun}}));
  EXPECT_EQ((*files)[0].content, "");
  EXPECT_FALSE(fs::exists(dir.path() / "src"));

  // With a blank config only the blank one and the missing ones are offered.
  write_file(core / "__init__.py", "");
  write_file(core / "config.py", "  \n");
  write_file(core / "database.py", "engine = None\n");
  const auto again = generators::core::generate_core(dir.path(), "src", true);
  ASSERT_TRUE(again) << again.error().joined();
  EXPECT_EQ(summary(*again, core), (Summary{{"config.py", WriteStatus::DryRun}}));
  EXPECT_EQ(read_file(core / "config.py"), "  \n");
}

TEST(Core, SourceFromConfigurationWhenNoneIsGiven) {
  TempDir dir;
  write_file(dir.path() / ".brintle.json", R"({"source_dir": "app"})");
  write_file(dir.path() / "src" / "main.py", "");
  const auto files = generators::core::generate_core(dir.path(), std::nullopt, false);
  ASSERT_TRUE(files) << files.error().joined();
  const fs::path core = dir.path() / "app" / "core";
  ASSERT_EQ(files->size(), 3u);
  EXPECT_EQ((*files)[2].path, core / "database.py");
  EXPECT_NE(read_file(core / "database.py").find("from app.core.config import settings\n"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(dir.path() / "src" / "core"));
}

// A module that exists but cannot be read as UTF-8 may still be the developer's work: it is
// left exactly as it is and reported nowhere.
TEST(Core, UnreadableModulesAreLeftAlone) {
  TempDir dir;
  const fs::path core = dir.path() / "src" / "core";
  const std::string latin1 = "# caf\xe9\nX = 1\n";
  write_file(core / "config.py", latin1);
  fs::create_directories(core / "database.py");
  const auto files = generators::core::generate_core(dir.path(), "src", false);
  ASSERT_TRUE(files) << files.error().joined();
  EXPECT_EQ(summary(*files, core), (Summary{{"__init__.py", WriteStatus::Created}}));
  EXPECT_EQ(read_file(core / "config.py"), latin1);
  EXPECT_TRUE(fs::is_directory(core / "database.py"));
  EXPECT_TRUE(fs::is_empty(core / "database.py"));
}

TEST(Core, ModuleWithoutReadPermissionIsLeftAlone) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempDir dir;
  const fs::path core = dir.path() / "src" / "core";
  write_file(core / "__init__.py", "");
  write_file(core / "config.py", "SECRET = 1\n");
  write_file(core / "database.py", "engine = None\n");
  fs::permissions(core / "config.py", fs::perms::none);
  const auto files = generators::core::generate_core(dir.path(), "src", false);
  fs::permissions(core / "config.py", fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_TRUE(files) << files.error().joined();
  EXPECT_TRUE(files->empty());
  EXPECT_EQ(read_file(core / "config.py"), "SECRET = 1\n");
}

TEST(Core, WriteFailureEndsTheGenerator) {
  TempDir dir;
  write_file(dir.path() / "src" / "core", "a file where the package should be");
  const auto files = generators::core::generate_core(dir.path(), "src", false);
  ASSERT_FALSE(files);
  EXPECT_EQ(files.error().messages(), std::vector<std::string>{os_error_text(ENOTDIR)});
  EXPECT_EQ(read_file(dir.path() / "src" / "core"), "a file where the package should be");
}

}  // namespace
