#include "mime/MimeParameters.h"

#include "mime/Charsets.h"
#include "mime/InlineEncoding.h"
#include "mime/detail/QuotedString.h"
#include "support/AsciiText.h"
#include "support/Codings.h"

#include <map>

namespace tandrel::mime {
namespace {

bool IsTokenChar(char C) {
    const auto b = static_cast<unsigned char>(C);
    return b > 0x20 && b < 0x7F && std::string_view("()<>@,;:\\\"/[]?=").find(C) == std::string_view::npos;
}

// A character of an unquoted value: a token's, 8-bit bytes, and the specials that
// mail programs leave unquoted; never white space, a control, a quote, ";" or a comment.
bool IsUnquotedValueChar(char C) {
    const auto b = static_cast<unsigned char>(C);
    return IsTokenChar(C) || b >= 0x80 || std::string_view("=/?@:,<>[]\\").find(C) != std::string_view::npos;
}

bool IsFoldingSpace(char C) { return C == ' ' || C == '\t' || C == '\r' || C == '\n'; }

// Reads a header value word by word.
class TValueReader {
public:
    explicit TValueReader(std::string_view Value) : FValue(Value) {}

    bool AtEnd() const { return FPos >= FValue.size(); }
    char Peek() const { return FValue[FPos]; }
    void Skip() { ++FPos; }

    // Skips white space and (nested) comments; false on a comment never closed.
    [[nodiscard]] bool SkipBlanks() {
        while (!AtEnd()) {
            if (IsFoldingSpace(Peek())) {
                ++FPos;
            } else if (Peek() == '(') {
                if (!SkipComment()) return false;
            } else {
                break;
            }
        }
        return true;
    }

    std::string_view Run(bool (*Accepts)(char)) {
        const std::size_t start = FPos;
        while (!AtEnd() && Accepts(Peek())) ++FPos;
        return FValue.substr(start, FPos - start);
    }

    // The quoted string at the reader, unescaped; nothing when it is never closed.
    std::optional<std::string> QuotedString() {
        const std::size_t close = detail::QuotedStringEnd(FValue, FPos);
        if (close == std::string_view::npos) return std::nullopt;
        std::string text = detail::UnescapedQuotedText(FValue.substr(FPos + 1, close - FPos - 1));
        FPos = close + 1;
        return text;
    }

private:
    bool SkipComment() {
        std::size_t depth = 0;
        while (!AtEnd()) {
            const char c = FValue[FPos++];
            if (c == '\\') {
                ++FPos;
            } else if (c == '(') {
                ++depth;
            } else if (c == ')' && --depth == 0) {
                return true;
            }
        }
        return false;
    }

