// The mail component's message assembly: the addresses and attachments a caller
// adds, and the message built from them (header, parts, the stored copy). The
// send flow is in MailSender.cpp.
#include "mail/MailSender.h"
#include "mail/detail/DelimitedText.h"
#include "mail/detail/MailAddress.h"
#include "mail/detail/MessageID.h"
#include "mail/detail/XmlCharset.h"
#include "mime/MimePart.h"
#include "support/AsciiText.h"
#include "support/FileBytes.h"
#include "support/LargeBytes.h"
#include "support/ScopeGuard.h"
#include "support/SystemCodePage.h"
#include "support/Utf8.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <istream>
#include <iterator>

namespace tandrel::mail {

using support::LowerAscii;
using support::TrimBlank;

namespace {

constexpr const char* kMailer = "Tandrel - MailSender";

// A display name and an address as an address text: the name quoted with its quotes
// and backslashes escaped (RFC 5322, 3.2.4), so nothing in it ends the name or adds
// an address.
std::string NamedAddress(const std::string& aEmail, const std::string& aName) {
    std::string text = "\"";
    for (const char c : aName) {
        if (c == '"' || c == '\\') text += '\\';
        text += c;
    }
    return text + "\" <" + aEmail + ">";
}

// The file's own name: the text after the last "/", the only folder separator here
// ("Cliente_001 10:30.xml" and "relatorio\2026.txt" are whole names).
std::string ExtractFileName(std::string_view Path) {
    const auto cut = Path.rfind('/');
    return std::string(cut == std::string_view::npos ? Path : Path.substr(cut + 1));
}

// Text that is valid UTF-8 and not plain ASCII.
bool IsUtf8Text(std::string_view Bytes) {
    bool wide = false;
    for (std::size_t i = 0; i < Bytes.size();) {
        const support::TDecodedChar c = support::DecodeUtf8Char(Bytes, i);
        if (!c.Valid) return false;
        wide = wide || c.Length > 1;
        i += c.Length;
    }
    return wide;
}

// The charset label of an attached text file: an XML file names its own encoding,
// whatever the program's code page (a reader that shows it inline follows the label,
// not the declaration); any other text that is valid UTF-8 and not ASCII is UTF-8 (a
// Windows-1252 label would show "OlÃ¡"); else the design's label, IDECharset.
mime::TMimeChar TextFileCharset(const mime::TMimePart& Part, std::string_view Bytes,
                                mime::TMimeChar IdeCharset) {
    if (LowerAscii(Part.Secondary()) == "xml") return XmlCharset(Bytes);
    return IsUtf8Text(Bytes) ? mime::TMimeChar::UTF_8 : IdeCharset;
}

std::string JoinLines(const std::vector<std::string>& Lines) {
    std::size_t size = 0;
    for (const auto& line : Lines) size += line.size() + 2;
    std::string text;
    support::ReserveLarge(text, size);
    for (const auto& line : Lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

// "file_" + local time "hhnnsszzz", the name of an unnamed stream attachment.
std::string GeneratedAttachmentName() {
    const auto now = std::chrono::system_clock::now();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%02d%02d%02d%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ms));
    return std::string("file_") + text;
}

// The whole content of a stream, from its start: read in one piece when the
// stream tells its size, else as it comes.
std::string WholeStream(std::istream& Stream) {
    Stream.clear();
    Stream.seekg(0, std::ios::end);
    const std::streamoff size = Stream.tellg();
    Stream.seekg(0, std::ios::beg);
    if (size <= 0 || !Stream) {
        Stream.clear();
        Stream.seekg(0, std::ios::beg);
        return {std::istreambuf_iterator<char>(Stream), std::istreambuf_iterator<char>()};
    }
    std::string bytes;
    support::ResizeLarge(bytes, static_cast<std::size_t>(size));
    Stream.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(Stream.gcount()));
    // A stream that had more than it told keeps nothing back.
    bytes.append(std::istreambuf_iterator<char>(Stream), std::istreambuf_iterator<char>());
    return bytes;
}

}  // namespace

void TMailSender::AddEmailWithDelimitersToList(const std::string& aEmail, std::vector<std::string>& aList) {
    const std::string email(TrimBlank(aEmail));
    const char delimiter = FindDelimiterInText(email, "");
    if (delimiter == ' ') {
        aList.push_back(email);
        return;
    }
    (void)AddDelimitedTextToList(email, delimiter, aList, '"');
}

