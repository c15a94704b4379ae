#pragma once
// The numbers tandrel-mail takes on its command line (--port, --timeout, --attempts).

#include <optional>
#include <string_view>

namespace tandrel::mail::tool {

/// `Text` as a number from `Low` to `High`: decimal digits only, nothing before or after
/// them (no sign, no space). Nothing when it is not such a number or lies outside the range.
[[nodiscard]] std::optional<int> ParseNumberArgument(std::string_view Text, int Low, int High);

}  // namespace tandrel::mail::tool