    std::string_view FValue;
    std::size_t FPos = 0;
};

// The value after "name =": a quoted string or an unquoted run.
std::optional<std::string> ReadParameterValue(TValueReader& Reader) {
    if (!Reader.AtEnd() && Reader.Peek() == '"') return Reader.QuotedString();
    const std::string_view run = Reader.Run(IsUnquotedValueChar);
    if (run.empty()) return std::nullopt;
    return std::string(run);
}

// The section number of a suffix "*N" or "*N*"; nothing for any other suffix. Numbers
// have at most three digits: no mail program needs more, and a crafted header must not
// make the reader collect without bound.
std::optional<int> SectionNumber(std::string_view Suffix, bool& Extended) {
    if (Suffix.size() < 2 || Suffix.front() != '*') return std::nullopt;
    Suffix.remove_prefix(1);
    Extended = Suffix.back() == '*';
    if (Extended) Suffix.remove_suffix(1);
    if (Suffix.empty() || Suffix.size() > 3 || (Suffix.size() > 1 && Suffix.front() == '0'))
        return std::nullopt;
    int n = 0;
    for (char c : Suffix) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

// An extended value's bytes; the first one of a parameter starts with charset'language'.
std::string ExtendedBytes(std::string_view Value, bool First, std::string& Charset) {
    if (First) {
        const auto tick1 = Value.find('\'');
        const auto tick2 = tick1 == std::string_view::npos ? tick1 : Value.find('\'', tick1 + 1);
        if (tick2 != std::string_view::npos) {
            Charset = support::TrimBlank(Value.substr(0, tick1));
            Value.remove_prefix(tick2 + 1);
        }
    }
    return support::DecodeTriplet(Value, '%');
}

// A parameter's value as found: in RFC 2231 form (with its charset, when it names one)
// or plain.
struct TFoundValue {
    bool Found = false;
    bool Rfc2231 = false;
    std::string Charset;
    std::string Bytes;
};

TFoundValue FindParameter(const TMimeParameters& Value, std::string_view Name) {
    struct TSection {
        bool Extended = false;
        const std::string* Value = nullptr;
    };
    const std::string* plain = nullptr;
    const std::string* whole = nullptr;  // Name*=
    std::map<int, TSection> sections;    // Name*0, Name*1*, ...
    for (const TMimeParameter& p : Value.Items) {
        if (!support::StartsWithNoCase(p.Name, Name)) continue;
        const std::string_view suffix = std::string_view(p.Name).substr(Name.size());
        bool extended = false;
        if (suffix.empty()) {
            if (!plain) plain = &p.Value;
        } else if (suffix == "*") {
            if (!whole) whole = &p.Value;
        } else if (const auto n = SectionNumber(suffix, extended); n) {
            sections.try_emplace(*n, TSection{extended, &p.Value});
        }
    }

    TFoundValue found;
    if (whole) {
        found.Bytes = ExtendedBytes(*whole, true, found.Charset);
    } else if (sections.contains(0)) {
        for (int n = 0; sections.contains(n); ++n) {
            const TSection& s = sections.at(n);
            found.Bytes += s.Extended ? ExtendedBytes(*s.Value, n == 0, found.Charset) : *s.Value;
        }
    } else if (plain) {
        found.Bytes = *plain;
    } else {
        return found;
    }
    found.Found = true;
    found.Rfc2231 = whole != nullptr || sections.contains(0);
    return found;
}

}  // namespace

std::optional<TMimeParameters> ParseMimeParameters(std::string_view Value) {
    TValueReader reader(Value);
    TMimeParameters out;
    if (!reader.SkipBlanks()) return std::nullopt;
    out.Type = reader.Run(IsTokenChar);
    if (out.Type.empty() || !reader.SkipBlanks()) return std::nullopt;
    if (!reader.AtEnd() && reader.Peek() == '/') {
        reader.Skip();
        if (!reader.SkipBlanks()) return std::nullopt;
        out.Subtype = reader.Run(IsTokenChar);
        out.HasSubtype = true;
        if (out.Subtype.empty() || !reader.SkipBlanks()) return std::nullopt;
    }
    while (!reader.AtEnd()) {
        if (reader.Peek() != ';') return std::nullopt;
        reader.Skip();
        if (!reader.SkipBlanks()) return std::nullopt;
        if (reader.AtEnd() || reader.Peek() == ';') continue;
        TMimeParameter parameter;
        parameter.Name = reader.Run(IsTokenChar);
        if (parameter.Name.empty() || !reader.SkipBlanks()) return std::nullopt;
        if (reader.AtEnd() || reader.Peek() != '=') return std::nullopt;
        reader.Skip();
        if (!reader.SkipBlanks()) return std::nullopt;
        std::optional<std::string> value = ReadParameterValue(reader);
        if (!value || !reader.SkipBlanks()) return std::nullopt;
        parameter.Value = std::move(*value);
        out.Items.push_back(std::move(parameter));
    }
    return out;
}

std::string ParameterBytes(const TMimeParameters& Value, std::string_view Name) {
    return FindParameter(Value, Name).Bytes;
}

std::string ParameterText(const TMimeParameters& Value, std::string_view Name) {
    const TFoundValue found = FindParameter(Value, Name);
    // Without a charset the value is header text as it stands, like a plain value.
    if (!found.Rfc2231 || found.Charset.empty()) return InlineDecode(found.Bytes, TMimeChar::UTF_8);
    return CharsetConversion(found.Bytes, GetCPFromID(found.Charset), TMimeChar::UTF_8);
}

std::string GetParameterText(std::string_view Value, std::string_view Parameter) {
    const auto parsed = ParseMimeParameters(Value);
    return parsed ? ParameterText(*parsed, Parameter) : std::string();
}

}  // namespace tandrel::mime
