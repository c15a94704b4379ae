#pragma once

#include "mime/MessageBytes.h"
#include "net/NetClient.h"
#include "net/TCPBlockSocket.h"
#include "smtp/SMTPReply.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel::smtp {

/// Delivery status notifications a client may request for its recipients.
enum class TDeliveryStatusNotificationEvents { dsnSucecess, dsnFailure, dsnDelay };

/// A set of `TDeliveryStatusNotificationEvents`; empty by default.
class TDeliveryStatusNotification {
public:
    constexpr TDeliveryStatusNotification() = default;
    constexpr TDeliveryStatusNotification(std::initializer_list<TDeliveryStatusNotificationEvents> Events) {
        for (auto e : Events) Include(e);
    }
    /// Adds `E` to the set.
    constexpr void Include(TDeliveryStatusNotificationEvents E) { FBits |= Bit(E); }
    /// Removes `E` from the set.
    constexpr void Exclude(TDeliveryStatusNotificationEvents E) { FBits &= ~Bit(E); }
    /// True when `E` is in the set.
    [[nodiscard]] constexpr bool Contains(TDeliveryStatusNotificationEvents E) const {
        return (FBits & Bit(E)) != 0;
    }
    /// True when no notification is requested.
    [[nodiscard]] constexpr bool Empty() const { return FBits == 0; }
    constexpr bool operator==(const TDeliveryStatusNotification&) const = default;

private:
    static constexpr unsigned Bit(TDeliveryStatusNotificationEvents E) {
        return 1u << static_cast<unsigned>(E);
    }
    unsigned FBits = 0;
};

/// How far `Login` got: the step it was on when it ended, `lsDone` when it succeeded.
enum class TLoginStep { lsConnect, lsGreeting, lsHello, lsStartTLS, lsAuth, lsDone };

class TSMTPSend;

/// Called by `Login` once the server's capabilities are final, before authenticating;
/// false ends the login there.
using THookBeforeAuth = std::function<bool(const TSMTPSend& Sender)>;

/// One SMTP conversation at a time over a blocking TCP socket, optionally with TLS
/// (implicit, or after STARTTLS). Never throws: every operation returns whether the
/// server accepted it and keeps the last reply readable (`ResultCode`, `ResultString`,
/// `FullResult`); connection, time-out and TLS errors are in `Sock().LastError()`.
/// Every reply belongs to exactly one command: it is read whole within `Timeout` and its
/// code is its last line's. The client closes the connection itself, without a word, as
/// soon as the conversation falls out of step: a reply not read whole in time, one the
/// command cannot have (a 250 to DATA, a 220 to MAIL FROM...), bytes from the server
/// where no reply is due, a command or the data not written whole, a failed TLS
/// handshake; also after a 421, with which the server closes. Later commands then fail
/// at once, sending nothing and leaving the reply and the socket's error that tell why.
/// Texts (commands, replies, capabilities) are UTF-8. Commands travel as Windows-1252
/// bytes, except those of a mail transaction begun with SMTPUTF8, which travel as UTF-8,
/// and the user name and password, which every mechanism sends as UTF-8; a reply line
/// is taken as UTF-8 when its bytes are valid UTF-8, else as Windows-1252.
class TSMTPSend : public net::TNetClient {
public:
    /// Port "25", Timeout 60000 ms, SystemName the local host name, no TLS, no
    /// notifications. The socket converts any line end, refuses lines over 65536
    /// bytes and sends without delay (TCP_NODELAY).
    TSMTPSend();
    /// The same over a socket of the caller's (another transport); owned from now on.
    explicit TSMTPSend(std::unique_ptr<net::TTCPBlockSocket> Sock);
    ~TSMTPSend() override;
    TSMTPSend(const TSMTPSend&) = delete;
    TSMTPSend& operator=(const TSMTPSend&) = delete;

