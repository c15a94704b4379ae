#pragma once
// Text helpers shared by the part, header and message units.

#include "support/AsciiText.h"
#include "mime/TextUtils.h"

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

/// Calls Sink with each line of Data, split at CR LF, LF or CR; a final break
/// adds no empty line.
template <typename Sink>
void ForEachLine(std::string_view Data, Sink&& sink) {
    std::size_t start = 0;
    const std::size_t n = Data.size();
    while (start < n) {
        std::size_t i = start;
        while (i < n && Data[i] != '\r' && Data[i] != '\n') ++i;
        sink(Data.substr(start, i - start));
        if (i < n && Data[i] == '\r' && i + 1 < n && Data[i + 1] == '\n') ++i;
        start = i + 1;
    }
}

/// The lines of Data as ForEachLine splits them.
inline std::vector<std::string> SplitLines(std::string_view Data) {
    std::vector<std::string> out;
    ForEachLine(Data, [&](std::string_view l) { out.emplace_back(l); });
    return out;
}

}  // namespace tandrel::mime::detail
