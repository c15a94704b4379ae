#include "smtp/SMTPSend.h"

#include "mime/MD5.h"
#include "mime/TextUtils.h"
#include "net/AddressText.h"
#include "support/AsciiText.h"
#include "support/Codings.h"
#include "support/SystemCodePage.h"
#include "support/Utf8.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <utility>

namespace tandrel::smtp {

namespace {

constexpr std::string_view CRLF = "\r\n";

// Reply text set when the client itself refuses to go on; shaped like a server
// reply so that callers who log `ResultString` show the reason.
constexpr std::string_view RefusedLineBreak = "501 5.5.4 Refused: CR or LF in command argument";
constexpr std::string_view RefusedNonAscii = "553 5.6.7 Refused: non-ASCII address without SMTPUTF8";
constexpr std::string_view RefusedStartTLS = "554 5.7.0 Refused: data arrived after the STARTTLS reply";
constexpr std::string_view RefusedLongReply = "554 5.5.0 Refused: reply of more than 10000 lines";
constexpr std::string_view RefusedOutOfTurn = "554 5.5.0 Refused: the server answered out of turn";
constexpr std::string_view RefusedNoTLS =
    "530 5.7.0 Refused: the server does not offer STARTTLS and its certificate is to be checked";
static_assert(TSMTPSend::MaxReplyLines == 10000);

struct EnhDescription {
    std::string_view Key;
    std::string_view Text;
};

constexpr std::array<EnhDescription, 49> EnhDescriptions{{
    {"0.0", "Other undefined Status"},
    {"1.0", "Other address status"},
    {"1.1", "Bad destination mailbox address"},
    {"1.2", "Bad destination system address"},
    {"1.3", "Bad destination mailbox address syntax"},
    {"1.4", "Destination mailbox address ambiguous"},
    {"1.5", "Destination mailbox address valid"},
    {"1.6", "Mailbox has moved"},
    {"1.7", "Bad sender's mailbox address syntax"},
    {"1.8", "Bad sender's system address"},
    {"2.0", "Other or undefined mailbox status"},
    {"2.1", "Mailbox disabled, not accepting messages"},
    {"2.2", "Mailbox full"},
    {"2.3", "Message Length exceeds administrative limit"},
    {"2.4", "Mailing list expansion problem"},
    {"3.0", "Other or undefined mail system status"},
    {"3.1", "Mail system full"},
    {"3.2", "System not accepting network messages"},
    {"3.3", "System not capable of selected features"},
    {"3.4", "Message too big for system"},
    {"3.5", "System incorrectly configured"},
    {"4.0", "Other or undefined network or routing status"},
    {"4.1", "No answer from host"},
    {"4.2", "Bad connection"},
    {"4.3", "Routing server failure"},
    {"4.4", "Unable to route"},
    {"4.5", "Network congestion"},
    {"4.6", "Routing loop detected"},
    {"4.7", "Delivery time expired"},
    {"5.0", "Other or undefined protocol status"},
    {"5.1", "Invalid command"},
    {"5.2", "Syntax error"},
    {"5.3", "Too many recipients"},
    {"5.4", "Invalid command arguments"},
    {"5.5", "Wrong protocol version"},
    {"6.0", "Other or undefined media error"},
    {"6.1", "Media not supported"},
    {"6.2", "Conversion required and prohibited"},
    {"6.3", "Conversion required but not supported"},
    {"6.4", "Conversion with loss performed"},
    {"6.5", "Conversion failed"},
    {"7.0", "Other or undefined security status"},
    {"7.1", "Delivery not authorized, message refused"},
    {"7.2", "Mailing list expansion prohibited"},
    {"7.3", "Security conversion required but not possible"},
    {"7.4", "Security features not supported"},
    {"7.5", "Cryptographic failure"},
    {"7.6", "Cryptographic algorithm not supported"},
    {"7.7", "Message integrity failure"},
}};

// A decimal number made of digits only; `Default` for anything else (empty,
// signs, blanks, overflow).
template <typename T>
T ToNumber(std::string_view S, T Default) {
    if (S.empty()) return Default;
    T value{};
    const auto [end, ec] = std::from_chars(S.data(), S.data() + S.size(), value);
    if (ec != std::errc{} || end != S.data() + S.size() || S.front() == '-') return Default;
    return value;
}

using support::StartsWithNoCase;
using support::TrimBlank;
using support::UpperAscii;

// The text before the first Delimiter (all of it when there is none), trimmed.
std::string_view TrimmedBefore(std::string_view S, char Delimiter) {
    return TrimBlank(S.substr(0, S.find(Delimiter)));
}

// The text after the first Delimiter (all of it when there is none), trimmed.
std::string_view TrimmedAfter(std::string_view S, char Delimiter) {
    const std::size_t at = S.find(Delimiter);
    return TrimBlank(at == std::string_view::npos ? S : S.substr(at + 1));
}

bool HasLineBreak(std::string_view S) { return S.find_first_of(CRLF) != std::string_view::npos; }

bool Between(int Code, int Low, int High) { return Code >= Low && Code <= High; }

// A reply line as text: valid UTF-8 stays as it is (servers that speak it mean it),
// anything else is Windows-1252.
std::string ReplyText(const std::string& Bytes) {
    for (std::size_t i = 0; i < Bytes.size();) {
        const support::TDecodedChar c = support::DecodeUtf8Char(Bytes, i);
        if (!c.Valid) return support::TextFromAnsi(Bytes);
        i += c.Length;
    }
    return Bytes;
}

// Replies the server may not close a reply of its own with: a 221 to anything but
// QUIT, a 220 to anything but STARTTLS, a 235 outside an authentication.
bool TiedToOtherCommand(int Code) { return Code == 220 || Code == 221 || Code == 235; }

// A domain as EHLO wants one: dot-separated labels of letters, digits and hyphens.
bool IsDomainName(std::string_view Name) {
    if (Name.find('.') == std::string_view::npos || Name.front() == '.' || Name.back() == '.' ||
        Name.find("..") != std::string_view::npos)
        return false;
    for (const char c : Name) {
        const bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!letterOrDigit && c != '-' && c != '.') return false;
    }
    return true;
}

// The address literal of RFC 5321 (4.1.3) for a numeric address; empty for anything else.
std::string AddressLiteral(std::string Address) {
    if (net::IsIP(Address)) return "[" + Address + "]";
    Address = Address.substr(0, Address.find('%'));  // a zone belongs to this host only
    constexpr std::string_view mapped = "::ffff:";
    if (StartsWithNoCase(Address, mapped) && net::IsIP(Address.substr(mapped.size())))
        return "[" + Address.substr(mapped.size()) + "]";
    return net::IsIP6(Address) ? "[IPv6:" + Address + "]" : std::string();
}

// Connect and TLS handshakes wait no longer than a reply may when the socket
// has no limit of its own: a server that takes the connection and never
// answers the handshake would otherwise hold the client for good.
class ConnectionTimeLimit {
public:
    ConnectionTimeLimit(net::TTCPBlockSocket& Sock, int Timeout)
        : FSock(Sock), FSaved(Sock.ConnectionTimeout()) {
        if (FSaved <= 0 && Timeout > 0) FSock.SetConnectionTimeout(Timeout);
    }
    ~ConnectionTimeLimit() { FSock.SetConnectionTimeout(FSaved); }
    ConnectionTimeLimit(const ConnectionTimeLimit&) = delete;
    ConnectionTimeLimit& operator=(const ConnectionTimeLimit&) = delete;

private:
    net::TTCPBlockSocket& FSock;
    int FSaved;
};

// The ORCPT value of an address: "rfc822;" and the address, or for a non-ASCII one
// "utf-8;" and the address with "+", "=", "\\", blanks and controls as "\\x{HH}".
std::string OriginalRecipient(std::string_view Address) {
    if (support::IsAscii(Address)) return "rfc822;" + std::string(Address);
    std::string value = "utf-8;";
    for (const char c : Address) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 || (u > ' ' && u < 0x7F && c != '+' && c != '=' && c != '\\')) {
            value += c;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x{%02X}", u);
        value += escaped;
    }
    return value;
}

