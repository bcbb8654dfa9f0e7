#include "render/render.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "support/process.h"
#include "templates/templates.h"

namespace {

using testing_support::TempDir;

// The rendered text, or the error's messages joined.
template <typename T>
std::string outcome(const error::Result<T>& result) {
  return result ? std::string(*result) : result.error().joined();
}

TEST(Render, RendersTextOrReportsTheLineOfTheFault) {
  render::Context context;
  context.put("source", "app").put("snake", "abc").put("title", "<>&'\"\\\x01\x7f\n\té 日本");
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"from {{source}}.core import {{ snake }}", "from app.core import abc"},
      {"{{ title }}", "<>&'\"\\\x01\x7f\n\té 日本"},
      {"{{ title|tojson }}", R"("\u003c\u003e\u0026\u0027\"\\\u0001\u007f\n\té 日本")"},
      {"/{{ '{' }}{{ snake }}_id{{ '}' }}", "/{abc_id}"},
      {"${x} ${repr(y)} } {", "${x} ${repr(y)} } {"},
      {"abc\n", "abc"}, {"abc\n\n", "abc\n"}, {"abc\r\n", "abc"}, {"abc\r\r\n", "abc\r"},
      {"abc\r", "abc"}, {"abc\n\r", "abc\n"},
      // Errors name the line where the fault stands.
      {"a\nb\n{{ source }} {{ pascal }}", "undefined value 'pascal' (line 3)"},
      {"{% if source %}x{% endif %}", "block tags are not supported (line 1)"},
      {"a\n\n{# note #}", "comment tags are not supported (line 3)"},
      {"x\n{{ source|upper }}", "unknown filter 'upper' (line 2)"},
      {"a\n{{\nsource\n", "unclosed expression (line 2)"},
  };
  for (const auto& [text, out] : cases) {
    EXPECT_EQ(outcome(render::render_str(text, context)), out) << text;
  }
}

TEST(Render, ContextPutKeepsTheFirstPositionAndTheLastValue) {
  render::Context context;
  context.put("source", "src").put("snake", "a").put("source", "app");
  EXPECT_EQ(context.pairs(),
            (std::vector<std::pair<std::string, std::string>>{{"source", "app"}, {"snake", "a"}}));
}

// Each group in table order with the byte size of each text in path order; "+" marks a text that
// ends with a line feed.
TEST(Render, TemplateTableHoldsTheThirtyTexts) {
  std::string listing;
  std::string_view group;
  for (const templates::TemplateFile& t : templates::kTemplates) {
    if (t.group != group) listing += fmt::format("\n{}:", group = t.group);
    listing += fmt::format(" {}{}", t.content.size(), t.content.ends_with('\n') ? "+" : "");
  }
  EXPECT_EQ(listing,
            "\nalembic: 649+ 2299+ 621+ 388+\ncore: 311+ 636+"
            "\nmodule: 97 45 2505 53 548 1645 83 243 503 56 1054 1358+ 1096"
            "\nproject: 109+ 42+ 175+ 5+ 1152+ 740+ 35+ 1028+ 18+ 346+ 213+");
}

TEST(Render, RenderTemplateFindsTheTemplateByGroupAndName) {
  EXPECT_EQ(outcome(render::render_template("core", "config.py", {})),
            "template not found: core/config.py");
  EXPECT_EQ(outcome(render::render_template("nothing", "config.py.j2", {})),
            "template not found: nothing/config.py.j2");
  ASSERT_GT(templates::kTemplates.size(), 2u);
  const templates::TemplateFile& mako =
      templates::kTemplates[2];  // passes through whole, less its "\n"
  EXPECT_EQ(outcome(render::render_template("alembic", mako.path, {})) + "\n", mako.content);
}

render::Context module_context() {
  render::Context context;
  context.put("source", "app").put("pascal", "Abc").put("kebab", "abc").put("plural", "abcs");
  return context;
}

TEST(Render, TreeFollowsRawPathOrderAndDryRunWritesNothing) {
  TempDir dir;
  const auto files = render::render_tree("module", module_context().put("snake", "abc"),
                                         dir.path() / "m", false, true);
  ASSERT_TRUE(files) << files.error().joined();
  std::string listing;
  for (const writers::GeneratedFile& file : *files) {
    EXPECT_EQ(file.status, writers::WriteStatus::DryRun);
    listing += file.path.lexically_relative(dir.path() / "m").generic_string() + "\n";
  }
  EXPECT_EQ(listing,
            "__init__.py\napi/__init__.py\napi/router.py\napplication/__init__.py\n"
            "application/schemas.py\napplication/abc_service.py\ndomain/__init__.py\n"
            "domain/model.py\ndomain/repository.py\ninfrastructure/__init__.py\n"
            "infrastructure/abc_repository.py\ntests/conftest.py\ntests/test_abc.py\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "m"));
  for (const auto& [in, out] : {std::pair{"x.j2.j2", "x.j2"}, {"x.py", "x.py"}, {".j2", ""}})
    EXPECT_EQ(render::strip_template_suffix(in), out);
}

TEST(Render, TreeStopsAtTheFirstFailureAndKeepsEarlierFiles) {
  TempDir dir;
  const auto files = render::render_tree("module", module_context(), dir.path(), false, false);
  ASSERT_FALSE(files);
  EXPECT_EQ(files.error().joined(),
            "failed to render template module/api/router.py.j2: undefined value 'snake' (line 9)");
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "__init__.py"));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "api/__init__.py"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "api/router.py"));
}

}  // namespace
