#include "mime/TextUtils.h"

#include "support/AsciiText.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace tandrel::mime {
namespace {

std::size_t FindDelimiter(std::string_view Value, std::string_view Delimiter) {
    return Delimiter.empty() ? std::string_view::npos : Value.find(Delimiter);
}

// 0-based position of the first Delimiter at or after From that stands outside
// Quotation sections (From itself counts as outside); npos when none.
std::size_t FindOutsideQuotes(std::string_view Value, std::string_view Delimiter, char Quotation,
                              std::size_t From) {
    if (Delimiter.empty()) return std::string_view::npos;
    bool quoted = false;
    for (std::size_t i = From; i < Value.size(); ++i) {
        if (Value[i] == Quotation)
            quoted = !quoted;
        else if (!quoted && Value.substr(i, Delimiter.size()) == Delimiter)
            return i;
    }
    return std::string_view::npos;
}

}  // namespace

std::string SeparateLeft(std::string_view Value, std::string_view Delimiter) {
    const std::size_t p = FindDelimiter(Value, Delimiter);
    return std::string(p == std::string_view::npos ? Value : Value.substr(0, p));
}

std::string SeparateRight(std::string_view Value, std::string_view Delimiter) {
    const std::size_t p = FindDelimiter(Value, Delimiter);
    return std::string(p == std::string_view::npos ? Value : Value.substr(p + Delimiter.size()));
}

std::string FetchBin(std::string& Value, std::string_view Delimiter) {
    const std::size_t p = FindDelimiter(Value, Delimiter);
    if (p == std::string::npos) return std::exchange(Value, std::string());
    std::string result = Value.substr(0, p);
    Value.erase(0, p + Delimiter.size());
    return result;
}

std::string Fetch(std::string& Value, std::string_view Delimiter) {
    std::string result = TrimSP(FetchBin(Value, Delimiter));
    Value = TrimSP(Value);
    return result;
}

std::string FetchEx(std::string& Value, std::string_view Delimiter, char Quotation) {
    const std::size_t p = FindOutsideQuotes(Value, Delimiter, Quotation, 0);
    if (p == std::string::npos) return std::exchange(Value, std::string());
    std::string result = Value.substr(0, p);
    Value.erase(0, p + Delimiter.size());
    return result;
}

std::vector<std::string_view> SplitEx(std::string_view Value, std::string_view Delimiter, char Quotation) {
    std::vector<std::string_view> pieces;
    std::size_t from = 0;
    while (from < Value.size()) {
        const std::size_t p = FindOutsideQuotes(Value, Delimiter, Quotation, from);
        if (p == std::string_view::npos) {
            pieces.push_back(Value.substr(from));
            break;
        }
        pieces.push_back(Value.substr(from, p - from));
        from = p + Delimiter.size();
    }
    return pieces;
}

std::string TrimSPLeft(std::string_view Value) {
    const std::size_t p = Value.find_first_not_of(' ');
    return p == std::string_view::npos ? std::string() : std::string(Value.substr(p));
}

std::string TrimSPRight(std::string_view Value) {
    const std::size_t p = Value.find_last_not_of(' ');
    return p == std::string_view::npos ? std::string() : std::string(Value.substr(0, p + 1));
}

std::string TrimSP(std::string_view Value) { return TrimSPRight(TrimSPLeft(Value)); }

std::string QuoteStr(std::string_view Value, char Quote) {
    std::string out(1, Quote);
    for (char c : Value) {
        out.push_back(c);
        if (c == Quote) out.push_back(c);
    }
    out.push_back(Quote);
    return out;
}

std::string UnquoteStr(std::string_view Value, char Quote) {
    std::string out;
    out.reserve(Value.size());
    bool quoted = false;
    for (std::size_t i = 0; i < Value.size(); ++i) {
        const char c = Value[i];
        if (c != Quote) {
            out.push_back(c);
        } else if (!quoted) {
            quoted = true;
        } else if (i + 1 < Value.size() && Value[i + 1] == Quote) {
            out.push_back(Quote);
            ++i;
        } else {
            quoted = false;
        }
    }
    return out;
}

std::string GetParameter(std::string_view Value, std::string_view Parameter) {
    for (const std::string_view raw : SplitEx(Value, ";", '"')) {
        const std::string_view piece = support::TrimBlank(raw);
        if (!support::StartsWithNoCase(piece, Parameter)) continue;
        const std::string_view after = support::TrimBlank(piece.substr(Parameter.size()));
        if (after.empty()) return {};
        if (after.front() != '=') continue;
        return UnquoteStr(support::TrimBlank(after.substr(1)), '"');
    }
    return {};
}