void TMailSender::AddNamed(const std::string& aEmail, const std::string& aName,
                           std::vector<std::string>& aList) {
    if (!TrimBlank(aName).empty()) {
        aList.push_back(NamedAddress(aEmail, aName));
        return;
    }
    AddEmailWithDelimitersToList(aEmail, aList);
}

void TMailSender::AddAddress(const std::string& aEmail, const std::string& aName) {
    AddNamed(aEmail, aName, fMIMEMess->Header().ToList());
}

void TMailSender::AddReplyTo(const std::string& aEmail, const std::string& aName) {
    AddNamed(aEmail, aName, fReplyTo);
}

void TMailSender::AddCC(const std::string& aEmail, const std::string& aName) {
    AddNamed(aEmail, aName, fMIMEMess->Header().CCList());
}

void TMailSender::AddBCC(const std::string& aEmail) { AddEmailWithDelimitersToList(aEmail, fBCC); }

void TMailSender::AddAttachment(const std::string& aFileName, const std::string& aDescription,
                                TMailAttachmentDisposition aDisposition) {
    std::error_code error;
    if (aFileName.empty() || !std::filesystem::is_regular_file(aFileName, error))
        DoException(std::runtime_error("Add Attachment: File not Exists."));
    std::string bytes;
    try {
        bytes = support::ReadFileBytes(aFileName);
    } catch (const std::system_error&) {
        DoException(std::runtime_error("Add Attachment: Unable to read \"" + aFileName + "\"."));
    }
    auto& record = fAttachments.New();
    record.SetFileName(aFileName);
    record.SetDescription(aDescription.empty() ? ExtractFileName(aFileName) : aDescription);
    record.SetDisposition(aDisposition);
    record.Stream() = std::move(bytes);
}

void TMailSender::AddAttachment(const std::string& aFileName) {
    AddAttachment(aFileName, {}, TMailAttachmentDisposition::adInline);
}

void TMailSender::AddAttachment(std::istream* aStream, const std::string& aDescription,
                                TMailAttachmentDisposition aDisposition) {
    if (aStream == nullptr) DoException(std::runtime_error("Add Attachment: Access Violation."));
    const std::string description =
        TrimBlank(aDescription).empty() ? GeneratedAttachmentName() : aDescription;
    std::string bytes = WholeStream(*aStream);
    auto& record = fAttachments.New();
    record.SetFileName(description);
    record.SetDescription(description);
    record.SetDisposition(aDisposition);
    record.Stream() = std::move(bytes);
}

void TMailSender::AddAttachment(std::istream* aStream) {
    AddAttachment(aStream, {}, TMailAttachmentDisposition::adInline);
}

void TMailSender::BuildHeader() {
    auto& header = fMIMEMess->Header();
    header.SetCharsetCode(fDefaultCharsetCode);
    header.SetTargetCharset(fIDECharsetCode);
    header.SetSubject(fSubject);
    // Every address of the header names its domain as the envelope does: as an A-label.
    const std::string sender = EntryWithAsciiDomain(fFrom);
    for (auto& entry : header.ToList()) entry = EntryWithAsciiDomain(entry);
    for (auto& entry : header.CCList()) entry = EntryWithAsciiDomain(entry);
    // A CR or LF typed into the sender would start a new header line.
    const std::string from =
        support::WithoutLineBreaks(TrimBlank(fFromName).empty() ? sender : NamedAddress(sender, fFromName));
    header.SetFrom(from);
    if (!fReplyTo.empty()) {
        std::string replyTo;
        bool first = true;
        for (const auto& original : fReplyTo) {
            if (!first) replyTo += ';';
            first = false;
            const std::string entry = EntryWithAsciiDomain(original);
            if (entry.find_first_of("\";") == std::string::npos) {
                replyTo += entry;
                continue;
            }
            replyTo += '"';
            for (const char c : entry) {
                if (c == '"') replyTo += '"';
                replyTo += c;
            }
            replyTo += '"';
        }
        header.SetReplyTo(std::move(replyTo));
    }
    // The confirmation lines carry the sender as the From line does (the header writes custom
    // lines as they stand): a display name encoded when it needs it, never raw 8-bit.
    const std::string receiptTo = header.InlineEmail(from);
    auto& custom = header.CustomHeaders();
    if (fReadingConfirmation) custom.insert(custom.begin(), "Disposition-Notification-To: " + receiptTo);
    if (fDeliveryConfirmation) custom.insert(custom.begin(), "Return-Receipt-To: " + receiptTo);
    header.SetXMailer(kMailer);
    // Large receivers refuse or mark mail without one, and few servers add it for a client.
    if (TrimBlank(header.MessageID()).empty()) {
        const std::string domain =
            MessageIDDomain(AddressDomain(ExtractAddress(sender)), fSMTP->SystemName());
        header.SetMessageID(UniqueMessageID(domain));
    }
}