// A message line as it goes between DATA and the final ".": a leading "." is doubled.
std::size_t StuffedSize(std::string_view Line) {
    return Line.size() + (!Line.empty() && Line.front() == '.' ? 1 : 0);
}

}  // namespace

TSMTPSend::TSMTPSend() : TSMTPSend(std::make_unique<net::TTCPBlockSocket>()) {}

TSMTPSend::TSMTPSend(std::unique_ptr<net::TTCPBlockSocket> Sock) : FSock(std::move(Sock)) {
    FSock->SetOwner(this);
    FSock->SetConvertLineEnd(true);
    FSock->SetMaxLineLength(MaxReplyLineLength);
    FSock->SetNoDelay(true);
    SetTimeout(60000);
    SetTargetPort("25");
    FSystemName = FSock->LocalName();
}

TSMTPSend::~TSMTPSend() = default;

int TSMTPSend::ReadResult() {
    using Clock = std::chrono::steady_clock;
    // The time-out is the reply's, not each read's: a server that trickles its
    // bytes must not hold the client past it.
    const Clock::time_point deadline =
        Timeout() < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(Timeout());
    FFullResult.clear();
    bool ended = false;
    bool failed = false;
    std::string line;
    while (!ended && static_cast<int>(FFullResult.size()) < MaxReplyLines) {
        line = FSock->RecvStringUntil(deadline);
        FResultString = ReplyText(line);
        FFullResult.push_back(FResultString);
        failed = FSock->LastError() != 0;
        // The line's shape is in its bytes: as text a non-ASCII character before the
        // hyphen would move it.
        ended = failed || line.find('-') != 3;
    }
    // The last line ends the reply and carries its code (RFC 5321, 4.2.1).
    int code = 0;
    if (ended && !failed && line.size() >= 3) code = ToNumber<int>(std::string_view(line).substr(0, 3), 0);
    const std::string& last = FFullResult.back();
    FResultCode = code;
    EnhancedCode(last);
    if (!ended) SetOwnReply(RefusedLongReply);
    // What the server says next (the rest of this reply, or a reply that comes
    // late) would be read as the answer to our next command; after a line that is
    // no reply nothing it says can be paired with a command; after a 421 it closes.
    if (!ended || failed || code == 0 || code == 421) DropConnection();
    return code;
}