int IndexByBegin(std::string_view Value, const std::vector<std::string>& List) {
    for (std::size_t i = 0; i < List.size(); ++i)
        if (support::StartsWithNoCase(List[i], Value)) return static_cast<int>(i);
    return -1;
}

int RPosEx(std::string_view Sub, std::string_view Value, int From) {
    if (Sub.empty() || From < 1) return 0;
    const std::size_t last = std::min<std::size_t>(static_cast<std::size_t>(From), Value.size());
    if (last < Sub.size()) return 0;
    const std::size_t p = Value.substr(0, last).rfind(Sub);
    return p == std::string_view::npos ? 0 : static_cast<int>(p) + 1;
}

int RPos(std::string_view Sub, std::string_view Value) {
    return RPosEx(Sub, Value, static_cast<int>(std::min<std::size_t>(Value.size(), INT32_MAX)));
}

std::string ReplaceString(std::string_view Value, std::string_view Search, std::string_view Replace) {
    if (Search.empty()) return std::string(Value);
    std::string out;
    out.reserve(Value.size());
    std::size_t from = 0;
    for (std::size_t p; (p = Value.find(Search, from)) != std::string_view::npos; from = p + Search.size()) {
        out.append(Value.substr(from, p - from));
        out.append(Replace);
    }
    out.append(Value.substr(from));
    return out;
}

int CountOfChar(std::string_view Value, char Chr) {
    return static_cast<int>(std::count(Value.begin(), Value.end(), Chr));
}

int PosCRLF(std::string_view Value, std::string& Terminator) {
    Terminator.clear();
    const std::size_t p = Value.find_first_of("\r\n");
    if (p == std::string_view::npos) return -1;
    Terminator.push_back(Value[p]);
    const char other = Value[p] == '\r' ? '\n' : '\r';
    if (p + 1 < Value.size() && Value[p + 1] == other) Terminator.push_back(other);
    return static_cast<int>(p) + 1;
}

TTextLine NextLine(std::string_view Text, std::size_t From, TLineBreak Rule) {
    const std::size_t n = Text.size();
    From = std::min(From, n);
    std::size_t end = From;
    if (Rule == TLineBreak::CrLf) {
        end = Text.find("\r\n", From);
        if (end == std::string_view::npos) return {Text.substr(From), n, false};
        return {Text.substr(From, end - From), end + 2, true};
    }
    while (end < n && Text[end] != '\r' && Text[end] != '\n') ++end;
    if (end == n) return {Text.substr(From), n, false};
    const std::size_t next = end + (Text[end] == '\r' && end + 1 < n && Text[end + 1] == '\n' ? 2 : 1);
    return {Text.substr(From, end - From), next, true};
}

std::vector<std::string> SplitLines(std::string_view Text, TLineBreak Rule) {
    std::vector<std::string> lines;
    ForEachLine(Text, Rule, [&](std::string_view Line) { lines.emplace_back(Line); });
    return lines;
}

std::string NormalizeHeader(const std::vector<std::string>& Value, int& Index) {
    if (Index < 0 || static_cast<std::size_t>(Index) >= Value.size()) return {};
    std::string result = Value[static_cast<std::size_t>(Index++)];
    if (result.empty()) return result;  // an empty line ends the header block: nothing joins it
    while (static_cast<std::size_t>(Index) + 1 < Value.size()) {
        const std::string& s = Value[static_cast<std::size_t>(Index)];
        if (s.empty()) break;
        if (s[0] == ' ' || s[0] == '\t') {
            // A fold: unfolding removes only the line break (RFC 5322, 2.2.3).
            result += s;
        } else if (s[0] == '"' || s[0] == ':' || s[0] == '=') {
            // Lines some programs continue without white space.
            result += ' ';
            result += support::TrimBlank(s);
        } else {
            break;
        }
        ++Index;
    }
    const std::size_t end = result.find_last_not_of(" \t\r\n");
    result.resize(end == std::string::npos ? 0 : end + 1);
    return result;
}

std::string IntToBin(int Value, int Digits) {
    auto v = static_cast<std::uint32_t>(Value);
    std::string out;
    do {
        out.insert(out.begin(), static_cast<char>('0' + (v & 1)));
        v >>= 1;
    } while (v != 0);
    if (static_cast<int>(out.size()) < Digits)
        out.insert(0, static_cast<std::size_t>(Digits) - out.size(), '0');
    return out;
}

int BinToInt(std::string_view Value) {
    std::uint32_t v = 0;
    for (char c : Value) {
        if (c != '0' && c != '1') break;
        v = (v << 1) | static_cast<std::uint32_t>(c - '0');
    }
    return static_cast<int>(v);
}

}  // namespace tandrel::mime
