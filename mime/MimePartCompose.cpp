// Composing a part: its body encoded, its header lines, and the tree flattened into
// the finished entity.
#include "mime/InlineEncoding.h"
#include "mime/MimePart.h"
#include "mime/MimeTypes.h"
#include "mime/TextUtils.h"
#include "support/AsciiText.h"
#include "support/Codings.h"

#include <algorithm>

namespace tandrel::mime {

namespace {

// A file name or parameter value in double quotes, inner quotes doubled.
std::string QuoteDoubled(std::string_view Value) {
    std::string out;
    out.reserve(Value.size() + 2);
    out.push_back('"');
    for (char c : Value) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

}  // namespace

int TMimePart::LineLimit() const {
    // A limit below 1 would never let the splitting loops advance.
    return std::max(FMaxLineLength, 1);
}

void TMimePart::EncodePart() {
    if (FEncodingCode == TMimeEncoding::ME_UU || FEncodingCode == TMimeEncoding::ME_XX) SetEncoding("base64");
    FBody.Clear();

    if (FPrimaryCode == TMimePrimary::MP_MULTIPART || FPrimaryCode == TMimePrimary::MP_MESSAGE) {
        ForEachLine(FDecodedLines, TLineBreak::Any, [&](std::string_view Line) { FBody.AppendLine(Line); });
        return;
    }

    const bool convert =
        FConvertCharset && FPrimaryCode == TMimePrimary::MP_TEXT && FEncodingCode != TMimeEncoding::ME_7BIT;
    // A converted text begins with the byte order mark of its charset.
    std::string mark;
    std::string converted;
    if (convert) {
        mark = GetBOM(FCharsetCode);
        converted = CharsetConversion(FDecodedLines, FTargetCharset, FCharsetCode);
    }
    const std::string_view content = convert ? std::string_view(converted) : std::string_view(FDecodedLines);

    if (FEncodingCode == TMimeEncoding::ME_BASE64) {
        // 54 bytes a line: full lines of 72 characters.
        if (!mark.empty() || !content.empty())
            FBody.AppendBlock(
                std::make_shared<const std::string>(support::EncodeBase64Lines(mark, content, 54)));
        return;
    }
    if (!mark.empty()) converted.insert(0, mark);
    const std::string_view bytes = convert ? std::string_view(converted) : std::string_view(FDecodedLines);

    const bool binary = FPrimaryCode == TMimePrimary::MP_BINARY;
    const auto addSource = [&](std::string_view Line) {
        if (FEncodingCode == TMimeEncoding::ME_QUOTED_PRINTABLE)
            EncodeQuotedPrintableLine(Line, binary);  // binary content has no final line break
        else
            FBody.AppendLine(Line);
    };
    // Quoted-printable text grows by its escapes and soft breaks: an eighth is room
    // enough for mostly Latin text, and more only grows the buffer once.
    FBody.Reserve(bytes.size() + bytes.size() / 8);
    if (binary)
        addSource(bytes);  // line-break bytes stay inside the one entry
    else
        ForEachLine(bytes, TLineBreak::Any, addSource);
    // Composing shares the encoded body instead of copying it.
    FBody.Seal();
}

void TMimePart::EncodeQuotedPrintableLine(std::string_view Line, bool SoftEnd) {
    const std::string encoded = support::EncodeQuotedPrintable(Line);
    const auto limit = static_cast<std::size_t>(LineLimit());
    std::string_view rest(encoded);
    while (true) {
        if (rest.size() < limit) {
            FBody.AppendLine(SoftEnd ? std::string(rest) + '=' : std::string(rest));
            return;
        }
        const std::string_view window = rest.substr(0, limit);
        const auto eq = window.rfind('=');
        const auto sp = window.rfind(' ');
        std::size_t cut;
        if (eq == std::string_view::npos && sp == std::string_view::npos)
            cut = limit;
        else if (sp == std::string_view::npos || (eq != std::string_view::npos && eq > sp))
            cut = eq;
        else
            cut = sp;
        if (cut == 0) cut = limit;
        std::string piece(rest.substr(0, cut));
        rest.remove_prefix(cut);
        if (rest.empty() && !SoftEnd) {
            FBody.AppendLine(piece);
            return;
        }
        piece += '=';
        FBody.AppendLine(piece);
        if (rest.empty()) return;
    }
}

void TMimePart::EncodePartHeader() {
    FHeaders.clear();
    if (FSecondary.empty()) {
        switch (FPrimaryCode) {
            case TMimePrimary::MP_TEXT: FSecondary = "plain"; break;
            case TMimePrimary::MP_MULTIPART: FSecondary = "mixed"; break;
            case TMimePrimary::MP_MESSAGE: FSecondary = "rfc822"; break;
            case TMimePrimary::MP_BINARY: FSecondary = "octet-stream"; break;
        }
    }
    const std::string quotedName = FFileName.empty() ? std::string() : QuoteDoubled(InlineCode(FFileName));

    std::string type = "Content-type: " + FPrimary + "/" + FSecondary;
    switch (FPrimaryCode) {
        case TMimePrimary::MP_TEXT: type += "; charset=" + GetIDFromCP(FCharsetCode); break;
        case TMimePrimary::MP_MULTIPART: type += "; boundary=\"" + FBoundary + "\""; break;
        case TMimePrimary::MP_MESSAGE:
        case TMimePrimary::MP_BINARY: break;
    }
    if (!quotedName.empty()) type += "; name=" + quotedName;
    FHeaders.push_back(std::move(type));

    if (FPrimaryCode == TMimePrimary::MP_TEXT || FPrimaryCode == TMimePrimary::MP_BINARY) {
        const char* name = "7bit";
        switch (FEncodingCode) {
            case TMimeEncoding::ME_7BIT: name = "7bit"; break;
            case TMimeEncoding::ME_8BIT: name = "8bit"; break;
            case TMimeEncoding::ME_QUOTED_PRINTABLE: name = "Quoted-printable"; break;
            case TMimeEncoding::ME_BASE64:
            case TMimeEncoding::ME_UU:
            case TMimeEncoding::ME_XX: name = "Base64"; break;
        }
        FHeaders.push_back(std::string("Content-Transfer-Encoding: ") + name);
    }
    if (!FContentID.empty()) FHeaders.push_back("Content-ID: " + FContentID);
    if (!FDisposition.empty()) {
        std::string line = "Content-Disposition: " + support::LowerAscii(FDisposition);
        if (!quotedName.empty()) line += "; FileName=" + quotedName;
        FHeaders.push_back(std::move(line));
    }
    if (!FDescription.empty())
        FHeaders.push_back(
            InlineCodeField("Content-Description", FDescription, FTargetCharset, FCharsetCode));
    // The fields are the caller's: a CR or LF in any of them would end the line and start
    // another. Encoded texts carry them as escapes already.
    for (std::string& line : FHeaders) line = support::WithoutLineBreaks(std::move(line));
}

void TMimePart::FoldHeaderLine(const std::string& Line, TMessageBytes& Out) const {
    const auto limit = static_cast<std::size_t>(LineLimit());
    std::string_view rest(Line);
    // Start (0-based) of the last occurrence of Sub that ends within the first
    // `limit` characters, or npos.
    const auto lastEndingWithin = [&](std::string_view Sub) {
        if (rest.size() < Sub.size() || limit < Sub.size()) return std::string_view::npos;
        return rest.rfind(Sub, std::min(limit, rest.size()) - Sub.size());
    };
    while (rest.size() >= limit) {
        const auto d1 = lastEndingWithin("; ");
        const auto d2 = lastEndingWithin(" ");
        const auto d3 = lastEndingWithin(", ");
        const auto beyondFirst = [](std::size_t D) { return D != std::string_view::npos && D > 0; };
        std::size_t cut;
        if (!beyondFirst(d1) && !beyondFirst(d2) && !beyondFirst(d3)) {
            const auto space = rest.find(' ', 1);
            if (space == std::string_view::npos) break;
            cut = space;
        } else if (d1 != std::string_view::npos) {
            cut = d1 + 1;
        } else if (d3 != std::string_view::npos) {
            cut = d3 + 1;
        } else {
            cut = d2;
        }
        Out.AppendLine(rest.substr(0, cut));
        rest.remove_prefix(cut);
    }
    if (!rest.empty() || Line.empty()) Out.AppendLine(rest);
}

void TMimePart::ComposeParts(TMessageBytes& Out) {
    for (const auto& h : FHeaders) FoldHeaderLine(h, Out);
    Out.AppendLine({});

    if (FPrimaryCode == TMimePrimary::MP_MULTIPART) {
        Out.AppendLines(FPrePart);
        const std::string delimiter = "--" + FBoundary;
        for (auto& sub : FSubParts) {
            Out.AppendLine(delimiter);
            sub->FLines.clear();
            sub->ComposeParts(Out);
        }
        Out.AppendLine(delimiter + "--");
        Out.AppendLines(FPostPart);
    }

    if (FPrimaryCode != TMimePrimary::MP_MESSAGE) {
        Out.Append(FBody);
    } else {
        // A delivery status is its field groups, each ended by an empty line.
        const std::size_t count =
            IsDeliveryStatus() ? FSubParts.size() : std::min<std::size_t>(FSubParts.size(), 1);
        for (std::size_t i = 0; i < count; ++i) {
            FSubParts[i]->FLines.clear();
            FSubParts[i]->ComposeParts(Out);
        }
    }
}

void TMimePart::ComposeParts() {
    // The whole tree is written straight into this part's Lines: sub-parts keep
    // no copy of their own.
    TMessageBytes bytes;
    ComposeParts(bytes);
    FLines = bytes.Lines();
}

void TMimePart::MimeTypeFromExt(std::string_view Value) {
    SetPrimary("");
    FSecondary.clear();

    const auto sep = Value.find_last_of("\\:/");
    const auto dot = Value.rfind('.');
    std::string ext;
    if (dot != std::string_view::npos && (sep == std::string_view::npos || dot > sep))
        ext = support::UpperAscii(Value.substr(dot));
    else
        ext = support::UpperAscii(Value);
    const auto firstDot = ext.find('.');
    if (firstDot != std::string::npos) ext.erase(0, firstDot + 1);

    if (const TMimeTypeRow* row = FindMimeType(ext)) {
        SetPrimary(row->Type);
        FSecondary = row->Subtype;
        return;
    }
    SetPrimary("application");
    FSecondary = "octet-stream";
}

std::string TMimePart::InlineCode(std::string_view Value) const {
    return InlineCodeEx2(std::string(Value), FTargetCharset, FCharsetCode);
}

}  // namespace tandrel::mime
