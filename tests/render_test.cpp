#include "render/render.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "support/process.h"
#include "templates/templates.h"

namespace {

using testing_support::TempDir;

render::Context sample_context() {
  render::Context context;
  context.put("source", "app").put("snake", "user_profile").put("title", "It's <b>&\"x\"");
  return context;
}

std::string joined_error(const Result<std::string>& result) {
  return result ? "no error: " + *result : result.error().joined();
}

const TemplateFile* find_template(std::string_view group, std::string_view path) {
  for (const TemplateFile& record : templates::kTemplates) {
    if (record.group == group && record.path == path) return &record;
  }
  return nullptr;
}

TEST(Render, TemplateLanguage) {
  struct Case {
    std::string_view text, out;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"{{ source }}", "app"},
           {"{{source}}", "app"},
           {"{{\tsource\n}}", "app"},
           {"from {{ source }}.core import x", "from app.core import x"},
           {"{{ snake|tojson }}", "\"user_profile\""},
           {"{{snake | tojson}}", "\"user_profile\""},
           {"{{ title|tojson }}", R"("It\u0027s \u003cb\u003e\u0026\"x\"")"},
           {"{{ title }}", "It's <b>&\"x\""},
           {"@router.get(\"/{{ '{' }}{{ snake }}_id{{ '}' }}\")",
            "@router.get(\"/{user_profile_id}\")"},
           {"{{ \"}\" }}{{ \"{\" }}", "}{"},
           {"{{ '' }}", ""},
           {"{{ 'a}}b' }}", "a}}b"},
           {"{{ '{'|tojson }}", "\"{\""},
           // Mako's own placeholders are not template syntax.
           {"${message}\n${repr(up_revision)}", "${message}\n${repr(up_revision)}"},
           {"${imports if imports else \"\"}", "${imports if imports else \"\"}"},
           {"a}}b } {", "a}}b } {"},
           {"{", "{"},
           {"no tags at all", "no tags at all"},
           // One final "\n", then one final "\r", is dropped before rendering.
           {"abc\n", "abc"},
           {"abc\n\n", "abc\n"},
           {"abc\r\n", "abc"},
           {"abc\r", "abc"},
           {"abc\n\r", "abc\n"},
           {"abc\r\r\n", "abc\r"},
           {"{{ source }}\n", "app"},
           {"\n", ""},
           {"", ""},
       }) {
    SCOPED_TRACE(c.text);
    const auto result = render::render_str(c.text, sample_context());
    ASSERT_TRUE(result) << result.error().joined();
    EXPECT_EQ(*result, c.out);
  }
}

TEST(Render, ErrorsNameTheLine) {
  struct Case {
    std::string_view text, error;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"{{ create_date }}", "undefined value 'create_date' (line 1)"},
           {"a\nb\n{{ source }} {{ pascal }}\n", "undefined value 'pascal' (line 3)"},
           {"{{ Source }}", "undefined value 'Source' (line 1)"},
           {"{{ source|upper }}", "unknown filter 'upper' (line 1)"},
           {"x\n{{ source|tojson|title }}", "unknown filter 'title' (line 2)"},
           {"{% if source %}x{% endif %}", "block tags are not supported (line 1)"},
           {"a\n\n{# note #}", "comment tags are not supported (line 3)"},
           {"{{ source", "unclosed expression (line 1)"},
           {"a\n{{\nsource\n", "unclosed expression (line 2)"},
           {"{{ source|", "unclosed expression (line 1)"},
           {"{{ source }", "unexpected '}', expected '}}' (line 1)"},
           {"{{ source snake }}", "unexpected 's', expected '}}' (line 1)"},
           {"{{ }}", "unexpected '}}', expected an expression (line 1)"},
           {"{{ 1 }}", "unexpected '1', expected an expression (line 1)"},
           {"{{- source }}", "unexpected '-', expected an expression (line 1)"},
           {"{{ source| }}", "expected a filter name, found '}}' (line 1)"},
           {"\n{{ 'abc }}", "unclosed string literal (line 2)"},
           {"{{ '\\n' }}", "escape sequences in string literals are not supported (line 1)"},
           {"{{ source.x }}", "unexpected '.', expected '}}' (line 1)"},
           {"{{ source \u00e9 }}", "unexpected a non-ASCII character, expected '}}' (line 1)"},
           {"{{ source ", "unclosed expression (line 1)"},
           {"{{ source|tojson", "unclosed expression (line 1)"},
       }) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(joined_error(render::render_str(c.text, sample_context())), c.error);
  }
}

