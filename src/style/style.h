#pragma once

#include <string>
#include <string_view>

// The colour styles of the program's messages: each wraps one text in an opening ANSI SGR
// sequence and its closing sequence. Whether the codes reach the terminal is decided by the
// output streams (style/output.h), which strip them when colour is off.
namespace style {

/// An SGR pair: the opening and closing escape sequences.
struct Sgr {
  std::string_view open;
  std::string_view close;
};

/// The SGR codes the program writes, its messages and the command line's texts alike.
namespace code {
inline constexpr std::string_view kReset = "\x1b[0m";
inline constexpr std::string_view kBold = "\x1b[1m";
inline constexpr std::string_view kUnderline = "\x1b[4m";
inline constexpr std::string_view kRed = "\x1b[31m";
inline constexpr std::string_view kGreen = "\x1b[32m";
inline constexpr std::string_view kYellow = "\x1b[33m";
inline constexpr std::string_view kCyan = "\x1b[36m";
inline constexpr std::string_view kDefaultColour = "\x1b[39m";
}  // namespace code

inline constexpr Sgr kRed{code::kRed, code::kDefaultColour};
inline constexpr Sgr kGreen{code::kGreen, code::kDefaultColour};
inline constexpr Sgr kYellow{code::kYellow, code::kDefaultColour};
inline constexpr Sgr kCyan{code::kCyan, code::kDefaultColour};
inline constexpr Sgr kBold{code::kBold, code::kReset};

/// One text in one style; str() gives it wrapped in the style's codes.
template <const Sgr& kSgr>
struct Styled {
  std::string_view text;
  std::string str() const {
    std::string styled(kSgr.open);
    styled.append(text).append(kSgr.close);
    return styled;
  }
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
