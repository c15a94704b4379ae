#include "mail/detail/DelimitedText.h"

#include <algorithm>

namespace tandrel::mail {

char FindDelimiterInText(std::string_view AText, std::string_view ADelimiters) {
    const std::string_view delimiters = ADelimiters.empty() ? std::string_view{";,|"} : ADelimiters;
    for (const char candidate : delimiters) {
        if (AText.find(candidate) != std::string_view::npos) return candidate;
    }
    return ' ';
}

namespace {

// Reads a quoted item starting at `Pos` (which holds the opening quote) and returns the
// position just after the closing quote, or the end of the text when it never closes.
std::size_t ReadQuoted(std::string_view Text, std::size_t Pos, char Quote, std::string& Item) {
    ++Pos;
    while (Pos < Text.size()) {
        if (Text[Pos] == Quote) {
            if (Pos + 1 < Text.size() && Text[Pos + 1] == Quote) {
                Item += Quote;
                Pos += 2;
                continue;
            }
            return Pos + 1;
        }
        Item += Text[Pos++];
    }
    return Pos;
}

}  // namespace

int AddDelimitedTextToList(std::string_view AText, char ADelimiter, std::vector<std::string>& AStringList,
                           char AQuoteChar) {
    if (AText.empty()) return 0;
    int count = 0;
    std::size_t pos = 0;
    while (true) {
        std::string item;
        if (pos < AText.size() && AText[pos] == AQuoteChar) pos = ReadQuoted(AText, pos, AQuoteChar, item);
        // Text after a closing quote is kept rather than dropped: it is part of what was given.
        const std::size_t end = std::min(AText.find(ADelimiter, pos), AText.size());
        item.append(AText.substr(pos, end - pos));
        AStringList.push_back(std::move(item));
        ++count;
        if (end >= AText.size()) break;
        pos = end + 1;
    }
    return count;
}

}  // namespace tandrel::mail
