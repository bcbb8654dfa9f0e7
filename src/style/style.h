#pragma once

#include <string>
#include <string_view>

#include <fmt/format.h>

// The colour styles of the program's messages: each wraps one text in an opening ANSI SGR
// sequence and its closing sequence. Whether the codes reach the terminal is decided by the
// output streams (style/output.h), which strip them when colour is off.
namespace style {

/// An SGR pair: the opening and closing escape sequences.
struct Sgr {
  std::string_view open;
  std::string_view close;
};

inline constexpr Sgr kRed{"\x1b[31m", "\x1b[39m"};
inline constexpr Sgr kGreen{"\x1b[32m", "\x1b[39m"};
inline constexpr Sgr kYellow{"\x1b[33m", "\x1b[39m"};
inline constexpr Sgr kCyan{"\x1b[36m", "\x1b[39m"};
inline constexpr Sgr kBold{"\x1b[1m", "\x1b[0m"};

/// One text in one style. Format it with fmt ("{}") or turn it into a string with str().
template <const Sgr& kSgr>
struct Styled {
  std::string_view text;
  std::string str() const { return fmt::format("{}{}{}", kSgr.open, text, kSgr.close); }
};

/// The text with every control character but tab written as an escape, in the error line's
/// form: \n, \r, \x1b, \x7f, \x9b (C0 controls, DEL, C1 controls). Text from a project's files
/// or the command line goes through it before it is styled: it cannot drive the terminal, and
/// the program's own colour codes still work.
std::string escape_controls(std::string_view text);

/// Whether escape_controls would change the text: it holds a character it escapes.
bool has_controls(std::string_view text);

using Red = Styled<kRed>;
using Green = Styled<kGreen>;
using Yellow = Styled<kYellow>;
using Cyan = Styled<kCyan>;
using Bold = Styled<kBold>;

}  // namespace style

template <const style::Sgr& kSgr>
struct fmt::formatter<style::Styled<kSgr>> : fmt::formatter<std::string_view> {
  template <typename FormatContext>
  auto format(const style::Styled<kSgr>& styled, FormatContext& ctx) const {
    auto out = fmt::format_to(ctx.out(), "{}", kSgr.open);
    ctx.advance_to(out);
    out = fmt::formatter<std::string_view>::format(styled.text, ctx);
    return fmt::format_to(out, "{}", kSgr.close);
  }
};
