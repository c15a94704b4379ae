#include "net/AddressText.h"

#include <cctype>
#include <string_view>
#include <vector>

namespace tandrel::net {
namespace {

std::string_view TrimSpaces(std::string_view Value) {
    while (!Value.empty() && Value.front() == ' ') Value.remove_prefix(1);
    while (!Value.empty() && Value.back() == ' ') Value.remove_suffix(1);
    return Value;
}

/// The text before the first Delimiter; Rest becomes the text after it (or
/// empty when there is none).
std::string_view Fetch(std::string_view& Rest, char Delimiter) {
    const auto pos = Rest.find(Delimiter);
    std::string_view part = Rest.substr(0, pos);
    Rest = pos == std::string_view::npos ? std::string_view() : Rest.substr(pos + 1);
    return TrimSpaces(part);
}

/// Value of a non-empty run of digits in Base, or -1 when it is not one or
/// exceeds Max.
long DigitsValue(std::string_view Value, int Base, long Max) {
    if (Value.empty()) return -1;
    long result = 0;
    for (const char c : Value) {
        const auto u = static_cast<unsigned char>(c);
        int digit;
        if (std::isdigit(u))
            digit = c - '0';
        else if (Base == 16 && std::isxdigit(u))
            digit = std::tolower(u) - 'a' + 10;
        else
            return -1;
        result = result * Base + digit;
        if (result > Max) return -1;
    }
    return result;
}

bool IsIPPart(std::string_view Value) { return DigitsValue(Value, 10, 255) >= 0; }
bool IsIP6Group(std::string_view Value) { return DigitsValue(Value, 16, 0xFFFF) >= 0; }

std::vector<std::string_view> SplitGroups(std::string_view Value) {
    std::vector<std::string_view> groups;
    while (!Value.empty()) {
        const auto pos = Value.find(':');
        groups.push_back(Value.substr(0, pos));
        if (pos == std::string_view::npos) break;
        Value.remove_prefix(pos + 1);
    }
    return groups;
}

}  // namespace

bool IsIP(const std::string& Value) {
    std::string_view rest = Value;
    for (int part = 0; part < 3; ++part)
        if (!IsIPPart(Fetch(rest, '.'))) return false;
    return IsIPPart(TrimSpaces(rest));
}

bool IsIP6(const std::string& Value) {
    if (Value == "::") return true;
    std::string_view rest = Value;
    int parts = 0;
    int zeroRuns = 0;
    while (!rest.empty()) {
        std::string_view part = Fetch(rest, ':');
        ++parts;
        if (parts > 8) return false;
        if (part.empty()) {
            if (parts > 1 && ++zeroRuns > 1) return false;
            continue;
        }
        if (rest.empty()) {
            // Only the last group may carry a zone.
            const auto zone = part.find('%');
            if (zone != std::string_view::npos) {
                if (!IsIP6Group(part.substr(zone + 1))) return false;
                part = part.substr(0, zone);
            }
        }
        if (!IsIP6Group(part)) return false;
    }
    return !(parts == 1 && zeroRuns == 0) && parts > 0;
}

std::string IPToID(const std::string& Host) {
    std::string result;
    std::string_view rest = Host;
    for (int part = 0; part < 4; ++part) {
        const long value = DigitsValue(Fetch(rest, '.'), 10, 255);
        result.push_back(static_cast<char>(value < 0 ? 0 : value));
    }
    return result;
}

std::string ExpandIP6(const std::string& Value) {
    std::string_view text = Value;
    std::string_view left = text;
    std::string_view right;
    const auto gap = text.find("::");
    if (gap != std::string_view::npos) {
        left = text.substr(0, gap);
        right = text.substr(gap + 2);
    }
    std::vector<std::string_view> groups = SplitGroups(left);
    const std::vector<std::string_view> tail = SplitGroups(right);
    if (gap != std::string_view::npos)
        for (auto missing = groups.size() + tail.size(); missing < 8; ++missing) groups.emplace_back("0");
    groups.insert(groups.end(), tail.begin(), tail.end());
    std::string result;
    for (std::size_t n = 0; n < groups.size(); ++n) {
        if (n > 0) result += ':';
        result += groups[n].empty() ? std::string_view("0") : groups[n];
    }
    return result;
}

std::array<std::uint8_t, 16> StrToIp6(const std::string& Value) {
    std::array<std::uint8_t, 16> result{};
    if (!IsIP6(Value)) return result;
    std::string text = Value.substr(0, Value.find('%'));
    const std::string expanded = ExpandIP6(text);
    const std::vector<std::string_view> groups = SplitGroups(expanded);
    if (groups.size() != 8) return result;
    for (std::size_t n = 0; n < 8; ++n) {
        const long group = DigitsValue(TrimSpaces(groups[n]), 16, 0xFFFF);
        if (group < 0) return {};
        result[2 * n] = static_cast<std::uint8_t>(group >> 8);
        result[2 * n + 1] = static_cast<std::uint8_t>(group & 0xFF);
    }
    return result;
}

std::string Ip6ToStr(const std::array<std::uint8_t, 16>& Value) {
    std::array<unsigned, 8> groups{};
    for (std::size_t n = 0; n < 8; ++n) groups[n] = (unsigned{Value[2 * n]} << 8) | Value[2 * n + 1];
    // The longest run of two or more zero groups (the first of equal ones)
    // becomes "::".
    std::size_t bestStart = 8;
    std::size_t bestLength = 1;
    for (std::size_t start = 0; start < 8;) {
        std::size_t end = start;
        while (end < 8 && groups[end] == 0) ++end;
        if (end - start > bestLength) {
            bestStart = start;
            bestLength = end - start;
        }
        start = end == start ? start + 1 : end;
    }
    static constexpr char hex[] = "0123456789abcdef";
    std::string result;
    for (std::size_t n = 0; n < 8; ++n) {
        if (n == bestStart) {
            result += "::";
            n += bestLength - 1;
            continue;
        }
        if (!result.empty() && result.back() != ':') result += ':';
        std::string group;
        for (unsigned g = groups[n]; g != 0 || group.empty(); g >>= 4)
            group.insert(group.begin(), hex[g & 0xF]);
        result += group;
    }
    return result;
}

}  // namespace tandrel::net
