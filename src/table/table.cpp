#include "table/table.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <utf8proc.h>

#include "text/text.h"

namespace table {
namespace {

// The frame is a solid line, the rule under the header a double one, the lines inside the body
// dashed (where they cross, solid); each character counts one column.
constexpr std::string_view kLeftBorder = "│";
constexpr std::string_view kRightBorder = "│";
constexpr std::string_view kTopBorder = "─";
constexpr std::string_view kBottomBorder = "─";
constexpr std::string_view kLeftHeaderIntersection = "╞";
constexpr std::string_view kHeaderLines = "═";
constexpr std::string_view kMiddleHeaderIntersections = "╪";
constexpr std::string_view kRightHeaderIntersection = "╡";
constexpr std::string_view kVerticalLines = "┆";
constexpr std::string_view kHorizontalLines = "╌";
constexpr std::string_view kMiddleIntersections = "┼";
constexpr std::string_view kLeftBorderIntersections = "├";
constexpr std::string_view kRightBorderIntersections = "┤";
constexpr std::string_view kTopBorderIntersections = "┬";
constexpr std::string_view kBottomBorderIntersections = "┴";
constexpr std::string_view kTopLeftCorner = "┌";
constexpr std::string_view kTopRightCorner = "┐";
constexpr std::string_view kBottomLeftCorner = "└";
constexpr std::string_view kBottomRightCorner = "┘";

// One blank on each side of every cell.
constexpr std::size_t kPadding = 1;

constexpr utf8proc_int32_t kZeroWidthJoiner = 0x200D;
constexpr utf8proc_int32_t kTextPresentation = 0xFE0E;
constexpr utf8proc_int32_t kEmojiPresentation = 0xFE0F;

std::vector<utf8proc_int32_t> decode(std::string_view text) {
  std::vector<utf8proc_int32_t> code_points;
  // A stray byte shows as a replacement character, as a terminal would draw it.
  for (std::size_t pos = 0; pos < text.size();) {
    code_points.push_back(static_cast<utf8proc_int32_t>(text::decode_utf8(text, pos)));
  }
  return code_points;
}

utf8proc_propval_t boundclass(utf8proc_int32_t code_point) {
  return utf8proc_get_property(code_point)->boundclass;
}

bool is_pictographic(utf8proc_int32_t code_point) {
  return boundclass(code_point) == UTF8PROC_BOUNDCLASS_EXTENDED_PICTOGRAPHIC;
}

bool is_emoji_modifier(utf8proc_int32_t code_point) {
  return code_point >= 0x1F3FB && code_point <= 0x1F3FF;
}

bool is_regional_indicator(utf8proc_int32_t code_point) {
  return boundclass(code_point) == UTF8PROC_BOUNDCLASS_REGIONAL_INDICATOR;
}

// The keycap sequences ("1️⃣") start with a plain ASCII character.
bool is_keycap_base(utf8proc_int32_t code_point) {
  return (code_point >= '0' && code_point <= '9') || code_point == '#' || code_point == '*';
}

// The Enclosed Ideographic Supplement keeps its width in text presentation.
bool is_enclosed_ideographic(utf8proc_int32_t code_point) {
  return code_point >= 0x1F200 && code_point <= 0x1F2FF;
}

// A cluster that terminals draw as one wide emoji, whatever its parts would add up to.
bool is_emoji_sequence(std::span<const utf8proc_int32_t> cluster) {
  if (cluster.size() < 2) return false;
  const utf8proc_int32_t base = cluster[0];
  if (is_regional_indicator(base) && is_regional_indicator(cluster[1])) return true;
  if ((is_pictographic(base) || is_keycap_base(base)) && cluster[1] == kEmojiPresentation) {
    return true;
  }
  if (!is_pictographic(base)) return false;
  if (is_emoji_modifier(cluster[1])) return true;
  for (std::size_t i = 1; i + 1 < cluster.size(); ++i) {
    if (cluster[i] == kZeroWidthJoiner && is_pictographic(cluster[i + 1])) return true;
  }
  return false;
}

// A wide emoji asked to show as text ("🚀︎") narrows to one column.
bool is_text_presentation_sequence(std::span<const utf8proc_int32_t> cluster) {
  return cluster.size() >= 2 && cluster[1] == kTextPresentation && is_pictographic(cluster[0]) &&
         utf8proc_charwidth(cluster[0]) == 2 && !is_enclosed_ideographic(cluster[0]);
}

// Characters that terminals draw wider or narrower than their Unicode properties say.
std::optional<std::size_t> special_width(utf8proc_int32_t code_point) {
  switch (code_point) {
    case 0x115F:  // HANGUL CHOSEONG FILLER stands in for a whole wide syllable
    case 0x17A4:  // KHMER INDEPENDENT VOWEL QAA
      return 2;
    case 0x17D8:  // KHMER SIGN BEYYAL
      return 3;
    case 0x2D7F:  // TIFINAGH CONSONANT JOINER, outside a bi-consonant
    case 0xFF9E:  // the halfwidth katakana sound marks take a cell of their own
    case 0xFF9F:
      return 1;
    case 0xA8FA:  // DEVANAGARI CARET
      return 0;
    default:
      return std::nullopt;
  }
}

bool is_spanning_number_sign(utf8proc_int32_t c) {
  return (c >= 0x600 && c <= 0x604) || c == 0x6DD || c == 0x110BD || c == 0x110CD;
}

std::size_t code_point_width(utf8proc_int32_t code_point, utf8proc_int32_t next) {
  if (code_point == '\r' && next == '\n') return 0;
  // Controls are written out as they are, so each takes the column it is counted for.
  if (code_point <= 0xA0) return 1;
  if (const auto width = special_width(code_point)) return *width;
  const utf8proc_property_t* property = utf8proc_get_property(code_point);
  if (property->ignorable) return 0;
  const auto bound = property->boundclass;
  // A prepended mark joins the character after it, except the number signs that span the
  // digits after them.
  if (bound == UTF8PROC_BOUNDCLASS_PREPEND) return is_spanning_number_sign(code_point) ? 1 : 0;
  // Grapheme extenders are combining; the skin-tone modifiers share the class but stand alone.
  if (bound == UTF8PROC_BOUNDCLASS_EXTEND && !is_emoji_modifier(code_point)) return 0;
  if (bound == UTF8PROC_BOUNDCLASS_V || bound == UTF8PROC_BOUNDCLASS_T) return 0;
  // Whatever else utf8proc gives no width of its own (format characters, spacing marks, line
  // separators) still takes a column.
  return utf8proc_charwidth(code_point) == 2 ? 2 : 1;
}

std::size_t sum_of_widths(std::span<const utf8proc_int32_t> code_points) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < code_points.size(); ++i) {
    const utf8proc_int32_t next = i + 1 < code_points.size() ? code_points[i + 1] : -1;
    width += code_point_width(code_points[i], next);
  }
  return width;
}

