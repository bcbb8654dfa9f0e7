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
// A directive's "> " lines show its result line by line; a last line that ends in "%" has no
// line feed. In them "%" and any byte a reader could not see or tell apart is written %XX; in
// "[...]" groups "[" and "]" are as well. BRINTLE_UPDATE_CASES=1 writes what the directives
// gave in place of what the file expected (then review the diff).
namespace testing_support {

/// Acts on one directive, given its "|" text, and returns its "> " lines ("" for none).
using Directive = std::function<std::string(std::string_view line, const std::string& text)>;

/// Runs every directive of a case file, one failure for each whose "> " lines differ.
void check_case_file(const std::filesystem::path& file, const Directive& directive);

/// The "> " lines that show `bytes`, each after `label` (">" alone for an empty line).
std::string quoted(std::string_view label, std::string_view bytes);

/// The decoded values of the "[...]" groups of a line.
std::vector<std::string> bracketed(std::string_view line);

/// The text with each %XX written as the byte it stands for.
std::string decoded(std::string_view text);

// A unit case is "FUNCTION [IN]...", its "|" lines (if any) making one more input. Its "> "
// lines show the text the function returns as if a line feed followed it.
using UnitFunction = std::function<std::string(const std::vector<std::string>& inputs)>;
using UnitFunctions = std::map<std::string, UnitFunction, std::less<>>;

/// Runs every case of tests/units/<name>.txt.
void check_unit_cases(std::string_view name, const UnitFunctions& functions);

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
