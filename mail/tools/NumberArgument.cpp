#include "mail/tools/NumberArgument.h"

#include <algorithm>
#include <charconv>
#include <system_error>

namespace tandrel::mail::tool {

std::optional<int> ParseNumberArgument(std::string_view Text, int Low, int High) {
    // from_chars alone would take a leading "-"; stoi would also skip spaces and take "+".
    if (Text.empty() || !std::all_of(Text.begin(), Text.end(), [](char C) { return C >= '0' && C <= '9'; }))
        return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
    if (error != std::errc{} || end != Text.data() + Text.size() || value < Low || value > High)
        return std::nullopt;
    return value;
}

}  // namespace tandrel::mail::tool
