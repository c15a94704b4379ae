#pragma once
// Quoted strings of header values (RFC 5322, 3.2.4): between double quotes, a
// backslash takes the character after it as it is.

#include <cstddef>
#include <string>
#include <string_view>

namespace tandrel::mime::detail {

/// 0-based position of the double quote that closes the quoted string opened at
/// Open (Value[Open] is a double quote); npos when it is never closed.
inline std::size_t QuotedStringEnd(std::string_view Value, std::size_t Open) {
    for (std::size_t i = Open + 1; i < Value.size(); ++i) {
        if (Value[i] == '\\')
            ++i;
        else if (Value[i] == '"')
            return i;
    }
    return std::string_view::npos;
}

/// The content of a quoted string (without its quotes) with each backslash pair
/// turned into the character it escapes.
inline std::string UnescapedQuotedText(std::string_view Content) {
    std::string out;
    out.reserve(Content.size());
    for (std::size_t i = 0; i < Content.size(); ++i) {
        if (Content[i] == '\\' && i + 1 < Content.size()) ++i;
        out.push_back(Content[i]);
    }
    return out;
}

}  // namespace tandrel::mime::detail
