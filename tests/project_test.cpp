#include "generators/project.h"

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.h"
#include "templates/templates.h"

namespace {

namespace fs = std::filesystem;
using testing_support::run_program;
using testing_support::TempDir;

std::vector<TemplateFile> project_templates() {
  std::vector<TemplateFile> records;
  for (const TemplateFile& record : templates::kTemplates) {
    if (record.group == "project") records.push_back(record);
  }
  return records;
}

/// Every `{{ ... }}` expression of a text, without the braces and the blanks inside them.
std::set<std::string> expressions(std::string_view text) {
  std::set<std::string> found;
  for (std::size_t open = text.find("{{"); open != std::string_view::npos;
       open = text.find("{{", open + 2)) {
    const std::size_t close = text.find("}}", open);
    if (close == std::string_view::npos) break;
    std::string inner(text.substr(open + 2, close - open - 2));
    std::erase(inner, ' ');
    found.insert(inner);
  }
  return found;
}

std::size_t count_lines(std::string_view text) {
  return static_cast<std::size_t>(std::ranges::count(text, '\n'));
}

TEST(ProjectTemplates, TheGroupAsTheProjectNeedsIt) {
  struct Row {
    std::string_view path;
    std::size_t bytes, lines;
    std::set<std::string> expressions;
  };
  const std::vector<Row> rows{
      {".env.example.j2", 109, 2, {}},
      {".env.j2", 42, 1, {}},
      {".gitignore.j2", 175, 21, {}},
      {".python-version.j2", 5, 1, {}},
      {"README.md.j2", 1152, 47, {"description", "title"}},
      // B008 and I001 are ignored: ruff's default rules flag FastAPI's Depends() defaults, and
      // a module's router imports its service before its schemas whatever the module is called.
      {"pyproject.toml.j2",
       673,
       32,
       {"description|tojson", "project_name", "source", "version"}},
      {"src/__init__.py.j2", 35, 1, {}},
      {"src/main.py.j2", 1028, 38, {"source", "title|tojson", "version|tojson"}},
      {"tests/__init__.py.j2", 18, 1, {}},
      {"tests/conftest.py.j2", 346, 13, {"source"}},
      {"tests/test_health.py.j2", 213, 7, {}},
  };
  const std::vector<TemplateFile> records = project_templates();
  ASSERT_EQ(records.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    const TemplateFile& record = records[i];
    SCOPED_TRACE(row.path);
    EXPECT_EQ(record.path, row.path);
    EXPECT_EQ(record.content.size(), row.bytes);
    EXPECT_EQ(count_lines(record.content), row.lines);
    EXPECT_TRUE(record.content.ends_with("\n"));
    EXPECT_FALSE(record.content.ends_with("\n\n"));
    EXPECT_EQ(record.content.find('\r'), std::string_view::npos);
    EXPECT_EQ(expressions(record.content), row.expressions);
    // The paths name "src" literally: the application package of a new project never varies.
    EXPECT_EQ(expressions(record.path), std::set<std::string>{});
  }
}

TEST(ProjectTemplates, MainCarriesTheAutoMountBlockAfterTheApplication) {
  const std::vector<TemplateFile> records = project_templates();
  const auto main = std::ranges::find(records, std::string_view("src/main.py.j2"),
                                      &TemplateFile::path);
  ASSERT_NE(main, records.end());
  const std::string_view expected =
      "app = FastAPI(title={{ title|tojson }}, version={{ version|tojson }}, lifespan=lifespan)\n"
      "\n"
      "# --- brintle: auto-mount (do not remove) ---\n"
      "for _import_path in modules.values():\n"
      "    _module = importlib.import_module(_import_path)\n"
      "    app.include_router(_module.router)\n"
      "# --- brintle: end auto-mount ---\n"
      "\n"
      "\n"
      "@app.get(\"/health\")\n";
  EXPECT_NE(main->content.find(expected), std::string_view::npos);
  EXPECT_NE(main->content.find("\nimport importlib\n"), std::string_view::npos);
  EXPECT_NE(main->content.find("\nfrom {{ source }}.modules import modules\n"),
            std::string_view::npos);
}

TEST(ProjectContext, KeysInOrderWithTheNameForms) {
  struct Case {
    std::string_view name;
    fs::path root;
    std::optional<std::string_view> title;
    std::string_view project_name, expected_title;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"my-shop", "/work/my-shop", std::nullopt, "my_shop", "My Shop"},
           {"ShopAPI", "/work/ShopAPI", std::nullopt, "shop_api", "Shop Api"},
           {"ShopAPI", "/work/ShopAPI", "", "shop_api", ""},
           {"my-shop", "/work/my-shop", "Tom's \"Shop\"", "my_shop", "Tom's \"Shop\""},
           // The name "." takes its forms from the directory it scaffolds into.
           {".", "/home/u/shop", std::nullopt, "shop", "Shop"},
           {".", "/home/u/my-shop/", std::nullopt, "my_shop", "My Shop"},
           {".", "/home/u/blogAPI/sub/..", std::nullopt, "blog_api", "Blog Api"},
           {".", "/home/u/shop", "Given", "shop", "Given"},
           // Only the exact text "." is special.
           {"./", "/home/u/shop/./", std::nullopt, "", ""},
       }) {
    SCOPED_TRACE(std::string(c.name) + " in " + c.root.string());
    const render::Context context = generators::project::project_context(
        c.name, c.root, c.title, "A \"d\" & <e>", "0.1.0");
    const std::vector<std::pair<std::string, std::string>> expected{
        {"source", "src"},
        {"project_name", std::string(c.project_name)},
        {"title", std::string(c.expected_title)},
        {"description", "A \"d\" & <e>"},
        {"version", "0.1.0"},
    };
    EXPECT_EQ(context.pairs(), expected);
  }
}