    /// Reads one reply (all its lines), which must be whole within `Timeout` from now
    /// however its bytes are paced. Returns its code, the first three characters of its
    /// last line, and sets `ResultCode` and the enhanced code from that line: 0 when any
    /// of its lines could not be read (time-out, closed connection, line over the
    /// limit), when the code is not a number, or when the reply runs past
    /// `MaxReplyLines` lines (then the reply is a refusal of our own). A reply not read
    /// whole, or not a reply at all (code 0), closes the connection: what follows can no
    /// longer be trusted; so does a 421 (the server is closing).
    int ReadResult();
    /// Parses the enhanced status code ("550 5.1.1 text" gives 5, 1, 1) into
    /// `EnhCode1`..`EnhCode3`; all three stay 0 when the line has none.
    void EnhancedCode(std::string_view Value);
    /// "Success-", "Persistent Transient Failure-", "Permanent Failure-" or "???-"
    /// followed by the description of the last enhanced status code (empty if unknown).
    [[nodiscard]] std::string EnhCodeString() const;
    /// The first capability line starting with `Value` (case ignored), as stored; empty if none.
    [[nodiscard]] std::string FindCap(std::string_view Value) const;

    /// Closes any connection, binds to `IPInterface`, connects to `TargetHost`:`TargetPort`
    /// and, with `FullSSL`, does the TLS handshake. False, closed, with the socket's
    /// error otherwise. Without a `ConnectionTimeout` on the socket, `Timeout` bounds
    /// the connect and the handshake (also that of `StartTLS`).
    [[nodiscard]] bool Connect();
    /// True while a connection is open, and so in step: a command sent now is
    /// understood as the next one.
    [[nodiscard]] bool Connected() const;
    /// Sends "HELO " + the name of `HelloName`; true on 250..259. Refuses (false,
    /// nothing sent) a `SystemName` holding CR or LF.
    [[nodiscard]] bool Helo();
    /// Sends "EHLO " + the name of `HelloName`; true on 250..259. Refuses like `Helo`.
    [[nodiscard]] bool Ehlo();
    /// The name EHLO and HELO give: `SystemName` when it is a domain or an address
    /// literal; for a bare name ("vm") the fully qualified name the system knows for
    /// it, else the address literal of the connection's local address ("[192.0.2.10]",
    /// "[IPv6:2001:db8::1]"); an address becomes its literal.
    [[nodiscard]] std::string HelloName();
    /// Connect, greeting 220, EHLO (else HELO), STARTTLS when `AutoTLS` and offered,
    /// SIZE, `OnBeforeAuth`, authentication when a user name or password is set (PLAIN,
    /// LOGIN, CRAM-MD5, XOAUTH2 in that order under TLS; in the clear CRAM-MD5 first,
    /// which does not reveal the password). False when connect, greeting, both greetings
    /// or STARTTLS fail, when `OnBeforeAuth` says no (the connection stays open and in
    /// step), or when the connection was lost or fell out of step on the way (also when
    /// the server has said more than its replies at the end); a refused authentication
    /// does not fail it (see `AuthDone`). With `AutoTLS` and the socket's `VerifyCert` set,
    /// also false (before authenticating) when the server does not offer STARTTLS.
    /// `LoginStep` tells where it ended.
    [[nodiscard]] bool Login();
    /// Sends "QUIT" (unless `SendMessage` sent it already); true on 221. The socket is
    /// closed whatever the reply.
    [[nodiscard]] bool Logout();
    /// Sends "RSET"; true on 200..299.
    [[nodiscard]] bool Reset();
    /// Sends "NOOP"; true on 200..299.
    [[nodiscard]] bool NoOp();
    /// Sends "MAIL FROM:<Value>", with " SIZE=n" when the server announced SIZE and
    /// `Size` > 0, " BODY=8BITMIME" when `Body8Bit` (the message holds 8-bit bytes) and
    /// the server announced 8BITMIME, " RET=FULL" when notifications are requested and
    /// " SMTPUTF8" when `SMTPUTF8` is set; true on 200..299. An accepted SMTPUTF8 begins a
    /// transaction whose commands go out in UTF-8 until the data is sent, `Reset` or the
    /// next `Login`. Refuses (false, nothing sent, `ResultCode` 0) a `Value` holding CR or
    /// LF, or one with non-ASCII letters without `SMTPUTF8` (its bytes would name another
    /// mailbox).
    [[nodiscard]] bool MailFrom(std::string_view Value, std::int64_t Size, bool SMTPUTF8 = false,
                                bool Body8Bit = false);
    /// Sends "RCPT TO:<Value>", with " NOTIFY=... ORCPT=rfc822;Value" when notifications
    /// are requested (" ORCPT=utf-8;" and the address, `+`, `=`, `\` and blanks written
    /// as "\x{HH}", for a non-ASCII one); true on 200..299. Refuses a `Value` holding CR
    /// or LF, or one with non-ASCII letters outside an SMTPUTF8 transaction.
    [[nodiscard]] bool MailTo(std::string_view Value);
    /// Sends "DATA", then the message lines (bytes, sent unchanged except that a leading
    /// "." is doubled and a line holding CR or LF goes out as several lines) in pieces
    /// under 1500 bytes, then "."; true on 354 and then 200..299. A failed write ends it
    /// with `ResultCode` 0 and the socket's error.
    [[nodiscard]] bool MailData(const std::vector<std::string>& Value);
    /// MailData of the lines of a composed message, handed to the socket in pieces of
    /// about `DataWriteSize` bytes instead: fewer, larger writes of the same bytes.
    [[nodiscard]] bool MailData(const mime::TMessageBytes& Value);
    /// True when the server offers PIPELINING (RFC 2920) in this conversation.
    [[nodiscard]] bool Pipelining() const;
    /// Begins a mail transaction in one flight, for a server that offers PIPELINING:
    /// MAIL FROM (as `MailFrom`), one RCPT TO per recipient (as `MailTo`) and DATA go out
    /// in one write, then their replies are read in order, each whole within `Timeout`.
    /// `Replies` gets one reply per command (sender, each recipient, DATA); one not read
    /// keeps code 0 and no line. True when the sender and every recipient were accepted
    /// (200..299) and DATA was answered 354: the message follows with `SendMessage`.
    /// When DATA was answered 354 although the sender or a recipient was refused, the
    /// connection is closed without ending the data, so the server drops the transaction
    /// and nobody gets the message. An address `MailFrom` or `MailTo` would refuse sends
    /// nothing: its reply is that refusal (code 0).
    [[nodiscard]] bool MailTransaction(std::string_view From, std::int64_t Size, bool SMTPUTF8, bool Body8Bit,
                                       const std::vector<std::string>& Recipients,
                                       std::vector<TSMTPReply>& Replies);
    /// After DATA's 354: the message as `MailData` sends it and its final "."; with
    /// `ThenQuit` also "QUIT" in the same write, for a conversation that ends with this
    /// message and a server that offers PIPELINING: `Logout` then reads QUIT's reply
    /// without sending it again, and a refused message closes the connection. True when
    /// the end of data is answered 200..299.
    [[nodiscard]] bool SendMessage(const mime::TMessageBytes& Value, bool ThenQuit);
    /// True once the end of a message went out on this connection: the server may hold
    /// that message whatever its reply said (until the next `Login`).
    [[nodiscard]] bool DataEnded() const { return FDataEnded; }
    /// True while an authentication exchange runs: every line written then carries
    /// secrets (the AUTH line's initial response, each answer to a challenge).
    [[nodiscard]] bool Authenticating() const { return FAuthenticating; }
    /// True while the message is written, from after DATA's 354 to its final "." (and a
    /// QUIT that travels with it).
    [[nodiscard]] bool SendingData() const { return FSendingData; }
    /// Sends "ETRN " + `Value`; true on 250..259. Refuses a `Value` holding CR or LF.
    [[nodiscard]] bool Etrn(std::string_view Value);
    /// Sends "VRFY " + `Value`; true on 250..259. Refuses a `Value` holding CR or LF.
    [[nodiscard]] bool Verify(std::string_view Value);
    /// Sends "STARTTLS" when the server offers it; true on 220 and a completed TLS
    /// handshake. False without a handshake when bytes beyond the 220 reply are
    /// already waiting: they came in the clear and must not pass as protected.
    [[nodiscard]] bool StartTLS();