void TSMTPSend::EnhancedCode(std::string_view Value) {
    FEnhCode1 = FEnhCode2 = FEnhCode3 = 0;
    std::string_view t = Value.size() > 4 ? Value.substr(4) : std::string_view{};

    std::string_view s = TrimmedBefore(t, '.');
    t = TrimmedAfter(t, '.');
    if (s.empty() || s.size() > 1) return;
    const int e1 = ToNumber<int>(s, 0);
    if (e1 == 0) return;

    s = TrimmedBefore(t, '.');
    t = TrimmedAfter(t, '.');
    if (s.empty() || s.size() > 3) return;
    const int e2 = ToNumber<int>(s, 0);

    s = TrimmedBefore(t, ' ');
    if (s.empty() || s.size() > 3) return;
    const int e3 = ToNumber<int>(s, 0);

    FEnhCode1 = e1;
    FEnhCode2 = e2;
    FEnhCode3 = e3;
}

std::string TSMTPSend::EnhCodeString() const {
    const std::string key = std::to_string(FEnhCode2) + "." + std::to_string(FEnhCode3);
    std::string result;
    switch (FEnhCode1) {
        case 2: result = "Success-"; break;
        case 4: result = "Persistent Transient Failure-"; break;
        case 5: result = "Permanent Failure-"; break;
        default: result = "?\?\?-"; break;  // escaped so it reads as no trigraph
    }
    for (const auto& d : EnhDescriptions)
        if (d.Key == key) {
            result += d.Text;
            break;
        }
    return result;
}

std::string TSMTPSend::FindCap(std::string_view Value) const {
    for (const auto& cap : FESMTPcap)
        if (StartsWithNoCase(cap, Value)) return cap;
    return {};
}

void TSMTPSend::SetOwnReply(std::string_view Text) {
    FResultString = std::string(Text);
    FFullResult.assign(1, FResultString);
    FResultCode = 0;
    EnhancedCode(FResultString);
}

bool TSMTPSend::RefuseWithoutTLS() {
    // A certificate the caller asked to check cannot be checked in the clear: a server, or
    // anyone on the path, that hides STARTTLS gets neither the login nor the mail.
    const net::TCustomSSL& ssl = FSock->SSL();
    if (!FAutoTLS || !ssl.VerifyCert() || ssl.SSLEnabled()) return false;
    SetOwnReply(RefusedNoTLS);
    return true;
}