TEST(ProjectContext, InPlaceNameFromARelativeDirectory) {
  TempDir tmp;
  const fs::path base = tmp.path() / "Corner Store";
  fs::create_directories(base / "inner");
  const fs::path previous = fs::current_path();
  fs::current_path(base / "inner");
  const std::string name = generators::project::naming_source(".", "..");
  fs::current_path(previous);
  EXPECT_EQ(name, "Corner Store");
}

TEST(ProjectName, RefusesANameWithoutLetterOrDigit) {
  struct Case {
    std::string_view name;
    fs::path root;
    std::string_view error;  ///< empty: accepted
  };
  for (const Case& c : std::initializer_list<Case>{
           {"my-shop", "/w/my-shop", ""},
           {"2", "/w/2", ""},
           {".", "/w/shop", ""},
           {"---", "/w/---", R"(invalid project name "---": it has no ASCII letter or digit)"},
           {"", "/w/", R"(invalid project name "": it has no ASCII letter or digit)"},
           {"café", "/w/café", ""},
           {"éè ü", "/w/x", R"(invalid project name "éè ü": it has no ASCII letter or digit)"},
           {"\t\x1b\n", "/w/x",
            R"(invalid project name "\t\x1b\n": it has no ASCII letter or digit)"},
           {".", "/w/___",
            R"(invalid project name ".": the directory name "___" has no ASCII letter or digit)"},
           {".", "/",
            R"(invalid project name ".": the directory name "" has no ASCII letter or digit)"},
       }) {
    SCOPED_TRACE(std::string(c.name) + " in " + c.root.string());
    const Result<void> checked = generators::project::check_project_name(c.name, c.root);
    if (c.error.empty()) {
      EXPECT_TRUE(checked) << checked.error().joined();
    } else {
      ASSERT_FALSE(checked);
      EXPECT_EQ(checked.error().joined(), c.error);
    }
  }
}

TEST(GenerateProject, RefusesAnEmptyProjectNameBeforeWriting) {
  TempDir tmp;
  for (const bool dry_run : {false, true}) {
    const auto files = generators::project::generate_project(
        "-_-", tmp.path() / "p", std::nullopt, "", "0.1.0", true, dry_run);
    ASSERT_FALSE(files);
    EXPECT_EQ(files.error().joined(),
              R"(invalid project name "-_-": it has no ASCII letter or digit)");
    EXPECT_FALSE(fs::exists(tmp.path() / "p"));
  }
}

