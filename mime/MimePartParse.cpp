// Parsing a part: from a line list (DecomposeParts) or from header lines and body
// bytes (DecomposePartsBinary, which reads its lines with NextLine), and
// decoding the header fields and the body.
#include "mime/InlineEncoding.h"
#include "mime/MimeParameters.h"
#include "mime/MimePart.h"
#include "mime/TextUtils.h"
#include "mime/detail/MimePartText.h"
#include "support/AsciiText.h"
#include "support/Codings.h"

#include <algorithm>
#include <optional>

namespace tandrel::mime {

namespace {

// Deepest nesting the parsers follow, whatever MaxSubLevel says: a crafted
// message of nested multiparts must not exhaust the stack.
constexpr int kParseDepthLimit = 64;

using detail::HeaderValueOf;

std::string_view TrimRightBlanks(std::string_view Value) {
    while (!Value.empty() && (Value.back() == ' ' || Value.back() == '\t')) Value.remove_suffix(1);
    return Value;
}

// A file name from another system without its folders: both "/" and "\" separate them
// there (RFC 2183, 2.3: only the last component is used).
std::string LastPathComponent(std::string_view Value) {
    const auto p = Value.find_last_of("/\\");
    return std::string(p == std::string_view::npos ? Value : Value.substr(p + 1));
}

// What a line is to a multipart (RFC 2046, 5.1.1): Delimiter ("--" + boundary) and
// optional white space ends a part; with "--" after the boundary it closes the
// multipart. A line that only begins so (a boundary sharing the prefix) is content.
enum class TDelimiterLine { None, Part, Close };

TDelimiterLine DelimiterLineOf(std::string_view Line, std::string_view Delimiter) {
    if (!Line.starts_with(Delimiter)) return TDelimiterLine::None;
    std::string_view rest = Line.substr(Delimiter.size());
    const bool close = rest.starts_with("--");
    if (close) rest.remove_prefix(2);
    if (!TrimRightBlanks(rest).empty()) return TDelimiterLine::None;
    return close ? TDelimiterLine::Close : TDelimiterLine::Part;
}

}  // namespace

bool TMimePart::IsUUcode(std::string_view Value) {
    if (!support::StartsWithNoCase(Value, "BEGIN ")) return false;
    return !TrimSP(std::string(Value.substr(6))).empty();
}

bool TMimePart::MaySplit() const { return CanSubPart() && FSubLevel < kParseDepthLimit; }

void TMimePart::ReadHeaderBlock(const std::vector<std::string>& Source, std::size_t& Index) {
    int x = static_cast<int>(Index);
    const int n = static_cast<int>(Source.size());
    while (x < n) {
        std::string s = NormalizeHeader(Source, x);
        if (s.empty()) break;
        FHeaders.push_back(std::move(s));
    }
    Index = static_cast<std::size_t>(std::min(x, n));
}

void TMimePart::DecomposeParts() { DecomposeSection(false); }

void TMimePart::DecomposeSection(bool InDigest) {
    Clear();
    FBinaryDecomposer = false;
    std::size_t x = 0;
    ReadHeaderBlock(FLines, x);
    DecodeSectionHeader(InDigest);

    if (FPrimaryCode == TMimePrimary::MP_MULTIPART)
        DecomposeMultipart(x);
    else if (FPrimaryCode == TMimePrimary::MP_MESSAGE)
        DecomposeMessage(x);
    else
        AppendBodyFrom(x);
}

void TMimePart::AppendBodyFrom(std::size_t Index) {
    for (std::size_t x = Index; x < FLines.size(); ++x) FBody.AppendLine(FLines[x]);
}

void TMimePart::DecomposeMultipart(std::size_t Index) {
    const std::string delimiter = "--" + FBoundary;
    const std::size_t n = FLines.size();
    std::size_t x = Index;
    bool closed = false;
    while (x < n) {
        const std::string& s = FLines[x++];
        const TDelimiterLine kind = DelimiterLineOf(s, delimiter);
        if (kind == TDelimiterLine::Part) break;
        // A close delimiter before any part closes a multipart without parts.
        if (kind == TDelimiterLine::Close) {
            closed = true;
            break;
        }
        FPrePart.push_back(s);
    }
    while (x < n && !closed) {
        std::vector<std::string> section;
        while (x < n) {
            const std::string& s = FLines[x++];
            const TDelimiterLine kind = DelimiterLineOf(s, delimiter);
            if (kind != TDelimiterLine::None) {
                closed = kind == TDelimiterLine::Close;
                break;
            }
            section.push_back(s);
        }
        if (MaySplit()) {
            TMimePart& sub = AddSubPart();
            sub.FLines = std::move(section);
            sub.DecomposeSection(IsDigest());
        } else {
            FBody.AppendLines(section);
        }
    }
    FPostPart.assign(FLines.begin() + static_cast<std::ptrdiff_t>(x), FLines.end());
}

void TMimePart::DecomposeMessage(std::size_t Index) {
    // The content starts right after the part's own header: an empty line there is
    // the end of an empty header section (RFC 5322, 3.5), and the body follows it.
    if (Index >= FLines.size()) return;
    if (!MaySplit()) {
        AppendBodyFrom(Index);
    } else if (IsDeliveryStatus()) {
        DecomposeFieldGroups(Index);
    } else {
        TMimePart& sub = AddSubPart();
        sub.FLines.assign(FLines.begin() + static_cast<std::ptrdiff_t>(Index), FLines.end());
        sub.DecomposeParts();
    }
}

void TMimePart::DecomposeFieldGroups(std::size_t Index) {
    const std::size_t n = FLines.size();
    std::size_t x = Index;
    while (x < n) {
        if (FLines[x].empty()) {
            ++x;
            continue;
        }
        std::vector<std::string> group;
        while (x < n && !FLines[x].empty()) group.push_back(FLines[x++]);
        // The empty line that ends a header block, so that a folded last field joins its line.
        group.emplace_back();
        TMimePart& sub = AddSubPart();
        sub.FLines = std::move(group);
        sub.DecomposeParts();
    }
}

bool TMimePart::IsDeliveryStatus() const {
    if (FPrimaryCode != TMimePrimary::MP_MESSAGE) return false;
    const std::string subtype = support::LowerAscii(FSecondary);
    return subtype == "delivery-status" || subtype == "global-delivery-status";
}

namespace {

bool HoldsUUcode(std::string_view Body) {
    for (std::size_t p = 0; p < Body.size();) {
        const TTextLine l = NextLine(Body, p, TLineBreak::Any);
        if (TMimePart::IsUUcode(l.Line)) return true;
        p = l.Next;
    }
    return false;
}

// Header lines of a raw section, up to its first empty line; Body moves past it.
std::vector<std::string> RawHeaderLines(std::string_view& Body) {
    std::vector<std::string> lines;
    while (!Body.empty()) {
        const TTextLine l = NextLine(Body, 0, TLineBreak::Any);
        Body.remove_prefix(l.Next);
        if (l.Line.empty()) break;
        lines.emplace_back(l.Line);
    }
    return lines;
}

// Where the section from From ends (before the line break that belongs to the
// next delimiter line), what that line is, and where the text after it begins.
struct TSectionEnd {
    std::size_t End;
    TDelimiterLine Kind;
    std::size_t Next;
};

TSectionEnd NextDelimiterLine(std::string_view Body, std::size_t From, std::string_view Delimiter) {
    for (std::size_t p = From; p < Body.size();) {
        const TTextLine l = NextLine(Body, p, TLineBreak::Any);
        const TDelimiterLine kind = DelimiterLineOf(l.Line, Delimiter);
        if (kind != TDelimiterLine::None) {
            std::size_t end = p;
            if (end > From && Body[end - 1] == '\n') --end;
            if (end > From && Body[end - 1] == '\r') --end;
            return {end, kind, l.Next};
        }
        p = l.Next;
    }
    return {Body.size(), TDelimiterLine::None, Body.size()};
}

}  // namespace

void TMimePart::DecomposePartsBinary(const std::vector<std::string>& AHeader, const char* AStx,
                                     const char* AEtx) {
    const bool valid = AStx != nullptr && AEtx != nullptr && AEtx >= AStx;
    DecomposeBinarySection(
        AHeader, valid ? std::string_view(AStx, static_cast<std::size_t>(AEtx - AStx)) : std::string_view(),
        false);
}

void TMimePart::DecomposeBinarySection(const std::vector<std::string>& AHeader, std::string_view Body,
                                       bool InDigest) {
    Clear();
    FBinaryDecomposer = true;
    std::size_t x = 0;
    ReadHeaderBlock(detail::WithHeaderEnd(AHeader), x);
    DecodeSectionHeader(InDigest);

    if (FPrimaryCode == TMimePrimary::MP_MULTIPART) {
        DecomposeMultipartBinary(Body);
    } else if (FPrimaryCode == TMimePrimary::MP_MESSAGE) {
        DecomposeMessageBinary(Body);
    } else {
        FBody.AppendLine(Body);
        FAttachInside = HoldsUUcode(Body);
    }
}

void TMimePart::DecomposeMultipartBinary(std::string_view Body) {
    const std::string delimiter = "--" + FBoundary;
    const TSectionEnd first = NextDelimiterLine(Body, 0, delimiter);
    const std::string_view prePart = Body.substr(0, first.End);
    if (!prePart.empty()) FPrePart.emplace_back(prePart);
    FAttachInside = HoldsUUcode(prePart);
    if (first.Kind == TDelimiterLine::None) return;

    std::size_t p = first.Next;
    // A close delimiter before any part closes a multipart without parts.
    bool closed = first.Kind == TDelimiterLine::Close;
    while (p < Body.size() && !closed) {
        const TSectionEnd end = NextDelimiterLine(Body, p, delimiter);
        const std::string_view section = Body.substr(p, end.End - p);
        closed = end.Kind == TDelimiterLine::Close;
        p = end.Next;
        if (MaySplit()) {
            std::string_view body = section;
            const std::vector<std::string> header = RawHeaderLines(body);
            AddSubPart().DecomposeBinarySection(header, body, IsDigest());
        } else {
            FBody.AppendLine(section);
            FAttachInside = FAttachInside || HoldsUUcode(section);
        }
    }
    if (p < Body.size()) {
        FPostPart.emplace_back(Body.substr(p));
        FAttachInside = FAttachInside || HoldsUUcode(Body.substr(p));
    }
}

void TMimePart::DecomposeMessageBinary(std::string_view Body) {
    // As on the line road: an empty first line ends an empty header section.
    if (Body.empty()) return;
    if (!MaySplit()) {
        FBody.AppendLine(Body);
    } else if (IsDeliveryStatus()) {
        DecomposeFieldGroupsBinary(Body);
    } else {
        std::string_view body = Body;
        const std::vector<std::string> header = RawHeaderLines(body);
        AddSubPart().DecomposeBinarySection(header, body, false);
    }
}

void TMimePart::DecomposeFieldGroupsBinary(std::string_view Body) {
    while (!Body.empty()) {
        const TTextLine l = NextLine(Body, 0, TLineBreak::Any);
        if (l.Line.empty()) {
            Body.remove_prefix(l.Next);
            continue;
        }
        const std::vector<std::string> group = RawHeaderLines(Body);
        AddSubPart().DecomposeBinarySection(group, {}, false);
    }
}

bool TMimePart::IsDigest() const {
    return FPrimaryCode == TMimePrimary::MP_MULTIPART && support::UpperAscii(FSecondary) == "DIGEST";
}

void TMimePart::DecodeSectionHeader(bool InDigest) {
    DecodePartHeader();
    // In a digest a part without a type is a message (RFC 2046, 5.1.5).
    if (InDigest && IndexByBegin("CONTENT-TYPE:", FHeaders) < 0) {
        SetPrimary("message");
        FSecondary = "rfc822";
    }
}

void TMimePart::DecodePartHeader() {
    SetPrimary("text");
    FSecondary = "plain";
    FCharset.clear();
    SetCharset(FDefaultCharset);
    SetEncoding("8BIT");
    FDescription.clear();
    FDisposition.clear();
    FContentID.clear();
    FFileName.clear();
    FBoundary.clear();

    std::optional<std::string> contentType, disposition;  // the last of each counts
    for (const std::string& line : FHeaders) {
        if (support::StartsWithNoCase(line, "CONTENT-TYPE:")) {
            contentType = HeaderValueOf(line);
        } else if (support::StartsWithNoCase(line, "CONTENT-TRANSFER-ENCODING:")) {
            SetEncoding(HeaderValueOf(line));
        } else if (support::StartsWithNoCase(line, "CONTENT-DESCRIPTION:")) {
            FDescription = InlineDecode(HeaderValueOf(line), TMimeChar::UTF_8);
        } else if (support::StartsWithNoCase(line, "CONTENT-DISPOSITION:")) {
            disposition = HeaderValueOf(line);
        } else if (support::StartsWithNoCase(line, "CONTENT-ID:")) {
            FContentID = HeaderValueOf(line);
        }
    }
    const std::string typeName = contentType ? DecodeContentType(*contentType) : std::string();
    const std::string dispositionName = disposition ? DecodeContentDisposition(*disposition) : std::string();
    const std::string& name = dispositionName.empty() ? typeName : dispositionName;
    if (!name.empty()) FFileName = LastPathComponent(name);
}

std::string TMimePart::DecodeContentType(std::string_view Value) {
    // RFC 2045 (5.2) reads a field that breaks the grammar as no field at all: text/plain.
    const std::optional<TMimeParameters> parsed = ParseMimeParameters(Value);
    if (!parsed || !parsed->HasSubtype) return {};
    SetPrimary(parsed->Type);
    FSecondary = parsed->Subtype;
    switch (FPrimaryCode) {
        case TMimePrimary::MP_TEXT:
            SetCharset(support::UpperAscii(ParameterBytes(*parsed, "charset")));
            return ParameterText(*parsed, "name");
        case TMimePrimary::MP_MULTIPART:
            FBoundary = ParameterBytes(*parsed, "boundary");
            // Without a boundary it cannot be split: it reads as text/plain.
            if (FBoundary.empty()) {
                SetPrimary("text");
                FSecondary = "plain";
            }
            return {};
        case TMimePrimary::MP_BINARY: return ParameterText(*parsed, "name");
        case TMimePrimary::MP_MESSAGE: return {};
    }
    return {};
}

std::string TMimePart::DecodeContentDisposition(std::string_view Value) {
    // A field that breaks the grammar names neither a disposition nor a file name.
    const std::optional<TMimeParameters> parsed = ParseMimeParameters(Value);
    if (!parsed || parsed->HasSubtype) return {};
    FDisposition = parsed->Type;
    return ParameterText(*parsed, "filename");
}

std::string TMimePart::FindHeader(std::string_view Name) const {
    for (const std::string& line : FHeaders) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string_view name = support::TrimBlank(std::string_view(line).substr(0, colon));
        if (name.size() == Name.size() && support::StartsWithNoCase(name, Name)) return HeaderValueOf(line);
    }
    return {};
}