bool TSMTPSend::RefuseUnsafe(std::string_view Argument) {
    if (!HasLineBreak(Argument)) return false;
    SetOwnReply(RefusedLineBreak);
    return true;
}

bool TSMTPSend::RefuseAddress(std::string_view Address, bool SMTPUTF8) {
    if (RefuseUnsafe(Address)) return true;
    if (SMTPUTF8 || support::IsAscii(Address)) return false;
    SetOwnReply(RefusedNonAscii);
    return true;
}

std::string TSMTPSend::CommandBytes(std::string_view Line) const {
    std::string bytes = FSMTPUTF8 ? std::string(Line) : support::AnsiFromText(Line);
    bytes += CRLF;
    return bytes;
}

bool TSMTPSend::SendCommand(std::string_view Line) {
    FSock->SendString(CommandBytes(Line));
    return FSock->LastError() == 0;
}

int TSMTPSend::Command(std::string_view Line) {
    if (!FAuthenticating) return Command(Line, TReplyTo::Command);
    // A mechanism that gave up on a challenge leaves it open: the next AUTH would be
    // taken as its answer.
    if (Line.starts_with("AUTH ")) CancelOpenExchange();
    return Command(Line, TReplyTo::Auth);
}

void TSMTPSend::CancelOpenExchange() {
    if (FResultCode == 334) static_cast<void>(Command("*", TReplyTo::Cancel));
}

int TSMTPSend::Command(std::string_view Line, TReplyTo What) {
    // Nothing is said on a closed connection: its last reply and the socket's
    // error still tell why it ended.
    if (!Connected()) return 0;
    if (Unsolicited()) return 0;
    if (!SendCommand(Line)) return NoReply();
    return Answer(What);
}

int TSMTPSend::Answer(TReplyTo What) {
    const int code = ReadResult();
    if (code == 0 || code / 100 == 4 || code / 100 == 5) return code;  // refusals fit any command
    bool fits = false;
    switch (What) {
        case TReplyTo::Command:
        case TReplyTo::DataEnd: fits = code / 100 == 2 && !TiedToOtherCommand(code); break;
        case TReplyTo::Hello: fits = Between(code, 250, 259); break;
        case TReplyTo::StartTLS: fits = code == 220; break;
        case TReplyTo::Auth: fits = code == 235 || code == 334; break;
        case TReplyTo::Cancel: fits = false; break;  // only a refusal ends a cancelled exchange
        case TReplyTo::Data: fits = code == 354; break;
        case TReplyTo::Quit: fits = true; break;  // the conversation ends either way
    }
    // A reply that cannot answer this command answers an earlier one, or none: the
    // conversation is out of step.
    return fits ? code : OutOfTurn();
}

int TSMTPSend::OutOfTurn() {
    SetOwnReply(RefusedOutOfTurn);
    DropConnection();
    return 0;
}

bool TSMTPSend::Unsolicited() {
    // Bytes waiting before we have said anything belong to no command of ours.
    if (!FSock->Unread()) return false;
    OutOfTurn();
    return true;
}

int TSMTPSend::NoReply() {
    // As a read on the broken connection would end: one empty line, code 0. The
    // socket keeps the send's error, which says more than a read's would. Part
    // of the command may have gone out: the conversation is out of step.
    SetOwnReply("");
    DropConnection();
    return 0;
}

void TSMTPSend::DropConnection() {
    // Without a word: nothing said now could be understood. The socket keeps
    // the error that ended the conversation.
    FSock->AbortSocket();
}

bool TSMTPSend::Connected() const { return FSock->Socket() != -1; }

bool TSMTPSend::Connect() {
    FSock->CloseSocket();
    FSMTPUTF8 = false;
    FQuitSent = false;
    FDataEnded = false;
    // Closing drops queued socket options; each new handle needs it again, or
    // every message written in pieces waits for the peer's delayed ACK.
    FSock->SetNoDelay(true);
    if (Timeout() > 0) {
        // Writing waits no longer than a reply may: a server that stops reading in
        // the middle of a message would otherwise hold the send for good. The
        // platform's send time-out is that wait, so the socket adds none of its own.
        FSock->SetSendTimeout(Timeout());
        FSock->SetNonblockSendTimeout(0);
    }
    const ConnectionTimeLimit limit(*FSock, Timeout());
    FSock->Bind(IPInterface(), "0");
    if (FSock->LastError() == 0) FSock->Connect(TargetHost(), TargetPort());
    if (FSock->LastError() == 0 && FFullSSL) FSock->SSLDoConnect();
    if (FSock->LastError() == 0) return true;
    DropConnection();
    return false;
}

