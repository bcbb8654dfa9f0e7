#include "text/text.h"

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include "support/cases.h"

const bool kTextCases = testing_support::register_unit_cases(
    "text",
    {{"trim",
      [](const auto& in) {
        return fmt::format("{}|{}|{}", text::trim(in[0]), text::trim_start(in[0]),
                           text::trim_end(in[0]));
      }},
     {"lines", [](const auto& in) { return fmt::format("{}", text::split_lines(in[0])); }},
     {"lossy", [](const auto& in) { return text::lossy_utf8(in[0]); }},
     {"components",
      [](const auto& in) { return fmt::format("{}", text::path_components(in[0])); }},
     {"jaro",
      [](const auto& in) { return fmt::format("{}", text::jaro_similarity(in[0], in[1])); }}});
