#include "naming/naming.h"

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include "support/cases.h"

const bool kNamingCases = testing_support::register_unit_cases(
    "naming", {{"forms",
                [](const auto& in) {
                  return fmt::format("{} | {} | {} | {} | {}",
                                     fmt::join(naming::split_words(in[0]), " "),
                                     naming::to_snake(in[0]), naming::to_kebab(in[0]),
                                     naming::to_pascal(in[0]), naming::to_title(in[0]));
                }},
               {"plural", [](const auto& in) { return naming::to_plural(in[0]); }},
               {"capitalize", [](const auto& in) { return naming::capitalize(in[0]); }}});