bool TSMTPSend::Helo() {
    if (RefuseUnsafe(FSystemName)) return false;
    return Between(Command("HELO " + HelloName(), TReplyTo::Hello), 250, 259);
}

bool TSMTPSend::Ehlo() {
    if (RefuseUnsafe(FSystemName)) return false;
    return Between(Command("EHLO " + HelloName(), TReplyTo::Hello), 250, 259);
}

std::string TSMTPSend::HelloName() {
    // A bare host name is neither a domain nor an address literal (RFC 5321,
    // 4.1.4), and servers that check refuse it.
    if (std::string literal = AddressLiteral(FSystemName); !literal.empty()) return literal;
    if (IsDomainName(FSystemName) || (FSystemName.starts_with('[') && FSystemName.ends_with(']')))
        return FSystemName;
    if (FLookedUpName != FSystemName) {
        FLookedUpName = FSystemName;
        FFullName = net::FullyQualifiedName(FSystemName);
    }
    if (!FFullName.empty()) return FFullName;
    std::string literal = AddressLiteral(FSock->GetLocalSinIP());
    return literal.empty() ? FSystemName : literal;
}

void TSMTPSend::ReadCapabilities() {
    FESMTPcap.clear();
    for (std::size_t i = 1; i < FFullResult.size(); ++i)
        FESMTPcap.push_back(FFullResult[i].size() > 4 ? FFullResult[i].substr(4) : std::string{});
}

bool TSMTPSend::Login() {
    FESMTP = true;
    FAuthDone = false;
    FAuthMechanism.clear();
    FESMTPcap.clear();
    FESMTPSize = false;
    FMaxSize = 0;

    FLoginStep = TLoginStep::lsConnect;
    if (!Connect()) return false;
    FLoginStep = TLoginStep::lsGreeting;
    if (ReadResult() != 220) return false;
    FLoginStep = TLoginStep::lsHello;
    if (!Ehlo()) {
        FESMTP = false;
        // A server that closed (421), or a reply out of step, leaves no one to greet.
        if (!Connected() || !Helo()) return false;
    }
    if (FESMTP) ReadCapabilities();

    FLoginStep = TLoginStep::lsStartTLS;
    if (FESMTP && !FFullSSL && FAutoTLS && !FindCap("STARTTLS").empty()) {
        if (!StartTLS()) return false;
        // Only what the server says under TLS counts.
        static_cast<void>(Ehlo());
        ReadCapabilities();
    }
    if (RefuseWithoutTLS()) return false;
    ReadSize();

    FLoginStep = TLoginStep::lsAuth;
    // The caller may refuse this server before the password goes to it.
    if (FOnBeforeAuth && !FOnBeforeAuth(*this)) return false;
    if (FESMTP && (!UserName().empty() || !Password().empty())) {
        // Every line of the exchange carries secrets; a transcript hides them all.
        FAuthenticating = true;
        Authenticate();
        CancelOpenExchange();
        FAuthenticating = false;
    }
    // A refused login is the server's answer; a lost connection is no login.
    if (!Connected()) return false;
    // Logged in means in step: a line the server added after its last reply would be
    // read as the answer to the first command of the mail. A new connection may do better.
    if (Unsolicited()) return false;
    FLoginStep = TLoginStep::lsDone;
    return true;
}

void TSMTPSend::ReadSize() {
    const std::string size = FindCap("SIZE");
    if (size.empty()) return;
    FESMTPSize = true;
    FMaxSize = size.size() > 5 ? ToNumber<std::int64_t>(TrimBlank(std::string_view(size).substr(5)), 0) : 0;
}

