#include "mime/MimeParameters.h"

#include "mime/AsciiText.h"
#include "mime/Charsets.h"
#include "mime/Codings.h"
#include "mime/InlineEncoding.h"
#include "mime/TextUtils.h"

#include <map>
#include <optional>

namespace tandrel::mime {
namespace {

struct TSection {
    bool Extended = false;
    std::string_view Value;
};

// The value of a piece "name=value" when its name is Parameter followed by Suffix
// (case-insensitive, blanks around "=" allowed), else nothing.
std::optional<std::string_view> ValueOf(std::string_view Piece, std::string_view Parameter,
                                        std::string_view& Suffix) {
    const auto eq = Piece.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    const std::string_view name = TrimBlank(Piece.substr(0, eq));
    if (!StartsWithNoCase(name, Parameter)) return std::nullopt;
    Suffix = name.substr(Parameter.size());
    return TrimBlank(Piece.substr(eq + 1));
}

// The section number of a suffix "*N" or "*N*"; nothing for any other suffix. Numbers
// have at most three digits: no mail program needs more, and a crafted header must not
// make the reader collect without bound.
std::optional<int> SectionNumber(std::string_view Suffix, bool& Extended) {
    if (Suffix.size() < 2 || Suffix.front() != '*') return std::nullopt;
    Suffix.remove_prefix(1);
    Extended = Suffix.back() == '*';
    if (Extended) Suffix.remove_suffix(1);
    if (Suffix.empty() || Suffix.size() > 3 || (Suffix.size() > 1 && Suffix.front() == '0')) return std::nullopt;
    int n = 0;
    for (char c : Suffix) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

// An extended value's bytes; the first one of a parameter starts with charset'language'.
std::string ExtendedBytes(std::string_view Value, bool First, std::string& Charset) {
    if (Value.size() >= 2 && Value.front() == '"' && Value.back() == '"') Value = Value.substr(1, Value.size() - 2);
    if (First) {
        const auto tick1 = Value.find('\'');
        const auto tick2 = tick1 == std::string_view::npos ? tick1 : Value.find('\'', tick1 + 1);
        if (tick2 != std::string_view::npos) {
            Charset = TrimBlank(Value.substr(0, tick1));
            Value.remove_prefix(tick2 + 1);
        }
    }
    return DecodeTriplet(Value, '%');
}

}  // namespace

std::string GetParameterText(std::string_view Value, std::string_view Parameter) {
    std::optional<std::string_view> whole;  // name*=
    std::map<int, TSection> sections;       // name*0, name*1*, ...
    for (const std::string_view raw : SplitEx(Value, ";", '"')) {
        std::string_view suffix;
        const auto value = ValueOf(TrimBlank(raw), Parameter, suffix);
        if (!value) continue;
        bool extended = false;
        if (suffix == "*") {
            if (!whole) whole = *value;
        } else if (const auto n = SectionNumber(suffix, extended); n) {
            sections.try_emplace(*n, TSection{extended, *value});
        }
    }

    std::string charset, bytes;
    if (whole) {
        bytes = ExtendedBytes(*whole, true, charset);
    } else if (sections.contains(0)) {
        for (int n = 0; sections.contains(n); ++n) {
            const TSection& s = sections.at(n);
            bytes += s.Extended ? ExtendedBytes(s.Value, n == 0, charset) : UnquoteStr(s.Value, '"');
        }
    } else {
        return InlineDecode(GetParameter(Value, Parameter), TMimeChar::UTF_8);
    }
    // Without a charset the value is header text as it stands, like a plain value.
    if (charset.empty()) return InlineDecode(bytes, TMimeChar::UTF_8);
    return CharsetConversion(bytes, GetCPFromID(charset), TMimeChar::UTF_8);
}

}  // namespace tandrel::mime