std::string TMimePart::JoinedBody() const {
    // The byte parser keeps each body as one entry with its own line breaks.
    if (!FBinaryDecomposer) return FBody.Joined();
    std::vector<std::string> lines = FBody.Lines();
    return lines.empty() ? std::string() : std::move(lines.front());
}

bool TMimePart::KeepsOwnCharset() const {
    if (FForcedHTMLConvert || support::UpperAscii(FSecondary) != "HTML") return false;
    const std::string text = support::UpperAscii(FDecodedLines);
    std::string_view head(text);
    const auto open = text.find("<HEAD>");
    const auto close = text.find("</HEAD>");
    if (open != std::string::npos && close != std::string::npos && close > open)
        head = head.substr(open + 6, close - open - 6);
    else
        head = head.substr(0, std::min<std::size_t>(head.size(), 2048));
    std::string squeezed;
    squeezed.reserve(head.size());
    for (char c : head)
        if (c != '"' && c != ' ') squeezed.push_back(c);
    return squeezed.find("HTTP-EQUIV=CONTENT-TYPE") != std::string::npos;
}

void TMimePart::DecodePart() {
    FDecodedLines.clear();
    switch (FEncodingCode) {
        case TMimeEncoding::ME_QUOTED_PRINTABLE:
            FDecodedLines = support::DecodeQuotedPrintable(JoinedBody());
            break;
        case TMimeEncoding::ME_BASE64: FDecodedLines = support::DecodeBase64(JoinedBody()); break;
        case TMimeEncoding::ME_UU:
        case TMimeEncoding::ME_XX: {
            const bool uu = FEncodingCode == TMimeEncoding::ME_UU;
            const auto decodeLine = [&](std::string_view L) {
                FDecodedLines += uu ? support::DecodeUU(L) : support::DecodeXX(L);
            };
            if (FBinaryDecomposer)
                ForEachLine(JoinedBody(), TLineBreak::Any, decodeLine);
            else
                for (const auto& l : FBody.Lines()) decodeLine(l);
            break;
        }
        case TMimeEncoding::ME_7BIT:
        case TMimeEncoding::ME_8BIT: FDecodedLines = JoinedBody(); break;
    }

    if (FPrimaryCode != TMimePrimary::MP_TEXT || !FConvertCharset || KeepsOwnCharset()) return;
    // The byte order mark written when composing is no character of the text.
    const std::string bom = GetBOM(FCharsetCode);
    std::string_view content(FDecodedLines);
    if (!bom.empty() && content.starts_with(bom)) content.remove_prefix(bom.size());
    FDecodedLines = CharsetConversion(std::string(content), FCharsetCode, FTargetCharset);
}

}  // namespace tandrel::mime
