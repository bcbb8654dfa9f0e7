#include "table/table.h"

#include <gtest/gtest.h>

#include <string>

#include "support/cases.h"

const bool kTableCases = testing_support::register_unit_cases(
    "table",
    {{"width", [](const auto& in) { return std::to_string(table::display_width(in[0])); }}});
