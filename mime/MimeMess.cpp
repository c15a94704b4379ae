#include "mime/MimeMess.h"

#include "mime/TextUtils.h"
#include "mime/detail/MimePartText.h"
#include "support/AsciiText.h"
#include "support/FileBytes.h"
#include "support/SystemCodePage.h"

#include <array>
#include <utility>

namespace tandrel::mime {

namespace {

// Bytes split into lines, each line ended by CR LF again.
std::string WithCrLfLines(std::string_view Bytes) {
    std::string out;
    out.reserve(Bytes.size() + Bytes.size() / 32 + 2);
    ForEachLine(Bytes, TLineBreak::Any, [&](std::string_view Line) {
        out.append(Line);
        out += "\r\n";
    });
    return out;
}

// The file's own name: on this system only "/" separates folders, so a "\" or ":"
// is part of the name.
std::string_view WithoutDirectory(std::string_view FileName) {
    const auto p = FileName.rfind('/');
    return p == std::string_view::npos ? FileName : FileName.substr(p + 1);
}

std::unique_ptr<TMessHeader> MakeHeader(const TMessHeaderClass& HeadClass) {
    std::unique_ptr<TMessHeader> header = HeadClass ? HeadClass() : nullptr;
    return header ? std::move(header) : std::make_unique<TMessHeader>();
}

}  // namespace

TMimeMess::TMimeMess() : TMimeMess(TMessHeaderClass{}) {}

TMimeMess::TMimeMess(const TMessHeaderClass& HeadClass)
    : FMessagePart(std::make_unique<TMimePart>()), FHeader(MakeHeader(HeadClass)) {}

TMimeMess::~TMimeMess() = default;

std::unique_ptr<TMimeMess> TMimeMess::CreateAltHeaders(const TMessHeaderClass& HeadClass) {
    return std::make_unique<TMimeMess>(HeadClass);
}

void TMimeMess::Clear() {
    FMessagePart->Clear();
    FBytes.Clear();
    FHeader->Clear();
}

void TMimeMess::SetLines(const std::vector<std::string>& Value) {
    FBytes.Clear();
    FBytes.AppendLines(Value);
}

TMimePart& TMimeMess::AddPart(TMimePart* PartParent) {
    TMimePart& part = PartParent ? PartParent->AddSubPart() : *FMessagePart;
    part.Clear();
    return part;
}

TMimePart& TMimeMess::AddPartMultipart(std::string_view MultipartType, TMimePart* PartParent) {
    TMimePart& part = AddPart(PartParent);
    part.SetPrimary("Multipart");
    part.SetSecondary(MultipartType);
    part.SetDescription("Multipart message");
    part.SetBoundary(GenerateBoundary());
    part.EncodePartHeader();
    return part;
}

TMimePart& TMimeMess::AddTextBytes(std::string Bytes, TMimePart* PartParent, std::string_view Secondary,
                                   std::string_view Description, TMimeChar Charset, bool Convert,
                                   TMimeEncoding Encoding) {
    TMimePart& part = AddPart(PartParent);
    part.DecodedLines() = std::move(Bytes);
    part.SetPrimary("text");
    part.SetSecondary(Secondary);
    part.SetDescription(Description);
    part.SetDisposition("inline");
    part.SetCharsetCode(Charset);
    part.SetEncodingCode(Encoding);
    part.SetConvertCharset(Convert);
    part.EncodePart();
    part.EncodePartHeader();
    return part;
}

TMimePart& TMimeMess::AddPartText(const std::vector<std::string>& Value, TMimePart* PartParent) {
    std::string bytes = support::AnsiLinesFromText(Value);
    const TMimeChar charset = IdealCharsetCoding(bytes, GetCurCP(), IdealCharsets);
    return AddTextBytes(std::move(bytes), PartParent, "plain", "Message text", charset, true,
                        TMimeEncoding::ME_QUOTED_PRINTABLE);
}

TMimePart& TMimeMess::AddPartTextEx(const std::vector<std::string>& Value, TMimePart* PartParent,
                                    TMimeChar PartCharset, bool Raw, TMimeEncoding PartEncoding) {
    return AddTextBytes(support::AnsiLinesFromText(Value), PartParent, "plain", "Message text", PartCharset,
                        !Raw, PartEncoding);
}

TMimePart& TMimeMess::AddPartHTML(const std::vector<std::string>& Value, TMimePart* PartParent) {
    return AddTextBytes(support::AnsiLinesFromText(Value), PartParent, "html", "HTML text", TMimeChar::UTF_8,
                        true, TMimeEncoding::ME_QUOTED_PRINTABLE);
}

TMimePart& TMimeMess::AddPartTextFromFile(const std::string& FileName, TMimePart* PartParent) {
    std::string bytes = WithCrLfLines(support::ReadFileBytes(FileName));
    const TMimeChar charset = IdealCharsetCoding(bytes, GetCurCP(), IdealCharsets);
    return AddTextBytes(std::move(bytes), PartParent, "plain", "Message text", charset, true,
                        TMimeEncoding::ME_QUOTED_PRINTABLE);
}

TMimePart& TMimeMess::AddPartHTMLFromFile(const std::string& FileName, TMimePart* PartParent) {
    return AddTextBytes(WithCrLfLines(support::ReadFileBytes(FileName)), PartParent, "html", "HTML text",
                        TMimeChar::UTF_8, true, TMimeEncoding::ME_QUOTED_PRINTABLE);
}

TMimePart& TMimeMess::AddFileBytes(std::string Stream, std::string_view FileName, TMimePart* PartParent,
                                   std::string_view Description, std::string_view Disposition,
                                   std::string_view Cid) {
    TMimePart& part = AddPart(PartParent);
    part.DecodedLines() = std::move(Stream);
    part.MimeTypeFromExt(FileName);
    part.SetDescription(std::string(Description) + std::string(FileName));
    part.SetDisposition(Disposition);
    part.SetContentID(Cid);
    part.SetFileName(FileName);
    part.SetEncodingCode(TMimeEncoding::ME_BASE64);
    // An attached file goes out byte for byte, also when its type is text.
    part.SetConvertCharset(false);
    part.EncodePart();
    part.EncodePartHeader();
    return part;
}

TMimePart& TMimeMess::AddPartBinary(std::string Stream, std::string_view FileName, TMimePart* PartParent) {
    return AddFileBytes(std::move(Stream), FileName, PartParent, "Attached file: ", "attachment", {});
}

TMimePart& TMimeMess::AddPartBinaryFromFile(const std::string& FileName, TMimePart* PartParent) {
    std::string bytes = support::ReadFileBytes(FileName);
    return AddPartBinary(std::move(bytes), WithoutDirectory(FileName), PartParent);
}

TMimePart& TMimeMess::AddPartHTMLBinary(std::string Stream, std::string_view FileName, std::string_view Cid,
                                        TMimePart* PartParent) {
    return AddFileBytes(std::move(Stream), FileName, PartParent, "Included file: ", "inline", Cid);
}

TMimePart& TMimeMess::AddPartHTMLBinaryFromFile(const std::string& FileName, std::string_view Cid,
                                                TMimePart* PartParent) {
    std::string bytes = support::ReadFileBytes(FileName);
    return AddPartHTMLBinary(std::move(bytes), WithoutDirectory(FileName), Cid, PartParent);
}

TMimePart& TMimeMess::AddPartMess(const std::vector<std::string>& Value, TMimePart* PartParent) {
    TMimePart& part = AddPart(PartParent);
    part.SetPrimary("message");
    part.SetSecondary("rfc822");
    part.SetDescription("E-mail Message");
    TMimePart& inner = part.AddSubPart();
    inner.Lines() = Value;
    inner.DecomposeParts();
    part.EncodePart();
    part.EncodePartHeader();
    return part;
}

TMimePart& TMimeMess::AddPartMessFromFile(const std::string& FileName, TMimePart* PartParent) {
    const std::vector<std::string> lines = SplitLines(support::ReadFileBytes(FileName), TLineBreak::Any);
    return AddPartMess(lines, PartParent);
}

void TMimeMess::EncodeMessage() {
    std::vector<std::string> lines;
    FHeader->EncodeHeaders(lines);

    static constexpr std::array<std::string_view, 5> kContentLines{"CONTENT-TYPE", "CONTENT-DESCRIPTION",
                                                                   "CONTENT-DISPOSITION", "CONTENT-ID",
                                                                   "CONTENT-TRANSFER-ENCODING"};
    const std::vector<std::string>& rootHeaders = FMessagePart->Headers();
    for (std::string_view name : kContentLines) {
        for (const std::string& h : rootHeaders) {
            if (support::StartsWithNoCase(h, name)) {
                lines.push_back(h);
                break;
            }
        }
    }
    FMessagePart->Headers() = std::move(lines);
    FMessagePart->Lines().clear();
    FBytes.Clear();
    FMessagePart->ComposeParts(FBytes);
}

void TMimeMess::DecodeMessage() {
    FMessagePart->Lines() = Lines();
    FHeader->DecodeHeaders(FMessagePart->Lines());
    FMessagePart->DecomposeParts();
}

void TMimeMess::DecodeMessageBinary(const std::vector<std::string>& AHeader, std::string_view AData) {
    FHeader->DecodeHeaders(detail::WithHeaderEnd(AHeader));
    FMessagePart->DecomposePartsBinary(AHeader, AData.data(), AData.data() + AData.size());
}

}  // namespace tandrel::mime