    /// Code of the last reply; 0 when none could be read.
    [[nodiscard]] int ResultCode() const { return FResultCode; }
    /// Last line of the last reply.
    [[nodiscard]] const std::string& ResultString() const { return FResultString; }
    /// All lines of the last reply.
    [[nodiscard]] const std::vector<std::string>& FullResult() const { return FFullResult; }
    /// Capability lines of the last EHLO reply, without their four-character prefix.
    [[nodiscard]] const std::vector<std::string>& ESMTPcap() const { return FESMTPcap; }
    /// True when the server answered EHLO (not only HELO).
    [[nodiscard]] bool ESMTP() const { return FESMTP; }
    /// True when an authentication succeeded.
    [[nodiscard]] bool AuthDone() const { return FAuthDone; }
    /// The mechanism of the last authentication tried in this conversation ("PLAIN",
    /// "LOGIN", "CRAM-MD5", "XOAUTH2"); empty when none was tried.
    [[nodiscard]] const std::string& AuthMechanism() const { return FAuthMechanism; }
    /// The step the last `Login` ended on.
    [[nodiscard]] TLoginStep LoginStep() const { return FLoginStep; }
    /// True when the server announced SIZE.
    [[nodiscard]] bool ESMTPSize() const { return FESMTPSize; }
    /// The size the server announced, 0 when none.
    [[nodiscard]] std::int64_t MaxSize() const { return FMaxSize; }
    /// Class, subject and detail of the last reply's enhanced status code; all 0 when it had none.
    [[nodiscard]] int EnhCode1() const { return FEnhCode1; }
    [[nodiscard]] int EnhCode2() const { return FEnhCode2; }
    [[nodiscard]] int EnhCode3() const { return FEnhCode3; }
    /// The socket this client drives (owned by the client).
    [[nodiscard]] net::TTCPBlockSocket& Sock() { return *FSock; }
    [[nodiscard]] const net::TTCPBlockSocket& Sock() const { return *FSock; }

