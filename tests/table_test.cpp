#include "table/table.h"

#include <gtest/gtest.h>

#include <ranges>

#include "support/cases.h"

const bool kTableCases = testing_support::register_unit_cases(
    "table",
    {{"table",
      [](const auto& in) {
        std::vector<std::vector<std::string>> rows;
        for (const std::string& row : in) {
          rows.emplace_back();
          for (const auto cell : std::views::split(row, '|')) {
            if (!row.empty()) rows.back().emplace_back(std::string_view(cell));
          }
        }
        return table::render({"module", "path", "description"}, rows);
      }},
     {"width", [](const auto& in) { return std::to_string(table::display_width(in[0])); }}});