TEST(GenerateProject, DryRunOffersEveryFileAndTouchesNothing) {
  TempDir tmp;
  const fs::path root = tmp.path() / "my-shop";
  const auto files = generators::project::generate_project("my-shop", root, std::nullopt, "",
                                                           "0.1.0", false, true);
  ASSERT_TRUE(files) << files.error().joined();
  const std::vector<std::string_view> paths{
      ".env.example",         ".env",
      ".gitignore",           ".python-version",
      "README.md",            "pyproject.toml",
      "src/__init__.py",      "src/main.py",
      "tests/__init__.py",    "tests/conftest.py",
      "tests/test_health.py", "src/core/__init__.py",
      "src/core/config.py",   "src/core/database.py",
      "alembic.ini",          "migrations/env.py",
      "migrations/script.py.mako", "migrations/versions/0001_initial.py",
      "src/modules/__init__.py",   ".brintle.json",
  };
  ASSERT_EQ(files->size(), paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    SCOPED_TRACE(paths[i]);
    EXPECT_EQ((*files)[i].path, root / paths[i]);
    EXPECT_EQ((*files)[i].status, WriteStatus::DryRun);
  }
  EXPECT_EQ((*files)[18].content.size(), 127u);
  EXPECT_EQ((*files)[19].content, "{\n  \"source_dir\": \"src\"\n}\n");
  // Rendering drops each template's final line feed; the write would put it back.
  EXPECT_TRUE((*files)[5].content.starts_with(
      "[project]\nname = \"my_shop\"\nversion = \"0.1.0\"\ndescription = \"\"\n"));
  EXPECT_TRUE((*files)[7].content.ends_with("    return {\"status\": \"ok\"}"));
  EXPECT_FALSE(fs::exists(root));
}

// The texts carry values through tojson into TOML and Python: whatever the title and the
// description hold, both files must still parse and give the values back unchanged.
TEST(GenerateProject, GeneratedFilesParseAndKeepTheValues) {
  if (run_program({"python3", "-c", "import tomllib"}).status != 0) {
    GTEST_SKIP() << "python3 (3.11 or later) is not available";
  }
  const std::string title = "Tom's \"Shop\" <&> back\\slash Ünïcødé 😀\ttab";
  const std::string description = "It's <b>bold</b> & \"quoted\"\nsecond line \\ é \x01";
  TempDir tmp;
  const fs::path root = tmp.path() / "my-shop";
  const auto files = generators::project::generate_project("my-shop", root, title, description,
                                                           "0.1.0", false, false);
  ASSERT_TRUE(files) << files.error().joined();

  const std::string script = R"(
import ast, pathlib, sys, tomllib
root, title, description = pathlib.Path(sys.argv[1]), sys.argv[2], sys.argv[3]
parsed = [path for path in sorted(root.rglob("*.py"))
          if ast.parse(path.read_text(encoding="utf-8"), str(path))]
assert len(parsed) == 11, parsed
project = tomllib.loads((root / "pyproject.toml").read_text(encoding="utf-8"))["project"]
assert project["name"] == "my_shop", project
assert project["version"] == "0.1.0", project
assert project["description"] == description, project["description"]
tree = ast.parse((root / "src" / "main.py").read_text(encoding="utf-8"))
[call] = [node for node in ast.walk(tree)
          if isinstance(node, ast.Call) and getattr(node.func, "id", "") == "FastAPI"]
keywords = {k.arg: k.value.value for k in call.keywords if isinstance(k.value, ast.Constant)}
assert keywords == {"title": title, "version": "0.1.0"}, keywords
)";
  const auto checked = run_program({"python3", "-c", script, root.string(), title, description});
  EXPECT_EQ(checked.status, 0) << checked.err;
}

}  // namespace