    /// Name for EHLO and HELO (see `HelloName`).
    [[nodiscard]] const std::string& SystemName() const { return FSystemName; }
    void SetSystemName(std::string V) { FSystemName = std::move(V); }
    /// Use STARTTLS when the server offers it.
    [[nodiscard]] bool AutoTLS() const { return FAutoTLS; }
    void SetAutoTLS(bool V) { FAutoTLS = V; }
    /// Start TLS right after connecting.
    [[nodiscard]] bool FullSSL() const { return FFullSSL; }
    void SetFullSSL(bool V) { FFullSSL = V; }
    /// Notifications requested with MAIL FROM and RCPT TO.
    [[nodiscard]] TDeliveryStatusNotification DeliveryStatusNotification() const {
        return FDeliveryStatusNotification;
    }
    void SetDeliveryStatusNotification(TDeliveryStatusNotification V) { FDeliveryStatusNotification = V; }
    /// Asked by `Login` before it authenticates, when the capabilities (and `MaxSize`)
    /// are known; unset, the login goes on.
    [[nodiscard]] const THookBeforeAuth& OnBeforeAuth() const { return FOnBeforeAuth; }
    void SetOnBeforeAuth(THookBeforeAuth V) { FOnBeforeAuth = std::move(V); }

    /// Longest line the socket accepts in a reply, in bytes.
    static constexpr int MaxReplyLineLength = 65536;
    /// Most lines read for one reply.
    static constexpr int MaxReplyLines = 10000;
    /// Size at which `MailData` of a line list hands its buffer to the socket.
    static constexpr std::size_t DataBufferSize = 1500;
    /// The same for `MailData` of a composed message: one piece of the socket's own.
    static constexpr std::size_t DataWriteSize = 65536;

private:
    // What a reply answers, which decides the codes that fit it.
    enum class TReplyTo { Command, Hello, StartTLS, Auth, Cancel, Data, DataEnd, Quit };
    class TDataWriter;
    // Sends the message's pieces after DATA's 354, then its end.
    [[nodiscard]] bool SendMessageBytes(const mime::TMessageBytes& Value, bool ThenQuit);
    // Ends the data with "." (and QUIT with ThenQuit) and reads the reply that ends the
    // transaction.
    [[nodiscard]] bool EndData(TDataWriter& Data, bool ThenQuit);

