# Writes a C++ source that holds every template under TEMPLATE_ROOT as a TemplateFile record.
# Records are ordered by group (alembic, core, module, project) and, inside a group, by the
# bytes of their relative path, which is the order the program processes them in.
cmake_minimum_required(VERSION 3.25)

set(groups alembic core module project)
set(records "")
set(arrays "")
set(index 0)
foreach(group IN LISTS groups)
  file(GLOB_RECURSE paths LIST_DIRECTORIES false RELATIVE "${TEMPLATE_ROOT}/${group}"
       "${TEMPLATE_ROOT}/${group}/*")
  list(SORT paths COMPARE STRING CASE SENSITIVE ORDER ASCENDING)
  foreach(path IN LISTS paths)
    file(READ "${TEMPLATE_ROOT}/${group}/${path}" hex HEX)
    string(LENGTH "${hex}" hex_length)
    math(EXPR size "${hex_length} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
    string(APPEND arrays "constexpr char kText${index}[] = {${bytes} '\\0'};\n")
    string(REPLACE "\\" "\\\\" escaped_path "${path}")
    string(REPLACE "\"" "\\\"" escaped_path "${escaped_path}")
    string(APPEND records
           "    {\"${group}\", \"${escaped_path}\", std::string_view(kText${index}, ${size})},\n")
    math(EXPR index "${index} + 1")
  endforeach()
endforeach()

set(source "// Generated from templates/ by cmake/embed_templates.cmake. Do not edit.\n")
string(APPEND source "#include \"templates/templates.h\"\n\nnamespace templates {\nnamespace {\n")
string(APPEND source "${arrays}")
if(index EQUAL 0)
  string(APPEND source "constexpr TemplateFile kTable[1] = {};\n}  // namespace\n\n")
  string(APPEND source "const std::span<const TemplateFile> kTemplates{kTable, 0};\n")
else()
  string(APPEND source "constexpr TemplateFile kTable[] = {\n${records}};\n}  // namespace\n\n")
  string(APPEND source "const std::span<const TemplateFile> kTemplates{kTable};\n")
endif()
string(APPEND source "}  // namespace templates\n")

# Only touch the output when it changes, so an unrelated reconfigure does not rebuild.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" previous)
  if(previous STREQUAL source)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${source}")
