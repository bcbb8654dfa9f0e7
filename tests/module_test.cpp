#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "generators/module.h"
#include "support/process.h"
#include "templates/templates.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::TempDir;

using Pairs = std::vector<std::pair<std::string, std::string>>;

// The files of one module, relative to the project root, in the order they are reported.
std::vector<std::string> module_paths(std::string_view source, std::string_view snake) {
  const std::string dir = fmt::format("{}/modules/{}/", source, snake);
  return {
      dir + "__init__.py",
      dir + "api/__init__.py",
      dir + "api/router.py",
      dir + "application/__init__.py",
      dir + "application/schemas.py",
      fmt::format("{}application/{}_service.py", dir, snake),
      dir + "domain/__init__.py",
      dir + "domain/model.py",
      dir + "domain/repository.py",
      dir + "infrastructure/__init__.py",
      fmt::format("{}infrastructure/{}_repository.py", dir, snake),
      dir + "tests/conftest.py",
      fmt::format("{}tests/test_{}.py", dir, snake),
  };
}

std::size_t occurrences(std::string_view text, std::string_view needle) {
  std::size_t count = 0;
  for (std::size_t pos = text.find(needle); pos != std::string_view::npos;
       pos = text.find(needle, pos + 1)) {
    ++count;
  }
  return count;
}

TEST(ModuleContext, FormsInOrderWithThePluralOfTheSnakeForm) {
  const Pairs blog_post = {{"pascal", "BlogPost"},
                           {"snake", "blog_post"},
                           {"kebab", "blog-post"},
                           {"plural", "blog_posts"},
                           {"source", "src"}};
  for (std::string_view feature : {"BlogPost", "blog post", "blog-post", "blog_post", "blogPost"}) {
    SCOPED_TRACE(feature);
    EXPECT_EQ(generators::module::module_context(feature, "src").pairs(), blog_post);
  }
  const Pairs category = {{"pascal", "UserCategory"},
                          {"snake", "user_category"},
                          {"kebab", "user-category"},
                          {"plural", "user_categories"},
                          {"source", "app"}};
  EXPECT_EQ(generators::module::module_context("UserCategory", "app").pairs(), category);
}

TEST(ModuleTemplates, SizesAndLineEndsOfTheGroup) {
  struct Row {
    std::string_view path;
    std::size_t bytes;
    bool ends_with_line_feed;
  };
  const std::vector<Row> expected = {
      {"__init__.py.j2", 97, false},
      {"api/__init__.py.j2", 45, false},
      {"api/router.py.j2", 2505, false},
      {"application/__init__.py.j2", 53, false},
      {"application/schemas.py.j2", 548, false},
      {"application/{{ snake }}_service.py.j2", 1645, false},
      {"domain/__init__.py.j2", 83, false},
      {"domain/model.py.j2", 243, false},
      {"domain/repository.py.j2", 503, false},
      {"infrastructure/__init__.py.j2", 56, false},
      {"infrastructure/{{ snake }}_repository.py.j2", 1054, false},
      {"tests/conftest.py.j2", 1358, true},
      {"tests/test_{{ snake }}.py.j2", 1096, false},
  };
  std::vector<TemplateFile> group;
  for (const TemplateFile& record : templates::kTemplates) {
    if (record.group == "module") group.push_back(record);
  }
  ASSERT_EQ(group.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].path);
    EXPECT_EQ(group[i].path, expected[i].path);
    EXPECT_EQ(group[i].content.size(), expected[i].bytes);
    EXPECT_EQ(group[i].content.ends_with('\n'), expected[i].ends_with_line_feed);
    EXPECT_FALSE(group[i].content.ends_with("\n\n"));
    EXPECT_FALSE(group[i].content.contains('\r'));
  }
}

TEST(GenerateModule, WritesThirteenFilesInRawPathOrder) {
  TempDir project;
  const auto files = generators::module::generate_module("BlogPost", project.path(), "src",
                                                         /*force=*/false, /*dry_run=*/false);
  ASSERT_TRUE(files) << files.error().joined();
  const std::vector<std::string> expected = module_paths("src", "blog_post");
  ASSERT_EQ(files->size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const GeneratedFile& file = (*files)[i];
    SCOPED_TRACE(expected[i]);
    EXPECT_EQ(file.path, project.path() / expected[i]);
    EXPECT_EQ(file.status, WriteStatus::Created);
    const std::string bytes = read_file(file.path);
    EXPECT_EQ(bytes, file.content);
    EXPECT_TRUE(bytes.ends_with("\n"));
    EXPECT_FALSE(bytes.ends_with("\n\n"));
  }
  // The module's tests import the package, so it must not carry its own tests/__init__.py.
  EXPECT_FALSE(fs::exists(project.path() / "src/modules/blog_post/tests/__init__.py"));
}

