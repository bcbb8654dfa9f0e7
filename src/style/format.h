#pragma once

#include <fmt/format.h>

#include "style/style.h"

// fmt's formatter for a styled text: the style wraps the text as formatted, padding included.
// A header of its own, so that only the units that format styled texts with fmt pay for fmt's
// full formatting header.
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
