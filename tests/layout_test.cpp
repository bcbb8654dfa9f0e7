#include "layout/layout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/cases.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::TempDir, testing_support::write_file;

// A project with src/main.py and the given .brintle.json.
struct Project {
  TempDir dir;
  explicit Project(const std::string& config) {
    write_file(dir.path() / ".brintle.json", config);
    write_file(dir.path() / "src" / "main.py", "");
  }
};

const bool kLayoutCases = testing_support::register_unit_cases(
    "layout",
    {{"registry",
      [](const auto& in) {
        const Project project(in[0]);
        return layout::registry_path(project.dir.path(),
                                     layout::source_dir_name(project.dir.path()))
            .lexically_relative(project.dir.path())
            .string();
      }},
     {"package", [](const auto& in) {
        const Project project(in[0]);
        const fs::path& root = project.dir.path();
        std::string shown = testing_support::outcome(layout::package_source_dir(root));
        const auto at = shown.find(root.native());
        if (at != std::string::npos) shown.replace(at, root.native().size(), "{root}");
        return shown;
      }}});

TEST(Layout, DetectionLooksForSrcMainPyOfAnyKindThroughLinks) {
  TempDir dir;
  fs::create_directories(dir.path() / ".brintle.json");  // unreadable: counts as absent
  EXPECT_EQ(layout::source_dir_name(dir.path()), "app");
  fs::create_directories(dir.path() / "src");
  fs::create_symlink(dir.path() / "target", dir.path() / "src" / "main.py");
  EXPECT_EQ(layout::source_dir_name(dir.path()), "app");  // the link dangles
  fs::create_directories(dir.path() / "target");
  EXPECT_EQ(layout::source_dir_name(dir.path()), "src");
  EXPECT_EQ(layout::registry_path(dir.path(), "given"), dir.path() / "given/modules/__init__.py");
}

TEST(Layout, AConfigurationFarLargerThanAnyRealOneCountsAsAbsent) {
  TempDir dir;
  const std::string config = R"({"source_dir": "lib"})";
  write_file(dir.path() / ".brintle.json", config + std::string(1024 * 1024 - config.size(), ' '));
  EXPECT_EQ(layout::source_dir_name(dir.path()), "lib");  // 1 MiB is still read
  write_file(dir.path() / ".brintle.json", config + std::string(1024 * 1024, ' '));
  EXPECT_EQ(layout::source_dir_name(dir.path()), "app");
  fs::resize_file(dir.path() / ".brintle.json", std::uintmax_t{50} << 30);  // sparse, not read
  EXPECT_EQ(layout::source_dir_name(dir.path()), "app");
}

}  // namespace
