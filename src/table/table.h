#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string_view>

// A text table drawn in box-drawing characters, each counted one column: a solid frame, a double
// rule under the header row so that it stands apart, and dashed lines between the columns and
// between the rows, lighter than the frame. Every column is as wide as its widest cell, with one
// blank of padding on each side, left-aligned and never wrapped: whatever the terminal, and on
// a pipe too, the same rows give the same bytes.
namespace table {

/// The table of a header row and the rows of `cells` (one after another, as many cells each as
/// the header), handed to `sink` in pieces of whole lines (about 64 KiB each, lines joined by
/// "\n", no final "\n"), so that a long one is never held whole. Every cell is one line: a
/// line break in one would break the frame, so a caller shows it escaped. Stops at the first
/// piece the sink refuses (returns false) and returns whether it took them all.
bool draw(std::span<const std::string_view> header, std::span<const std::string_view> cells,
          const std::function<bool(std::string_view)>& sink);

/// The display width of a text in terminal columns: every code point up to U+00A0 (controls
/// too) counts 1 except "\r" before "\n", wide and fullwidth 2, combining and ignorable 0,
/// and an emoji sequence (ZWJ, skin tone, U+FE0F, flag) 2.
std::size_t display_width(std::string_view text);

}  // namespace table