TEST(Render, ToJsonEscapes) {
  struct Case {
    std::string_view in, out;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"", R"("")"},
           {"plain", R"("plain")"},
           {"a\"b\\c", R"("a\"b\\c")"},
           {"<>&'", R"("\u003c\u003e\u0026\u0027")"},
           {"\b\f\n\r\t", R"("\b\f\n\r\t")"},
           {std::string_view("\x00\x01\x1f", 3), R"("\u0000\u0001\u001f")"},
           {"\x7f/", "\"\x7f/\""},
           {"naïve 日本 🚀", "\"naïve 日本 🚀\""},
       }) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(render::tojson(c.in), c.out);
  }
}

TEST(Render, ContextReplacesInPlace) {
  render::Context context;
  context.put("source", "src").put("snake", "a").put("source", "app");
  ASSERT_EQ(context.pairs().size(), 2u);
  EXPECT_EQ(context.pairs()[0].first, "source");
  EXPECT_EQ(context.pairs()[0].second, "app");
  EXPECT_EQ(context.pairs()[1].first, "snake");
  EXPECT_EQ(context.find("Source"), nullptr);
  EXPECT_EQ(*render::render_str("{{ source }}", context), "app");
}

TEST(Render, TemplateSuffix) {
  struct Case {
    std::string_view in, out;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"a.py.j2", "a.py"}, {"a.j2.j2", "a.j2"}, {".j2", ""}, {"j2", "j2"},
           {"", ""}, {"a.py", "a.py"}, {"a.J2", "a.J2"}}) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(render::strip_template_suffix(c.in), c.out);
  }
}

TEST(Render, TemplateNotFound) {
  const render::Context context = sample_context();
  struct Case {
    std::string_view group, name, error;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"core", "config.py", "template not found: core/config.py"},
           {"core", "alembic.ini.j2", "template not found: core/alembic.ini.j2"},
           {"Core", "config.py.j2", "template not found: Core/config.py.j2"},
           {"nothing", "config.py.j2", "template not found: nothing/config.py.j2"},
       }) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(joined_error(render::render_template(c.group, c.name, context)), c.error);
  }
}

TEST(Render, RenderTemplateReturnsTextWithoutFinalNewline) {
  render::Context only_source;
  only_source.put("source", "app");
  const TemplateFile* config = find_template("core", "config.py.j2");
  ASSERT_NE(config, nullptr);
  const auto text = render::render_template("core", "config.py.j2", only_source);
  ASSERT_TRUE(text) << text.error().joined();
  EXPECT_EQ(*text + "\n", config->content);

  const auto database = render::render_template("core", "database.py.j2", only_source);
  ASSERT_TRUE(database) << database.error().joined();
  EXPECT_NE(database->find("from app.core.config import settings\n"), std::string::npos);
  EXPECT_FALSE(database->ends_with("\n"));
}

TEST(Render, StrictUndefinedInCoreAndAlembicTemplates) {
  render::Context no_source;
  no_source.put("create_date", "2026-12-05 16:45:50");
  render::Context no_date;
  no_date.put("source", "app");
  struct Case {
    std::string_view group, name;
    const render::Context& context;
    std::string_view error;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"core", "database.py.j2", no_source,
            "failed to render template core/database.py.j2: undefined value 'source' (line 11)"},
           {"alembic", "alembic.ini.j2", no_source,
            "failed to render template alembic/alembic.ini.j2: undefined value 'source' (line 4)"},
           {"alembic", "migrations/env.py.j2", no_source,
            "failed to render template alembic/migrations/env.py.j2: undefined value 'source' "
            "(line 9)"},
           {"alembic", "migrations/versions/0001_initial.py.j2", no_date,
            "failed to render template alembic/migrations/versions/0001_initial.py.j2: undefined "
            "value 'create_date' (line 5)"},
       }) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(joined_error(render::render_template(c.group, c.name, c.context)), c.error);
  }
  // The Mako revision template has no variables of ours and passes through whole.
  const TemplateFile* mako = find_template("alembic", "migrations/script.py.mako.j2");
  ASSERT_NE(mako, nullptr);
  EXPECT_EQ(*render::render_template("alembic", "migrations/script.py.mako.j2", {}) + "\n",
            mako->content);
}

