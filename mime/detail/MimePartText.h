#pragma once
// Text helpers shared by the part, header and message units.

#include "mime/TextUtils.h"
#include "support/AsciiText.h"

#include <string>
#include <string_view>
#include <vector>

namespace tandrel::mime::detail {

/// The value of a header line: what follows its first ":", trimmed of blanks
/// (mail programs put a space or a tab after the colon).
inline std::string HeaderValueOf(std::string_view Line) {
    const auto colon = Line.find(':');
    if (colon == std::string_view::npos) return {};
    return std::string(support::TrimBlank(Line.substr(colon + 1)));
}

/// Header lines followed by the empty line that ends a header block, so that a
/// folded last line is joined (the last line of a list is never a continuation).
inline std::vector<std::string> WithHeaderEnd(const std::vector<std::string>& Header) {
    std::vector<std::string> lines = Header;
    lines.emplace_back();
    return lines;
}

}  // namespace tandrel::mime::detail
