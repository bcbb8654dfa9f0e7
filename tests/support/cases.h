#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "error/error.h"

// Unit cases kept as data, in tests/units/<name>.txt: each case calls one function of its
// test with the inputs it gives and compares the text the function returns, byte for byte.
//
//   # text                      a comment (kept, like blank lines)
//   FUNCTION [IN]... = [OUT]    a case on one line
//   FUNCTION [IN]...            a case whose expected text is long: N raw bytes follow "out N",
//   |text                       then a line feed; "|" lines before it, if any, make one more
//   out N                       input, a line feed ending each of them
//
// In brackets, "%", "[", "]" and any other byte may be written %XX. BRINTLE_UPDATE_CASES=1
// writes what the functions gave in place of what the file expected (then review the diff).
namespace testing_support {

using UnitFunction = std::function<std::string(const std::vector<std::string>& inputs)>;
using UnitFunctions = std::map<std::string, UnitFunction, std::less<>>;

/// Runs every case of tests/units/<name>.txt, one failure for each that gives other bytes.
void check_unit_cases(std::string_view name, const UnitFunctions& functions);

/// The text with each %XX written as the byte it stands for.
std::string decoded(std::string_view text);

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