void TSMTPSend::Authenticate() {
    std::string s = FindCap("AUTH ");
    if (s.empty()) s = FindCap("AUTH=");
    if (s.empty()) return;
    s = UpperAscii(s);

    using Mechanism = bool (TSMTPSend::*)();
    using Entry = std::pair<std::string_view, Mechanism>;
    static constexpr Entry plain{"PLAIN", &TSMTPSend::AuthPlain};
    static constexpr Entry login{"LOGIN", &TSMTPSend::AuthLogin};
    static constexpr Entry cram{"CRAM-MD5", &TSMTPSend::AuthCram};
    static constexpr Entry xOauth2{"XOAUTH2", &TSMTPSend::AuthXOauth2};
    static constexpr std::array<Entry, 4> underTls{{plain, login, cram, xOauth2}};
    // In the clear, PLAIN and LOGIN would show the password to anyone on the way.
    static constexpr std::array<Entry, 4> inTheClear{{cram, plain, login, xOauth2}};
    for (const auto& [name, mechanism] : FSock->SSL().SSLEnabled() ? underTls : inTheClear) {
        if (FAuthDone) break;
        if (s.find(name) == std::string::npos) continue;
        FAuthMechanism = name;
        FAuthDone = (this->*mechanism)();
    }
}

// User name and password are UTF-8 in every mechanism (RFC 4616, RFC 7628): servers
// compare them so, and Windows-1252 would turn other characters into "?".

bool TSMTPSend::AuthPlain() {
    std::string token(1, '\0');
    token += UserName();
    token += '\0';
    token += Password();
    return Command("AUTH PLAIN " + support::EncodeBase64(token)) == 235;
}

bool TSMTPSend::AuthLogin() {
    if (Command("AUTH LOGIN") != 334) return false;
    if (Command(support::EncodeBase64(UserName())) != 334) return false;
    return Command(support::EncodeBase64(Password())) == 235;
}

bool TSMTPSend::AuthCram() {
    if (Command("AUTH CRAM-MD5") != 334) return false;
    const std::string_view last = FResultString;
    const std::string challenge =
        support::DecodeBase64(support::AnsiFromText(last.size() > 4 ? last.substr(4) : std::string_view{}));
    const std::string digest = mime::HMAC_MD5(challenge, Password());
    return Command(support::EncodeBase64(UserName() + " " + support::StrToHex(digest))) == 235;
}

bool TSMTPSend::AuthXOauth2() {
    std::string token = "user=" + UserName();
    token += '\x01';
    token += "auth=Bearer ";
    token += Password();
    token += "\x01\x01";
    return Command("AUTH XOAUTH2 " + support::EncodeBase64(token)) == 235;
}

bool TSMTPSend::StartTLS() {
    if (FindCap("STARTTLS").empty()) return false;
    if (Command("STARTTLS", TReplyTo::StartTLS) != 220 || FSock->LastError() != 0) return false;
    if (FSock->Unread()) {
        // Bytes sent in the clear after the reply would later pass as protected.
        SetOwnReply(RefusedStartTLS);
        DropConnection();
        return false;
    }
    const ConnectionTimeLimit limit(*FSock, Timeout());
    FSock->SSLDoConnect();
    if (FSock->LastError() == 0) return true;
    // The server is in TLS and we are not: no command can reach it now.
    DropConnection();
    return false;
}

bool TSMTPSend::Logout() {
    int code = 0;
    if (!FQuitSent)
        code = Command("QUIT", TReplyTo::Quit);
    else if (Connected())
        code = Answer(TReplyTo::Quit);
    FQuitSent = false;
    FSock->CloseSocket();
    return code == 221;
}

bool TSMTPSend::Reset() {
    FSMTPUTF8 = false;
    return Between(Command("RSET"), 200, 299);
}

bool TSMTPSend::NoOp() { return Between(Command("NOOP"), 200, 299); }

std::string TSMTPSend::MailFromLine(std::string_view Value, std::int64_t Size, bool SMTPUTF8,
                                    bool Body8Bit) const {
    std::string line = "MAIL FROM:<" + std::string(Value) + ">";
    if (FESMTPSize && Size > 0) line += " SIZE=" + std::to_string(Size);
    // RFC 6152: 8-bit data is declared, and only to a server that takes it.
    if (Body8Bit && !FindCap("8BITMIME").empty()) line += " BODY=8BITMIME";
    if (!FDeliveryStatusNotification.Empty()) line += " RET=FULL";
    if (SMTPUTF8) line += " SMTPUTF8";
    return line;
}