bool is_joining_group_lam(utf8proc_int32_t c) {
  return c == 0x644 || (c >= 0x6B5 && c <= 0x6B8) || c == 0x76A || c == 0x8A6 || c == 0x8C7;
}

bool is_joining_group_alef(utf8proc_int32_t c) {
  return c == 0x622 || c == 0x623 || c == 0x625 || c == 0x627 || (c >= 0x671 && c <= 0x673) ||
         c == 0x675 || c == 0x773 || c == 0x774 || (c >= 0x870 && c <= 0x882);
}

// The marks that may stand between lam and alef without breaking their ligature.
bool is_transparent_mark(utf8proc_int32_t c) {
  const auto category = utf8proc_category(c);
  return category == UTF8PROC_CATEGORY_MN || category == UTF8PROC_CATEGORY_ME;
}

// The letters that a Khmer coeng sign turns into a subscript under the letter before.
bool is_khmer_coeng_eligible(utf8proc_int32_t c) {
  return (c >= 0x1780 && c <= 0x1782) || (c >= 0x1784 && c <= 0x1787) ||
         (c >= 0x1789 && c <= 0x178C) || (c >= 0x178E && c <= 0x1793) ||
         (c >= 0x1795 && c <= 0x1798) || (c >= 0x179B && c <= 0x179D) || c == 0x17A0 ||
         c == 0x17A2 || c == 0x17A7 || c == 0x17AB || c == 0x17AC || c == 0x17AF;
}

