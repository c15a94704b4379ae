#include "mime/MessHeader.h"

#include "mime/InlineEncoding.h"
#include "mime/TextUtils.h"
#include "mime/detail/MimePartText.h"
#include "support/AsciiText.h"

#include <array>
#include <utility>

namespace tandrel::mime {

namespace {

// Lines the message writes itself from its root part, swallowed when parsing.
constexpr std::array<std::string_view, 6> kOwnLines{
    "MIME-VERSION:",        "CONTENT-TYPE:", "CONTENT-DESCRIPTION:",
    "CONTENT-DISPOSITION:", "CONTENT-ID:",   "CONTENT-TRANSFER-ENCODING:"};

}  // namespace

TMessHeader::TMessHeader() : FTargetCharset(GetCurCP()) {}

TMessHeader::~TMessHeader() = default;

void TMessHeader::Clear() {
    FFrom.clear();
    FToList.clear();
    FCCList.clear();
    FSubject.clear();
    FOrganization.clear();
    FCustomHeaders.clear();
    FXMailer.clear();
    FReplyTo.clear();
    FMessageID.clear();
    FDate = TDateTime{};
    FPriority = TMessPriority::MP_unknown;
}

std::string TMessHeader::InlineCode(std::string_view Value) const {
    return InlineCodeEx2(Value, FTargetCharset, FCharsetCode);
}

std::string TMessHeader::InlineEmail(std::string_view Value) const {
    return InlineEmailEx2(Value, FTargetCharset, FCharsetCode);
}

std::string TMessHeader::AddressLine(const std::vector<std::string>& List) const {
    std::string line;
    for (const std::string& entry : List) {
        // Addresses come from what people type: a raw CR or LF would end the header line and
        // start another (a forged Bcc). Display names carry such bytes only as encoded words.
        const std::string item = support::WithoutLineBreaks(InlineEmail(entry));
        if (line.empty())
            line = item;
        else
            line += ", " + item;
    }
    return line;
}

void TMessHeader::EncodeHeaders(std::vector<std::string>& Value) {
    if (FDate == TDateTime{}) FDate = Now();

    std::vector<std::string> block;
    block.push_back("From: " + support::WithoutLineBreaks(InlineEmail(FFrom)));
    if (std::string to = AddressLine(FToList); !to.empty()) block.push_back("To: " + to);
    if (!FSubject.empty())
        block.push_back(InlineCodeField("Subject", FSubject, FTargetCharset, FCharsetCode));
    block.push_back("Date: " + Rfc822DateTime(FDate));
    if (std::string cc = AddressLine(FCCList); !cc.empty()) block.push_back("CC: " + cc);
    if (!FOrganization.empty())
        block.push_back(InlineCodeField("Organization", FOrganization, FTargetCharset, FCharsetCode));
    block.emplace_back("MIME-Version: 1.0 (produced by Tandrel)");
    block.push_back("X-mailer: " +
                    support::WithoutLineBreaks(FXMailer.empty() ? std::string(DefaultXMailer) : FXMailer));
    if (!FMessageID.empty())
        block.push_back("Message-ID: <" + support::WithoutLineBreaks(TrimSP(FMessageID)) + ">");
    if (!FReplyTo.empty()) block.push_back("Reply-To: " + support::WithoutLineBreaks(GetEmailAddr(FReplyTo)));
    if (FPriority == TMessPriority::MP_high) {
        block.emplace_back("Priority: urgent");
        block.emplace_back("X-Priority: 1");
        block.emplace_back("X-MSMAIL-Priority: High");
    } else if (FPriority == TMessPriority::MP_low) {
        block.emplace_back("Priority: non-urgent");
        block.emplace_back("X-Priority: 5");
        block.emplace_back("X-MSMAIL-Priority: low");
    }
    for (const std::string& line : FCustomHeaders)
        if (!line.empty()) block.push_back(line);

    Value.insert(Value.begin(), std::make_move_iterator(block.begin()), std::make_move_iterator(block.end()));
}

std::string TMessHeader::DecodeText(std::string_view Value) const {
    return InlineDecode(TrimSP(Value), FCharsetCode);
}

std::string TMessHeader::DecodeAddress(std::string_view Value) const {
    std::string decoded = DecodeText(Value);
    if (FindEmailAddr(Value).First == 0) return decoded;  // no address in angle brackets
    // A display name whose decoded text holds a quote, a backslash or an angle bracket
    // would, left as it is, end the name or bring its own address: it is quoted again.
    const std::string name = DecodeText(GetEmailDesc(Value));
    if (name.find_first_of("\"\\<>") == std::string::npos) return decoded;
    std::string quoted = "\"";
    for (const char c : name) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\" <" + GetEmailAddr(Value) + ">";
}

void TMessHeader::AddAddresses(std::string_view Value, std::vector<std::string>& List) const {
    for (const std::string_view raw : SplitEx(Value, ",", '"')) {
        const std::string piece(support::TrimBlank(raw));
        if (piece.empty()) continue;
        std::string decoded = DecodeAddress(piece);
        if (!decoded.empty()) List.push_back(std::move(decoded));
    }
}

bool TMessHeader::DecodeHeader(const std::string& Value) {
    if (support::StartsWithNoCase(Value, "X-MAILER:")) {
        FXMailer = detail::HeaderValueOf(Value);
    } else if (support::StartsWithNoCase(Value, "FROM:")) {
        FFrom = DecodeAddress(detail::HeaderValueOf(Value));
    } else if (support::StartsWithNoCase(Value, "SUBJECT:")) {
        FSubject = DecodeText(detail::HeaderValueOf(Value));
    } else if (support::StartsWithNoCase(Value, "ORGANIZATION:")) {
        FOrganization = DecodeText(detail::HeaderValueOf(Value));
    } else if (support::StartsWithNoCase(Value, "REPLY-TO:")) {
        FReplyTo = DecodeAddress(detail::HeaderValueOf(Value));
    } else if (support::StartsWithNoCase(Value, "TO:")) {
        AddAddresses(detail::HeaderValueOf(Value), FToList);
    } else if (support::StartsWithNoCase(Value, "CC:")) {
        AddAddresses(detail::HeaderValueOf(Value), FCCList);
    } else if (support::StartsWithNoCase(Value, "DATE:")) {
        FDate = DecodeRfcDateTime(detail::HeaderValueOf(Value));
    } else if (support::StartsWithNoCase(Value, "MESSAGE-ID:")) {
        FMessageID = GetEmailAddr(detail::HeaderValueOf(Value));
    } else if (support::StartsWithNoCase(Value, "PRIORITY:")) {
        Fpri = ParsePriority(Value);
    } else if (support::StartsWithNoCase(Value, "X-PRIORITY:")) {
        Fxpri = ParsePriority(Value);
    } else if (support::StartsWithNoCase(Value, "X-MSMAIL-PRIORITY:")) {
        Fxmspri = ParsePriority(Value);
    } else {
        for (std::string_view own : kOwnLines)
            if (support::StartsWithNoCase(Value, own)) return true;
        return false;
    }
    return true;
}

void TMessHeader::DecodeHeaders(const std::vector<std::string>& Value) {
    Clear();
    Fpri = Fxpri = Fxmspri = TMessPriority::MP_unknown;
    int x = 0;
    const int n = static_cast<int>(Value.size());
    while (x < n) {
        const std::string line = NormalizeHeader(Value, x);
        if (line.empty()) break;
        if (!DecodeHeader(line)) FCustomHeaders.push_back(line);
    }
    for (TMessPriority p : {Fpri, Fxpri, Fxmspri}) {
        if (p != TMessPriority::MP_unknown) {
            FPriority = p;
            break;
        }
    }
}

TMessPriority TMessHeader::ParsePriority(std::string_view Value) {
    const auto colon = Value.find(':');
    const std::string rest(
        support::TrimBlank(colon == std::string_view::npos ? Value : Value.substr(colon + 1)));
    const std::string word = support::LowerAscii(rest.substr(0, rest.find_first_of(" \t")));
    if (!word.empty() && word.find_first_not_of("0123456789") == std::string::npos) {
        const std::size_t first = word.find_first_not_of('0');
        const std::string digits = first == std::string::npos ? "0" : word.substr(first);
        if (digits.size() != 1) return TMessPriority::MP_unknown;
        switch (digits[0]) {
            case '1':
            case '2': return TMessPriority::MP_high;
            case '3': return TMessPriority::MP_normal;
            case '4':
            case '5': return TMessPriority::MP_low;
            default: return TMessPriority::MP_unknown;
        }
    }
    if (word == "urgent" || word == "high" || word == "highest") return TMessPriority::MP_high;
    if (word == "normal" || word == "medium") return TMessPriority::MP_normal;
    if (word == "low" || word == "lowest" || word == "no-priority" || word == "non-urgent")
        return TMessPriority::MP_low;
    return TMessPriority::MP_unknown;
}

std::string TMessHeader::FindHeader(std::string_view Value) const {
    for (const std::string& line : FCustomHeaders)
        if (support::StartsWithNoCase(line, Value)) return detail::HeaderValueOf(line);
    return {};
}

void TMessHeader::FindHeaderList(std::string_view Value, std::vector<std::string>& HeaderList) const {
    HeaderList.clear();
    for (const std::string& line : FCustomHeaders)
        if (support::StartsWithNoCase(line, Value)) HeaderList.push_back(detail::HeaderValueOf(line));
}

}  // namespace tandrel::mime