    [[nodiscard]] bool AuthPlain();
    [[nodiscard]] bool AuthLogin();
    [[nodiscard]] bool AuthCram();
    [[nodiscard]] bool AuthXOauth2();

    // The bytes of a command line, its CR LF included.
    [[nodiscard]] std::string CommandBytes(std::string_view Line) const;
    [[nodiscard]] bool SendCommand(std::string_view Line);
    // Sends Line once nothing unread is waiting and reads its reply; 0 (and the
    // connection closed) when the conversation is out of step. Replies during an
    // authentication are judged as AUTH's.
    int Command(std::string_view Line);
    int Command(std::string_view Line, TReplyTo What);
    // Reads the reply to What: 0 and closed when it is no answer to What.
    int Answer(TReplyTo What);
    // The server said something no command asked for: refusal of our own, closed.
    int OutOfTurn();
    // Ends an authentication exchange the server still holds open (its last reply a
    // 334 challenge the client will not answer) with "*", which it must refuse.
    void CancelOpenExchange();
    // True (out of turn, closed) when the server has sent bytes nobody read yet.
    [[nodiscard]] bool Unsolicited();
    int NoReply();
    // Closes the connection once the conversation is out of step.
    void DropConnection();
    // True, with the client's own refusal as the reply, when TLS is asked for with a
    // certificate check and the conversation is still in the clear.
    [[nodiscard]] bool RefuseWithoutTLS();
    // True (and a reply-shaped refusal recorded) when Argument holds CR or LF.
    [[nodiscard]] bool RefuseUnsafe(std::string_view Argument);
    // As RefuseUnsafe, and also true for a non-ASCII address outside SMTPUTF8.
    [[nodiscard]] bool RefuseAddress(std::string_view Address, bool SMTPUTF8);
    // Records a reply the client made up itself (code 0), so callers that log
    // `ResultString` show why nothing was sent or read.
    void SetOwnReply(std::string_view Text);
    void ReadCapabilities();
    void ReadSize();
    void Authenticate();
    [[nodiscard]] std::string MailFromLine(std::string_view Value, std::int64_t Size, bool SMTPUTF8,
                                           bool Body8Bit) const;
    [[nodiscard]] std::string MailToLine(std::string_view Value) const;

    std::unique_ptr<net::TTCPBlockSocket> FSock;
    int FResultCode = 0;
    std::string FResultString;
    std::vector<std::string> FFullResult;
    std::vector<std::string> FESMTPcap;
    bool FESMTP = false;
    bool FAuthDone = false;
    std::string FAuthMechanism;
    TLoginStep FLoginStep = TLoginStep::lsConnect;
    THookBeforeAuth FOnBeforeAuth;
    bool FESMTPSize = false;
    std::int64_t FMaxSize = 0;
    int FEnhCode1 = 0;
    int FEnhCode2 = 0;
    int FEnhCode3 = 0;
    std::string FSystemName;
    bool FAutoTLS = false;
    bool FFullSSL = false;
    TDeliveryStatusNotification FDeliveryStatusNotification;
    // The current mail transaction was begun with SMTPUTF8: its commands are UTF-8.
    bool FSMTPUTF8 = false;
    bool FAuthenticating = false;
    bool FSendingData = false;
    // QUIT went out with the end of data; Logout reads its reply.
    bool FQuitSent = false;
    bool FDataEnded = false;
    // The bare SystemName last looked up, and the fully qualified name found for it.
    std::string FLookedUpName;
    std::string FFullName;
};

}  // namespace tandrel::smtp
