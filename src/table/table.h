#pragma once

#include <string>
#include <string_view>
#include <vector>

// A bordered text table in the full UTF-8 border preset, drawn with default settings.
namespace table {

/// The rendered table: header row, then one row per entry of `rows`; lines joined by "\n",
/// no final "\n".
std::string render(const std::vector<std::string>& header,
                   const std::vector<std::vector<std::string>>& rows);

/// The display width of a text in terminal columns.
std::size_t display_width(std::string_view text);

}  // namespace table