namespace {

void ApplyTriple(mime::TMimePart& Part, mime::TMimeChar Charset, mime::TMimeChar Target) {
    Part.SetCharsetCode(Charset);
    Part.SetTargetCharset(Target);
    Part.SetConvertCharset(Charset != Target);
}

}  // namespace

void TMailSender::BuildParts() {
    using mime::TMimePart;
    const bool needRelated = fIsHTML && !fBody.empty() && !fAltBody.empty();
    TMimePart* parent = &fMIMEMess->AddPartMultipart(needRelated ? "alternative" : "mixed", nullptr);
    ApplyTriple(*parent, fDefaultCharsetCode, fIDECharsetCode);

    const auto addText = [&](const std::vector<std::string>& Lines, const char* Subtype,
                             const char* Description) {
        TMimePart& part = fMIMEMess->AddPart(parent);
        part.DecodedLines() = support::AnsiLinesFromText(Lines);
        part.SetPrimary("text");
        part.SetSecondary(Subtype);
        part.SetDescription(Description);
        part.SetDisposition("inline");
        ApplyTriple(part, fDefaultCharsetCode, fIDECharsetCode);
        part.SetEncoding("base64");
        part.EncodePart();
        part.EncodePartHeader();
    };

    if (!fAltBody.empty()) addText(fAltBody, "plain", "Message text");
    if (needRelated) {
        parent = &fMIMEMess->AddPartMultipart("related", parent);
        ApplyTriple(*parent, fDefaultCharsetCode, fIDECharsetCode);
    }
    if (fIsHTML && !fBody.empty()) addText(fBody, "html", "HTML text");

    const std::string bodyLower = LowerAscii(JoinLines(fBody));
    for (std::size_t i = 0; i < fAttachments.Count(); ++i) {
        TMailAttachment& attachment = fAttachments.Objects(i);
        const std::string imageRef = ':' + LowerAscii(attachment.Description());
        const bool bodyHasImage = bodyLower.find(imageRef) != std::string::npos;
        TMimePart& part = fMIMEMess->AddPart(parent);
        part.SetDescription(attachment.Description());
        part.SetDisposition(attachment.Disposition() == TMailAttachmentDisposition::adInline ? "inline"
                                                                                             : "attachment");
        if (fIsHTML && bodyHasImage) part.SetContentID("<" + attachment.Description() + ">");
        part.SetFileName(ExtractFileName(attachment.FileName()));
        part.SetEncoding("base64");
        part.SetPrimaryCode(mime::TMimePrimary::MP_BINARY);
        part.SetCharsetCode(fIDECharsetCode);
        part.SetTargetCharset(fIDECharsetCode);
        part.SetConvertCharset(false);
        part.MimeTypeFromExt(attachment.FileName());
        if (part.PrimaryCode() == mime::TMimePrimary::MP_TEXT)
            part.SetCharsetCode(TextFileCharset(part, attachment.Stream(), fIDECharsetCode));
        // The content is lent to the part while it is encoded and then taken back:
        // an attachment of many megabytes is held once, by its record.
        part.DecodedLines().swap(attachment.Stream());
        {
            support::TScopeGuard giveBack([&] { part.DecodedLines().swap(attachment.Stream()); });
            part.EncodePart();
        }
        part.EncodePartHeader();
    }
}

void TMailSender::BuildMimeMess() {
    if (fOnBeforeMailProcess) fOnBeforeMailProcess(*this);
    MailProcess(TMailStatus::pmsStartProcess);
    MailProcess(TMailStatus::pmsConfigHeaders);
    BuildHeader();
    MailProcess(TMailStatus::pmsAddingMimeParts);
    BuildParts();
    fMIMEMess->EncodeMessage();
    fArqMIMe = fMIMEMess->Bytes();
}

// ----- send flow ------------------------------------------------------------

}  // namespace tandrel::mail
