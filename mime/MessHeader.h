#pragma once
// The message-level header: sender, recipients, subject, date, priority and
// extra lines, written as a header block and read back from one.

#include "mime/Charsets.h"
#include "mime/MailDate.h"

#include <string>
#include <string_view>
#include <vector>

namespace tandrel::mime {

/// Message priority, in its documented order.
enum class TMessPriority { MP_unknown, MP_low, MP_normal, MP_high };

/// The header of one message. Field texts are UTF-8; they become header text
/// through InlineCode/InlineEmail (encoded words from TargetCharset into
/// CharsetCode). A derived class may replace the parsing of single lines
/// (DecodeHeader) and the writing of the block (EncodeHeaders).
class TMessHeader {
public:
    /// Empty fields, CharsetCode ISO_8859_1, TargetCharset the system charset.
    TMessHeader();
    virtual ~TMessHeader();
    TMessHeader(const TMessHeader&) = delete;
    TMessHeader& operator=(const TMessHeader&) = delete;

    /// Empties every field but CharsetCode and TargetCharset; Date 0, Priority MP_unknown.
    virtual void Clear();
    /// Inserts the header block at the top of Value: From, To, Subject, Date, CC,
    /// Organization, MIME-Version, X-mailer, Message-ID, Reply-To, the priority
    /// lines, the custom lines. A zero Date becomes the current time and stays.
    virtual void EncodeHeaders(std::vector<std::string>& Value);
    /// Takes one unfolded header line into its field; false when the line is
    /// not one of the known headers (the caller then keeps it as custom).
    [[nodiscard]] virtual bool DecodeHeader(const std::string& Value);

    /// Clears the header and reads unfolded lines of Value up to the first
    /// empty line; unknown lines go to CustomHeaders.
    void DecodeHeaders(const std::vector<std::string>& Value);
    /// Priority of a "Priority:"-style line: 1-2 high, 3 normal, 4-5 low, or the
    /// words urgent/high/highest, normal/medium, low/lowest/no-priority/non-urgent.
    [[nodiscard]] static TMessPriority ParsePriority(std::string_view Value);
    /// Value (trimmed, after the first ":") of the first custom line whose name
    /// begins with Value, case-insensitive; empty when none.
    [[nodiscard]] std::string FindHeader(std::string_view Value) const;
    /// Fills HeaderList with the values of all such custom lines, in order.
    void FindHeaderList(std::string_view Value, std::vector<std::string>& HeaderList) const;
    /// Header text of a value: encoded words when it needs them.
    [[nodiscard]] std::string InlineCode(std::string_view Value) const;
    /// Header text of an address with an optional display name.
    [[nodiscard]] std::string InlineEmail(std::string_view Value) const;

    /// Sender: a bare address or a display name and an address in angle brackets.
    const std::string& From() const { return FFrom; }
    void SetFrom(std::string_view Value) { FFrom = Value; }
    /// Primary recipients, one address text per entry.
    std::vector<std::string>& ToList() { return FToList; }
    const std::vector<std::string>& ToList() const { return FToList; }
    /// Copy recipients, one address text per entry.
    std::vector<std::string>& CCList() { return FCCList; }
    const std::vector<std::string>& CCList() const { return FCCList; }
    /// Subject text, unencoded.
    const std::string& Subject() const { return FSubject; }
    void SetSubject(std::string_view Value) { FSubject = Value; }
    /// Organisation text, unencoded.
    const std::string& Organization() const { return FOrganization; }
    void SetOrganization(std::string_view Value) { FOrganization = Value; }
    /// Complete extra lines ("Name: value"), written unchanged.
    std::vector<std::string>& CustomHeaders() { return FCustomHeaders; }
    const std::vector<std::string>& CustomHeaders() const { return FCustomHeaders; }
    /// Local date and time; 0 means "now" at encoding.
    TDateTime Date() const { return FDate; }
    void SetDate(TDateTime Value) { FDate = Value; }
    /// Mailer identification; empty writes DefaultXMailer.
    const std::string& XMailer() const { return FXMailer; }
    void SetXMailer(std::string_view Value) { FXMailer = Value; }
    /// Charset header texts are encoded into (kept by Clear).
    TMimeChar CharsetCode() const { return FCharsetCode; }
    void SetCharsetCode(TMimeChar Value) { FCharsetCode = Value; }
    /// Charset the texts are taken to be in before encoding (kept by Clear).
    TMimeChar TargetCharset() const { return FTargetCharset; }
    void SetTargetCharset(TMimeChar Value) { FTargetCharset = Value; }
    /// Reply address; only its address part is written.
    const std::string& ReplyTo() const { return FReplyTo; }
    void SetReplyTo(std::string_view Value) { FReplyTo = Value; }
    /// Message identifier without angle brackets; empty writes no Message-ID.
    const std::string& MessageID() const { return FMessageID; }
    void SetMessageID(std::string_view Value) { FMessageID = Value; }
    /// Message priority; MP_normal and MP_unknown write no lines.
    TMessPriority Priority() const { return FPriority; }
    void SetPriority(TMessPriority Value) { FPriority = Value; }

protected:
    /// Text of an encoded header value as UTF-8, decoded through CharsetCode
    /// (characters CharsetCode cannot hold are lost).
    [[nodiscard]] std::string DecodeText(std::string_view Value) const;

    /// Priorities read from "Priority:", "X-Priority:" and "X-MSMAIL-Priority:".
    TMessPriority Fpri = TMessPriority::MP_unknown;
    TMessPriority Fxpri = TMessPriority::MP_unknown;
    TMessPriority Fxmspri = TMessPriority::MP_unknown;

    /// An address text of the header decoded as DecodeText does; when the decoded display
    /// name holds '"', '\', '<' or '>', the name quoted again with escapes and the address
    /// in angle brackets, so that the text still names the address it was written with.
    [[nodiscard]] std::string DecodeAddress(std::string_view Value) const;

private:
    [[nodiscard]] std::string AddressLine(const std::vector<std::string>& List) const;
    void AddAddresses(std::string_view Value, std::vector<std::string>& List) const;

    std::string FFrom;
    std::vector<std::string> FToList;
    std::vector<std::string> FCCList;
    std::string FSubject;
    std::string FOrganization;
    std::vector<std::string> FCustomHeaders;
    TDateTime FDate{};
    std::string FXMailer;
    TMimeChar FCharsetCode = TMimeChar::ISO_8859_1;
    TMimeChar FTargetCharset = TMimeChar::ISO_8859_1;
    std::string FReplyTo;
    std::string FMessageID;
    TMessPriority FPriority = TMessPriority::MP_unknown;
};

/// Text written after "X-mailer: " when XMailer is empty.
inline constexpr std::string_view DefaultXMailer = "Tandrel mail library";

}  // namespace tandrel::mime
