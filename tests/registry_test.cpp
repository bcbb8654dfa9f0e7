#include "generators/registry.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "files/resolve.h"
#include "support/cases.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;
namespace registry = generators::registry;
using testing_support::read_file, testing_support::TempDir, testing_support::write_file;
using writers::WriteStatus;

const bool kRegistryCases = testing_support::register_unit_cases(
    "registry", {{"content",
                  [](const auto& in) {
                    std::vector<registry::RegistryEntry> entries;
                    for (std::size_t i = 0; i + 1 < in.size(); i += 2)
                      entries.push_back({in[i], in[i + 1]});
                    return registry::registry_content(entries);
                  }},
                 {"parse",
                  [](const auto& in) {
                    std::string lines;
                    for (const auto& [name, path] : registry::parse_registry(in[0]).entries)
                      lines += fmt::format("{}: {}\n", name, path);
                    return lines;
                  }},
                 {"stray",
                  [](const auto& in) {
                    return std::to_string(registry::parse_registry(in[0]).stray_line);
                  }},
                 {"unwritable",
                  [](const auto& in) {
                    return std::to_string(registry::parse_registry(in[0]).unwritable_line);
                  }},
                 {"describe", [](const auto& in) {
                    TempDir dir;
                    write_file(dir.path() / "__init__.py", in[0]);
                    return registry::module_description((dir.path() / "__init__.py").c_str());
                  }}});

// Only "\n" counts as a final line feed: a registry with "\r\n" line ends is rewritten.
TEST(Registry, RegisterRewritesTheTextOnlyWhenItChanges) {
  TempDir dir;
  write_file(dir.path() / "src/main.py", "");
  const fs::path path = dir.path() / "src/modules/__init__.py";
  const std::string blog = registry::registry_content(
      std::vector<registry::RegistryEntry>{{"blog_post", "src.modules.blog_post"}});
  files::ProjectRoot project(dir.path());
  const auto registered = [&](std::string_view feature, bool dry_run) {
    return registry::register_module(
               project, registry::plan_registration(dir.path(), feature, "src").value(), dry_run)
        .value();
  };
  for (const auto& [on_disk, status] : std::vector<std::pair<std::string, WriteStatus>>{
           {blog, WriteStatus::Skipped},
           {blog.substr(0, blog.size() - 1), WriteStatus::Skipped},
           {blog + "\n\n", WriteStatus::Skipped},
           {blog + "\r\n", WriteStatus::Created},
           {std::regex_replace(blog, std::regex("\n"), "\r\n"), WriteStatus::Created},
           {registry::registry_content({}), WriteStatus::Created}}) {
    write_file(path, on_disk);
    const auto dry = status == WriteStatus::Created ? WriteStatus::DryRun : status;
    EXPECT_EQ(registered("blog post", true), (writers::GeneratedFile{path, blog, dry}));
    EXPECT_EQ(read_file(path), on_disk);
    EXPECT_EQ(registered("BlogPost", false), (writers::GeneratedFile{path, blog, status}));
    EXPECT_EQ(read_file(path), status == WriteStatus::Skipped ? on_disk : blog);
  }
}

// Each module is described from the directory its key names, whatever its import path.
TEST(Registry, ListGivesTheRowsInFileOrder) {
  TempDir dir;
  const fs::path modules = dir.path() / "app/modules";
  write_file(modules / "__init__.py", "modules = {\n'one': 'x.y',\n'ghost': 'g'\n}\n# \xC3(\n");
  EXPECT_TRUE(registry::list_registered(dir.path(), "app").empty());  // not UTF-8
  // An absolute name stands for itself, as a path joined to it would.
  const std::string elsewhere = (dir.path() / "elsewhere").string();
  write_file(modules / "__init__.py",
             "modules = {\n'one': 'x.y',\n'ghost': 'g',\n'" + elsewhere + "': 'e'\n}\n");
  write_file(modules / "one/__init__.py", "\"\"\"One line.\"\"\"\n");
  write_file(dir.path() / "elsewhere/__init__.py", "\"\"\"Far.\"\"\"\n");
  EXPECT_EQ(registry::list_registered(dir.path(), "app"),
            (std::vector<registry::RegisteredModule>{
                {"one", "x.y", "One line."}, {"ghost", "g", ""}, {elsewhere, "e", "Far."}}));
}

}  // namespace