bool is_curly_quote(utf8proc_int32_t c) {
  return c == 0x2018 || c == 0x2019 || c == 0x201C || c == 0x201D;
}

bool is_tifinagh_consonant(utf8proc_int32_t c) {
  return (c >= 0x2D31 && c <= 0x2D65) || c == 0x2D6F;
}

// What the script ligatures change against the sum of their parts: each drawn as one
// character, or (a curly quote with the second variation selector) as a wide one.
std::ptrdiff_t ligature_adjustment(std::span<const utf8proc_int32_t> cps) {
  std::ptrdiff_t adjustment = 0;
  const auto at = [&cps](std::size_t i) { return i < cps.size() ? cps[i] : -1; };
  for (std::size_t i = 0; i < cps.size(); ++i) {
    const utf8proc_int32_t c = cps[i];
    if (is_joining_group_alef(c)) {
      std::size_t before = i;
      while (before > 0 && is_transparent_mark(cps[before - 1])) --before;
      if (before > 0 && is_joining_group_lam(cps[before - 1])) --adjustment;
    } else if (c == 0x5D0 && at(i + 1) == kZeroWidthJoiner && at(i + 2) == 0x5DC) {
      --adjustment;  // Hebrew alef-lamed
    } else if (c == 0x17D2 && is_khmer_coeng_eligible(at(i + 1))) {
      --adjustment;
    } else if (is_curly_quote(c) && at(i + 1) == 0xFE01) {
      ++adjustment;
    } else if (c >= 0xA4F8 && c <= 0xA4FB && (at(i + 1) == 0xA4FC || at(i + 1) == 0xA4FD)) {
      --adjustment;  // Lisu tone letters
    } else if (is_tifinagh_consonant(c) && is_tifinagh_consonant(at(i + 2))) {
      if (at(i + 1) == 0x2D7F) adjustment -= 2;
      if (at(i + 1) == kZeroWidthJoiner) adjustment -= 1;
    }
  }
  return adjustment;
}

std::size_t cluster_width(std::span<const utf8proc_int32_t> cluster) {
  if (is_emoji_sequence(cluster)) return 2;
  if (is_text_presentation_sequence(cluster)) return 1 + sum_of_widths(cluster.subspan(2));
  return sum_of_widths(cluster);
}

std::string repeat(std::string_view piece, std::size_t count) {
  std::string out;
  out.reserve(piece.size() * count);
  for (std::size_t i = 0; i < count; ++i) out += piece;
  return out;
}

/// The content width of each column: its widest cell, at least 1.
std::vector<std::size_t> content_widths(std::span<const std::string_view> header,
                                        std::span<const std::string_view> cells) {
  const std::size_t columns = header.size();
  std::vector<std::size_t> widths(columns, 1);
  for (std::size_t column = 0; column < columns; ++column) {
    widths[column] = std::max(widths[column], display_width(header[column]));
  }
  for (std::size_t index = 0; index < cells.size(); ++index) {
    std::size_t& width = widths[index % columns];
    width = std::max(width, display_width(cells[index]));
  }
  return widths;
}

struct RuleStyle {
  std::string_view left, fill, crossing, right;
};