TEST(Render, TableOrderAndCoreAndAlembicTexts) {
  // Groups in order alembic, core, module, project; byte order of path inside each.
  const std::initializer_list<std::string_view> group_order = {"alembic", "core", "module",
                                                               "project"};
  const auto rank = [&](std::string_view group) {
    return std::ranges::find(group_order, group) - group_order.begin();
  };
  ASSERT_EQ(templates::kTemplates.size(), 30u);
  for (const auto& [group, count] : {std::pair{"alembic", 4}, std::pair{"core", 2},
                                     std::pair{"module", 13}, std::pair{"project", 11}}) {
    EXPECT_EQ(std::ranges::count(templates::kTemplates, std::string_view(group),
                                 &TemplateFile::group),
              count)
        << group;
  }
  for (const TemplateFile& record : templates::kTemplates) {
    EXPECT_TRUE(record.path.ends_with(".j2")) << record.path;
  }
  for (std::size_t i = 1; i < templates::kTemplates.size(); ++i) {
    const TemplateFile& before = templates::kTemplates[i - 1];
    const TemplateFile& after = templates::kTemplates[i];
    SCOPED_TRACE(after.path);
    ASSERT_LT(rank(after.group), 4);
    EXPECT_TRUE(rank(before.group) < rank(after.group) ||
                (before.group == after.group && before.path < after.path));
  }

  struct Row {
    std::string_view group, path;
    std::size_t bytes;
  };
  const std::initializer_list<Row> rows = {
      {"alembic", "alembic.ini.j2", 629},
      {"alembic", "migrations/env.py.j2", 1909},
      {"alembic", "migrations/script.py.mako.j2", 635},
      {"alembic", "migrations/versions/0001_initial.py.j2", 388},
      {"core", "config.py.j2", 311},
      {"core", "database.py.j2", 636},
  };
  ASSERT_GE(templates::kTemplates.size(), rows.size());
  std::size_t index = 0;
  for (const Row& row : rows) {
    const TemplateFile& record = templates::kTemplates[index++];
    SCOPED_TRACE(row.path);
    EXPECT_EQ(record.group, row.group);
    EXPECT_EQ(record.path, row.path);
    EXPECT_EQ(record.content.size(), row.bytes);
    EXPECT_TRUE(record.content.ends_with("\n") && !record.content.ends_with("\n\n"));
    EXPECT_TRUE(std::ranges::all_of(record.content, [](char c) {
      return c == '\n' || (c >= 0x20 && c < 0x7f);
    })) << "only ASCII, no tabs, no carriage returns";
  }
}

TEST(Render, AlembicIniNamesTheSourceInItsComment) {
  render::Context context;
  context.put("source", "app");
  const auto ini = render::render_template("alembic", "alembic.ini.j2", context);
  ASSERT_TRUE(ini) << ini.error().joined();
  EXPECT_NE(ini->find("prepend_sys_path = .\n# sqlalchemy.url is injected at runtime from "
                      "app.core.config in migrations/env.py\n\n[loggers]\n"),
            std::string::npos);
  EXPECT_EQ(ini->find("sqlalchemy.url ="), std::string::npos);
  EXPECT_TRUE(ini->ends_with("datefmt = %H:%M:%S"));
}

TEST(Render, TreeOfUnknownGroupIsEmpty) {
  TempDir dir;
  const auto files = render::render_tree("nothing", sample_context(), dir.path() / "out",
                                         false, false);
  ASSERT_TRUE(files) << files.error().joined();
  EXPECT_TRUE(files->empty());
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "out"));
}