bool TSMTPSend::MailFrom(std::string_view Value, std::int64_t Size, bool SMTPUTF8, bool Body8Bit) {
    if (RefuseAddress(Value, SMTPUTF8)) return false;
    FSMTPUTF8 = SMTPUTF8;
    const bool accepted = Between(Command(MailFromLine(Value, Size, SMTPUTF8, Body8Bit)), 200, 299);
    FSMTPUTF8 = SMTPUTF8 && accepted;
    return accepted;
}

bool TSMTPSend::MailTo(std::string_view Value) {
    if (RefuseAddress(Value, FSMTPUTF8)) return false;
    return Between(Command(MailToLine(Value)), 200, 299);
}

std::string TSMTPSend::MailToLine(std::string_view Value) const {
    std::string line = "RCPT TO:<" + std::string(Value) + ">";
    using E = TDeliveryStatusNotificationEvents;
    static constexpr std::array<std::pair<E, std::string_view>, 3> names{
        {{E::dsnSucecess, "SUCCESS"}, {E::dsnFailure, "FAILURE"}, {E::dsnDelay, "DELAY"}}};
    std::string notify;
    for (const auto& [event, name] : names)
        if (FDeliveryStatusNotification.Contains(event)) {
            if (!notify.empty()) notify += ',';
            notify += name;
        }
    if (!notify.empty()) line += " NOTIFY=" + notify + " ORCPT=" + OriginalRecipient(Value);
    return line;
}

bool TSMTPSend::Pipelining() const { return FESMTP && !FindCap("PIPELINING").empty(); }

bool TSMTPSend::MailTransaction(std::string_view From, std::int64_t Size, bool SMTPUTF8, bool Body8Bit,
                                const std::vector<std::string>& Recipients,
                                std::vector<TSMTPReply>& Replies) {
    Replies.assign(Recipients.size() + 2, TSMTPReply{});
    const auto own = [this] { return TSMTPReply{FResultCode, FFullResult}; };
    // An address that would be refused alone stops the whole flight before it leaves.
    if (RefuseAddress(From, SMTPUTF8)) {
        Replies.front() = own();
        return false;
    }
    for (std::size_t i = 0; i < Recipients.size(); ++i)
        if (RefuseAddress(Recipients[i], SMTPUTF8)) {
            Replies[i + 1] = own();
            return false;
        }
    if (!Connected() || Unsolicited()) {
        Replies.front() = own();
        return false;
    }

    FSMTPUTF8 = SMTPUTF8;
    std::string flight = CommandBytes(MailFromLine(From, Size, SMTPUTF8, Body8Bit));
    for (const std::string& to : Recipients) flight += CommandBytes(MailToLine(to));
    flight += CommandBytes("DATA");
    FSock->SendString(flight);
    if (FSock->LastError() != 0) {
        NoReply();
        Replies.front() = own();
        FSMTPUTF8 = false;
        return false;
    }
    // Exactly one reply per command, in order; a reply out of step closes the
    // connection and leaves the rest unread.
    for (std::size_t i = 0; i < Replies.size() && Connected(); ++i) {
        Answer(i + 1 == Replies.size() ? TReplyTo::Data : TReplyTo::Command);
        Replies[i] = own();
    }
    const auto accepted = [](const TSMTPReply& R) { return Between(R.Code, 200, 299); };
    FSMTPUTF8 = SMTPUTF8 && accepted(Replies.front());
    const bool envelope = std::all_of(Replies.begin(), Replies.end() - 1, accepted);
    if (Replies.back().Code != 354) return false;
    if (envelope) return true;
    // The server takes data for the recipients it accepted; ending it would deliver
    // the message to some and not to others. Closed before the end, the data is
    // dropped with the whole transaction.
    DropConnection();
    return false;
}

// The data between DATA and the final ".": lines stuffed (a leading "." doubled),
// each ended by CR LF, collected and handed to the socket whenever the next line
// would bring the collection to PieceSize bytes or more.
class TSMTPSend::TDataWriter {
public:
    TDataWriter(TSMTPSend& Client, std::size_t PieceSize) : FClient(Client), FPieceSize(PieceSize) {
        FBuffer.reserve(PieceSize + 2);
    }
    ~TDataWriter() { FClient.FSendingData = false; }
    TDataWriter(const TDataWriter&) = delete;
    TDataWriter& operator=(const TDataWriter&) = delete;