constexpr RuleStyle kTopRule{kTopLeftCorner, kTopBorder, kTopBorderIntersections, kTopRightCorner};
constexpr RuleStyle kHeaderRule{kLeftHeaderIntersection, kHeaderLines, kMiddleHeaderIntersections,
                                kRightHeaderIntersection};
constexpr RuleStyle kRowRule{kLeftBorderIntersections, kHorizontalLines, kMiddleIntersections,
                             kRightBorderIntersections};
constexpr RuleStyle kBottomRule{kBottomLeftCorner, kBottomBorder, kBottomBorderIntersections,
                                kBottomRightCorner};

std::string rule_line(const RuleStyle& style, const std::vector<std::size_t>& widths) {
  std::string line(style.left);
  for (std::size_t column = 0; column < widths.size(); ++column) {
    if (column > 0) line += style.crossing;
    line += repeat(style.fill, widths[column] + 2 * kPadding);
  }
  line += style.right;
  return line;
}

/// The line of one row, followed by "\n": each cell padded to its column's width.
void append_row(std::string& out, std::span<const std::string_view> cells,
                const std::vector<std::size_t>& widths) {
  out += kLeftBorder;
  for (std::size_t column = 0; column < widths.size(); ++column) {
    if (column > 0) out += kVerticalLines;
    out.append(kPadding, ' ');
    out += cells[column];
    out.append(widths[column] - display_width(cells[column]) + kPadding, ' ');
  }
  out += kRightBorder;
  out += '\n';
}

// The size of the pieces that draw() hands on: big enough that writing them costs few system
// calls, small enough that a table of any length takes little memory.
constexpr std::size_t kPieceSize = 64 * 1024;

}  // namespace

std::size_t display_width(std::string_view text) {
  // ASCII needs no decoding: every character is a cluster of its own and one column wide,
  // except that "\r\n" is one cluster whose "\r" takes no column.
  if (text::is_ascii(text)) {
    std::size_t crlf = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string_view::npos;
         at = text.find("\r\n", at + 2)) {
      ++crlf;
    }
    return text.size() - crlf;
  }
  const std::vector<utf8proc_int32_t> code_points = decode(text);
  const std::span<const utf8proc_int32_t> all(code_points);
  std::size_t width = 0;
  std::size_t start = 0;
  utf8proc_int32_t state = 0;
  for (std::size_t i = 1; i <= code_points.size(); ++i) {
    if (i < code_points.size() &&
        !utf8proc_grapheme_break_stateful(code_points[i - 1], code_points[i], &state)) {
      continue;
    }
    width += cluster_width(all.subspan(start, i - start));
    start = i;
  }
  return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(width) + ligature_adjustment(all));
}

bool draw(std::span<const std::string_view> header, std::span<const std::string_view> cells,
          const std::function<bool(std::string_view)>& sink) {
  const std::size_t columns = header.size();
  const std::vector<std::size_t> widths = content_widths(header, cells);
  std::string piece;
  piece.reserve(kPieceSize + 4096);
  // Hands on the lines gathered so far, without the "\n" after the last one.
  const auto flush = [&]() {
    piece.pop_back();
    const bool taken = sink(piece);
    piece.clear();
    return taken;
  };
  (piece += rule_line(kTopRule, widths)) += '\n';
  append_row(piece, header, widths);
  // The line under the header is drawn even when no row follows it.
  (piece += rule_line(kHeaderRule, widths)) += '\n';
  // Every line between two rows is the same.
  const std::string row_rule = rule_line(kRowRule, widths);
  for (std::size_t start = 0; columns > 0 && start < cells.size(); start += columns) {
    if (start > 0) (piece += row_rule) += '\n';
    append_row(piece, cells.subspan(start, columns), widths);
    if (piece.size() >= kPieceSize && !flush()) return false;
  }
  (piece += rule_line(kBottomRule, widths)) += '\n';
  return flush();
}

}  // namespace table
