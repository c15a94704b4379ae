#include "mail/detail/MessageID.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <string_view>

namespace tandrel::mail {

namespace {

// atext of RFC 5322: what a dot-atom is made of besides its dots.
bool IsAtext(char C) {
    const bool alphanumeric = (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9');
    return alphanumeric || std::string_view("!#$%&'*+-/=?^_`{|}~").find(C) != std::string_view::npos;
}

bool IsDotAtom(std::string_view Text) {
    if (Text.empty() || Text.front() == '.' || Text.back() == '.' ||
        Text.find("..") != std::string_view::npos)
        return false;
    return std::all_of(Text.begin(), Text.end(), [](char C) { return C == '.' || IsAtext(C); });
}

// "[" dtext "]": printable ASCII but the brackets and the backslash.
bool IsDomainLiteral(std::string_view Text) {
    if (Text.size() < 2 || Text.front() != '[' || Text.back() != ']') return false;
    const std::string_view inner = Text.substr(1, Text.size() - 2);
    return std::all_of(inner.begin(), inner.end(),
                       [](char C) { return C > ' ' && C < 0x7F && C != '[' && C != ']' && C != '\\'; });
}

bool IsMessageIDDomain(std::string_view Text) { return IsDotAtom(Text) || IsDomainLiteral(Text); }

}  // namespace

std::string MessageIDDomain(std::string_view SenderDomain, std::string_view HostName) {
    if (IsMessageIDDomain(SenderDomain)) return std::string(SenderDomain);
    if (IsMessageIDDomain(HostName)) return std::string(HostName);
    return "localhost";
}

std::string UniqueMessageID(std::string_view Domain) {
    // The system's entropy source, not a seeded generator: two programs started in the
    // same second must not draw the same identifier. 128 bits keep the line within 78
    // characters for domains of up to 30.
    std::random_device entropy;
    std::string id;
    for (int i = 0; i < 4; ++i) {
        char word[9];
        std::snprintf(word, sizeof word, "%08x", static_cast<unsigned>(entropy()));
        id += word;
    }
    return id + "@" + std::string(Domain);
}

}  // namespace tandrel::mail
