#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "error/error.h"

// Cases kept as data. tests/cases/*.txt run the program end to end (see cases_test.cpp), and
// tests/units/<name>.txt call one function each. Both files have the same form:
//
//   # text                a comment (kept, like blank lines)
//   DIRECTIVE ...         a line the file's runner acts on
//   |text                 after a directive: one more line of its text ("text" and a line feed)
//   > text                after a directive: what it gave, as the file expects it
//
// A case starts at a "=== title" line, or, in a file without them, at each directive; each case
// is a test of its own. A directive's "> " lines show its result line by line; a last line that ends in "%" has no
// line feed. In them "%" and any byte a reader could not see or tell apart is written %XX; in
// "[...]" groups "[" and "]" are as well. BRINTLE_UPDATE_CASES=1 writes what the directives
// gave in place of what the file expected (then review the diff).
namespace testing_support {

/// Acts on one directive, given its "|" text, and returns its "> " lines ("" for none).
using Directive = std::function<std::string(std::string_view line, const std::string& text)>;

/// Registers each case of a case file as a test of suite `suite`, named after the file and the
/// case ("cli/no_arguments" after a "=== (no arguments)" title, "text/L12_trim" after the line
/// of a case without one). The test runs the case's directives, each through a directive made
/// for it by `make_directive`, one failure for each whose "> " lines differ.
void register_cases(const std::filesystem::path& file, const char* suite,
                    std::function<Directive()> make_directive);

/// The "> " lines that show `bytes`, each after `label` (">" alone for an empty line).
std::string result_lines(std::string_view label, std::string_view bytes);

/// The decoded values of the "[...]" groups of a line.
std::vector<std::string> bracketed(std::string_view line);

/// The text with each %XX written as the byte it stands for.
std::string decoded(std::string_view text);

// A unit case is "FUNCTION [IN]...", its "|" lines (if any) making one more input. Its "> "
// lines show the text the function returns as if a line feed followed it.
using UnitFunction = std::function<std::string(const std::vector<std::string>& inputs)>;
using UnitFunctions = std::map<std::string, UnitFunction, std::less<>>;

/// Registers every case of tests/units/<name>.txt as a test of suite "Units"; true, so that a
/// test file can do it as it starts: `const bool kRegistered = register_unit_cases(...)`.
bool register_unit_cases(std::string_view name, UnitFunctions functions);

/// What a case shows of a result: the value ("ok" for none) or "error: " and the messages.
template <typename T>
std::string outcome(const error::Result<T>& result) {
  if (!result) return "error: " + result.error().joined();
  if constexpr (std::is_void_v<T>) {
    return "ok";
  } else {
    return std::string(*result);
  }
}

}  // namespace testing_support