TEST(GenerateModule, RenderedTextsUseTheRightForms) {
  TempDir project;
  const auto files = generators::module::generate_module("BlogPost", project.path(), "src",
                                                         /*force=*/false, /*dry_run=*/true);
  ASSERT_TRUE(files) << files.error().joined();
  ASSERT_EQ(files->size(), 13u);
  const std::string& init = (*files)[0].content;
  const std::string& router = (*files)[2].content;
  const std::string& service = (*files)[5].content;
  const std::string& model = (*files)[7].content;
  const std::string& test = (*files)[12].content;

  EXPECT_TRUE(init.starts_with("\"\"\"BlogPost module (vertical slice).\"\"\"\n"));
  EXPECT_TRUE(router.contains(
      "router = APIRouter(prefix=\"/blog_posts\", tags=[\"blog_posts\"])\n"));
  EXPECT_EQ(occurrences(router, "(\"/{blog_post_id}\""), 3u);
  EXPECT_EQ(occurrences(router, "detail=\"BlogPost not found\")"), 3u);
  EXPECT_EQ(occurrences(router, "\nfrom src.modules.blog_post."), 4u);
  EXPECT_TRUE(router.contains("async def list_blog_posts(session: SessionDep)"));
  EXPECT_TRUE(model.contains("__tablename__ = \"blog_posts\""));
  EXPECT_TRUE(test.contains("assert modules[\"blog_post\"] == \"src.modules.blog_post\""));
  // The kebab form belongs to the service's two docstrings and nowhere else.
  EXPECT_EQ(occurrences(service, "blog-post"), 2u);
  for (std::size_t i = 0; i < files->size(); ++i) {
    const GeneratedFile& file = (*files)[i];
    SCOPED_TRACE(file.path.string());
    EXPECT_EQ(file.status, WriteStatus::DryRun);
    EXPECT_FALSE(file.content.ends_with('\n'));
    EXPECT_FALSE(file.content.contains("{{"));
    if (i != 5) {
      EXPECT_FALSE(file.content.contains("blog-post"));
    }
  }
  EXPECT_TRUE(fs::is_empty(project.path()));
}

TEST(GenerateModule, GeneratedFilesParseAsPython) {
  struct Case {
    std::string_view feature, source, snake;
  };
  TempDir project;
  std::vector<std::string> argv = {
      "python3", "-c",
      "import ast, sys\n"
      "for name in sys.argv[1:]:\n"
      "    with open(name, encoding='utf-8') as f:\n"
      "        ast.parse(f.read(), name)\n"};
  for (const Case& c : std::initializer_list<Case>{{"BlogPost", "src", "blog_post"},
                                                   {"user", "app", "user"},
                                                   {"match", "src", "match"},
                                                   {"HTTPStatus2", "my_app", "http_status_2"}}) {
    SCOPED_TRACE(c.feature);
    const auto files = generators::module::generate_module(c.feature, project.path(), c.source,
                                                           /*force=*/false, /*dry_run=*/false);
    ASSERT_TRUE(files) << files.error().joined();
    ASSERT_EQ(files->size(), 13u);
    for (const std::string& path : module_paths(c.source, c.snake)) {
      ASSERT_TRUE(fs::is_regular_file(project.path() / path)) << path;
      argv.push_back((project.path() / path).string());
    }
  }
  const auto result = testing_support::run_program(argv);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
}

TEST(CheckFeatureName, RefusesNamesThatCannotBeAPythonPackage) {
  struct Case {
    std::string_view feature;
    std::string_view error;  // empty: accepted
  };
  for (const Case& c : std::initializer_list<Case>{
           {"BlogPost", ""},
           {"user", ""},
           {"match", ""},
           {"classes", ""},
           {"none_left", ""},
           {"Version2", ""},
           {"---", "invalid feature name \"---\": it has no ASCII letter or digit"},
           {"é", "invalid feature name \"é\": it has no ASCII letter or digit"},
           {"", "invalid feature name \"\": it has no ASCII letter or digit"},
           // The message names the module the name would give, not the name as typed.
           {"2fa", "invalid module name \"2_fa\": a Python module name cannot start with a digit"},
           {"42", "invalid module name \"42\": a Python module name cannot start with a digit"},
           {"class", "invalid module name \"class\": it is a Python keyword"},
           {"Class", "invalid module name \"class\": it is a Python keyword"},
           {"import", "invalid module name \"import\": it is a Python keyword"},
           {"async", "invalid module name \"async\": it is a Python keyword"},
           {"def", "invalid module name \"def\": it is a Python keyword"},
           {"yield", "invalid module name \"yield\": it is a Python keyword"},
           {"none",
            "invalid module name \"none\": its class name \"None\" is a Python keyword"},
           {"True",
            "invalid module name \"true\": its class name \"True\" is a Python keyword"},
           {"FALSE",
            "invalid module name \"false\": its class name \"False\" is a Python keyword"},
       }) {
    SCOPED_TRACE(c.feature);
    const Result<void> checked = generators::module::check_feature_name(c.feature);
    if (c.error.empty()) {
      EXPECT_TRUE(checked) << checked.error().joined();
    } else {
      ASSERT_FALSE(checked);
      EXPECT_EQ(checked.error().joined(), c.error);
    }
  }
}

}  // namespace
