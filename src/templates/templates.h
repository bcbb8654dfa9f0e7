#pragma once

#include <span>
#include <string_view>

namespace templates {

/// One compiled-in template: its group, its output path (itself a template, ending in ".j2")
/// and its text.
struct TemplateFile {
  std::string_view group;
  std::string_view path;
  std::string_view content;
};

/// Every template, by group (alembic, core, module, project) and, within a group, in byte
/// order of path. Built from the files under templates/ by the build.
extern const std::span<const TemplateFile> kTemplates;

}  // namespace templates
