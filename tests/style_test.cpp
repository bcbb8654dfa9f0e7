#include "style/style.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "style/output.h"
#include "support/cases.h"

const bool kStyleCases = testing_support::register_unit_cases(
    "style", {{"colour",
               [](const std::vector<std::string>& in) {
                 const auto var = [&](std::string_view name) -> std::optional<std::string> {
                   for (const std::string& set : in) {
                     if (set.starts_with(name) && set[name.size()] == '=')
                       return set.substr(name.size() + 1);
                   }
                   return std::nullopt;
                 };
                 const style::ColourEnv env{var("NO_COLOR"), var("CLICOLOR_FORCE"),
                                            var("CLICOLOR"), var("TERM"), var("CI")};
                 return style::colour_enabled(env, in[0] == "terminal") ? "on" : "off";
               }},
              {"strip", [](const auto& in) { return style::strip_ansi(in[0]); }},
              {"escape", [](const auto& in) {
                 // has_controls must tell, without escaping, whether escaping changes the text.
                 const std::string shown = style::escape_controls(in[0]);
                 const bool changed = shown != in[0];
                 return style::has_controls(in[0]) == changed ? shown : "has_controls is wrong";
               }}});