TEST(Render, TreeDryRunWritesNothing) {
  TempDir dir;
  const std::filesystem::path root = dir.path() / "project";
  render::Context context;
  context.put("source", "app").put("create_date", "2026-12-05 16:45:50");
  const auto files = render::render_tree("alembic", context, root, false, true);
  ASSERT_TRUE(files) << files.error().joined();
  ASSERT_EQ(files->size(), 4u);
  const std::initializer_list<std::string_view> paths = {
      "alembic.ini", "migrations/env.py", "migrations/script.py.mako",
      "migrations/versions/0001_initial.py"};
  std::size_t i = 0;
  for (std::string_view path : paths) {
    const GeneratedFile& file = (*files)[i++];
    SCOPED_TRACE(path);
    EXPECT_EQ(file.path, root / path);
    EXPECT_EQ(file.status, WriteStatus::DryRun);
    EXPECT_FALSE(file.content.ends_with("\n"));
  }
  EXPECT_FALSE(std::filesystem::exists(root));
}

TEST(Render, TreeWritesEveryFileWithOneFinalNewline) {
  TempDir dir;
  render::Context context;
  context.put("source", "app").put("create_date", "2026-12-05 16:45:50");
  const auto files = render::render_tree("alembic", context, dir.path(), false, false);
  ASSERT_TRUE(files) << files.error().joined();
  ASSERT_EQ(files->size(), 4u);
  for (const GeneratedFile& file : *files) {
    SCOPED_TRACE(file.path);
    EXPECT_EQ(file.status, WriteStatus::Created);
    const std::string on_disk = testing_support::read_file(file.path);
    EXPECT_EQ(on_disk, file.content);
    EXPECT_TRUE(on_disk.ends_with("\n") && !on_disk.ends_with("\n\n"));
  }
  const TemplateFile* mako = find_template("alembic", "migrations/script.py.mako.j2");
  ASSERT_NE(mako, nullptr);
  EXPECT_EQ(testing_support::read_file(dir.path() / "migrations/script.py.mako"), mako->content);
}

TEST(Render, TreeWriteErrorPassesThroughWithoutContext) {
  TempDir dir;
  testing_support::write_file(dir.path() / "migrations", "a file, not a directory");
  render::Context context;
  context.put("source", "app").put("create_date", "2026-12-05 16:45:50");
  const auto files = render::render_tree("alembic", context, dir.path(), false, false);
  ASSERT_FALSE(files);
  EXPECT_EQ(files.error().messages(), std::vector<std::string>{os_error_text(ENOTDIR)});
  // The file written before the failure stays on disk.
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "alembic.ini"));
}

// The module group is the one whose paths hold variables; it checks the order by raw path
// and the failure that strict undefined values give part-way through a tree.
TEST(Render, ModuleTreeOrderFollowsRawPaths) {
  TempDir dir;
  render::Context context;
  context.put("source", "app").put("pascal", "Abc").put("snake", "abc").put("kebab", "abc")
      .put("plural", "abcs");
  const auto files = render::render_tree("module", context, dir.path(), false, true);
  ASSERT_TRUE(files) << files.error().joined();
  std::vector<std::string> names;
  for (const GeneratedFile& file : *files) {
    names.push_back(file.path.lexically_relative(dir.path()).generic_string());
  }
  const auto schemas = std::ranges::find(names, "application/schemas.py");
  const auto service = std::ranges::find(names, "application/abc_service.py");
  ASSERT_NE(schemas, names.end());
  ASSERT_NE(service, names.end());
  EXPECT_LT(schemas, service);
}

TEST(Render, ModuleTreeStopsAtFirstUndefinedValue) {
  TempDir dir;
  render::Context context;
  context.put("source", "app").put("pascal", "Abc").put("kebab", "abc").put("plural", "abcs");
  const auto files = render::render_tree("module", context, dir.path(), false, false);
  ASSERT_FALSE(files);
  ASSERT_GE(files.error().messages().size(), 2u);
  EXPECT_EQ(files.error().messages()[0], "failed to render template module/api/router.py.j2");
  EXPECT_TRUE(files.error().messages()[1].starts_with("undefined value 'snake' (line "));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "__init__.py"));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "api/__init__.py"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "api/router.py"));
}

}  // namespace