    // After the 354: the message may follow only when nothing else came with it.
    [[nodiscard]] bool Begin() {
        if (FClient.Unsolicited()) return false;
        FClient.FSendingData = true;
        return true;
    }

    // One line that holds no CR or LF.
    [[nodiscard]] bool Append(std::string_view Line) {
        if (!FBuffer.empty() && FBuffer.size() + StuffedSize(Line) >= FPieceSize && !Flush()) return false;
        if (!Line.empty() && Line.front() == '.') FBuffer += '.';
        FBuffer += Line;
        FBuffer += CRLF;
        return true;
    }

    // One message line. One holding a line break of its own (CR LF, CR or LF) goes
    // out as several lines, each stuffed, so that no part of it can end the data early.
    [[nodiscard]] bool Line(std::string_view Text) {
        // A break at the very end leaves an empty line after it, as it would in a list.
        for (std::size_t from = 0;;) {
            const mime::TTextLine line = mime::NextLine(Text, from, mime::TLineBreak::Any);
            if (!Append(line.Line)) return false;
            if (!line.Broken) return true;
            from = line.Next;
        }
    }

    // The final "." travels with the last piece: one write less, same bytes. So does
    // a QUIT that follows it.
    [[nodiscard]] bool Finish(bool ThenQuit) {
        FBuffer += ".\r\n";
        if (ThenQuit) FBuffer += FClient.CommandBytes("QUIT");
        return Flush();
    }

private:
    [[nodiscard]] bool Flush() {
        net::TTCPBlockSocket& sock = FClient.Sock();
        if (!FBuffer.empty()) sock.SendBuffer(FBuffer.data(), static_cast<int>(FBuffer.size()));
        FBuffer.clear();
        if (sock.LastError() == 0) return true;
        FClient.NoReply();
        return false;
    }

    TSMTPSend& FClient;
    const std::size_t FPieceSize;
    std::string FBuffer;
};

bool TSMTPSend::MailData(const std::vector<std::string>& Value) {
    if (Command("DATA", TReplyTo::Data) != 354) return false;
    TDataWriter data(*this, DataBufferSize);
    if (!data.Begin()) return false;
    for (const std::string& line : Value)
        if (!data.Line(line)) return false;
    return EndData(data, false);
}

bool TSMTPSend::EndData(TDataWriter& Data, bool ThenQuit) {
    // From here the server may hold the message, whatever comes of its reply.
    FDataEnded = true;
    if (!Data.Finish(ThenQuit)) return false;
    FQuitSent = ThenQuit;
    FSMTPUTF8 = false;  // the final reply ends the transaction, accepted or not
    const bool accepted = Between(Answer(TReplyTo::DataEnd), 200, 299);
    // Refused with QUIT already out: the conversation is over.
    if (!accepted && FQuitSent) DropConnection();
    return accepted;
}

bool TSMTPSend::MailData(const mime::TMessageBytes& Value) {
    if (Command("DATA", TReplyTo::Data) != 354) return false;
    return SendMessageBytes(Value, false);
}

bool TSMTPSend::SendMessage(const mime::TMessageBytes& Value, bool ThenQuit) {
    if (!Connected()) return false;
    return SendMessageBytes(Value, ThenQuit);
}

bool TSMTPSend::SendMessageBytes(const mime::TMessageBytes& Value, bool ThenQuit) {
    TDataWriter data(*this, DataWriteSize);
    if (!data.Begin()) return false;
    for (std::string_view piece : Value.Pieces()) {
        // A piece is whole lines joined by CR LF: cut at every line break, as each
        // line of the list would be cut, it gives the same lines and the same bytes.
        if (piece.ends_with(CRLF)) piece.remove_suffix(CRLF.size());
        if (!data.Line(piece)) return false;
    }
    return EndData(data, ThenQuit);
}

bool TSMTPSend::Etrn(std::string_view Value) {
    if (RefuseUnsafe(Value)) return false;
    return Between(Command("ETRN " + std::string(Value)), 250, 259);
}

bool TSMTPSend::Verify(std::string_view Value) {
    if (RefuseUnsafe(Value)) return false;
    return Between(Command("VRFY " + std::string(Value)), 250, 259);
}

}  // namespace tandrel::smtp
