// Script texts built from values: every value becomes a script string literal in
// which no character can end the literal early or change its meaning, so a value
// reaches the page exactly as given and never runs as script.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace WebScript {

// A single-quoted literal for `value`; absent gives the script's null.
std::string literal(const std::optional<std::string>& value);

// A call of `function` with each argument as a literal: "f('a',null)".
std::string call(std::string_view function, std::initializer_list<std::optional<std::string>> arguments);

}  // namespace WebScript
