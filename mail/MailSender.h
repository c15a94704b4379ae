#pragma once

#include "mail/CertificateTrust.h"
#include "mail/MailAttachment.h"
#include "mail/MailFailure.h"
#include "mail/MailStatus.h"
#include "mail/MainThreadDispatcher.h"
#include "mime/Charsets.h"
#include "mime/MessHeader.h"
#include "mime/MessageBytes.h"
#include "mime/MimeMess.h"
#include "smtp/SMTPSend.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace tandrel::mail {

class TMailSender;

/// Called with the component before and after a send.
using TNotifyEvent = std::function<void(const TMailSender& Sender)>;
/// Called with the component and the step the send has reached.
using TOnMailProcess = std::function<void(const TMailSender& AMail, TMailStatus aStatus)>;
/// Called with the component and the number of the try a step starts after its previous
/// try failed (2 up to `Attempts()`).
using TOnMailAttempt = std::function<void(const TMailSender& AMail, unsigned Attempt)>;
/// Called with the component and the error about to be raised; clearing `ThrowIt`
/// turns the error into the silent abort (`EAbort`).
using TOnMailException =
    std::function<void(const TMailSender& AMail, const std::exception& E, bool& ThrowIt)>;
/// Called with the component and a server certificate that failed the check; setting
/// `Trust` trusts it for that host (false on entry).
using TOnCertificateQuestion =
    std::function<void(const TMailSender& AMail, const TCertificateQuestion& Question, bool& Trust)>;

namespace detail {

/// The settings and content of a mail that TMailSender::Assign copies, in one
/// assignment: a field added here travels with the copy. What the SMTP client and
/// the message header hold, and the attachments, Assign copies on its own.
struct TMailSenderAssigned {
    bool fReadingConfirmation = false;
    bool fDeliveryConfirmation = false;
    TOnMailProcess fOnMailProcess;
    TOnMailAttempt fOnMailAttempt;
    TOnMailException fOnMailException;
    bool fIsHTML = false;
    std::uint8_t fAttempts = 3;
    std::string fFrom;
    std::string fFromName;
    std::string fSubject;
    std::vector<std::string> fBody;
    std::vector<std::string> fAltBody;
    std::vector<std::string> fReplyTo;
    std::vector<std::string> fBCC;
    std::int32_t fTimeOut = 0;
    bool fUseThread = false;
    mime::TMimeChar fDefaultCharsetCode = mime::TMimeChar::UTF_8;
    mime::TMimeChar fIDECharsetCode = mime::TMimeChar::CP1252;
    TNotifyEvent fOnAfterMailProcess;
    TNotifyEvent fOnBeforeMailProcess;
    std::vector<TTrustedCertificate> fTrustedCertificates;
    TOnCertificateQuestion fOnCertificateQuestion;
    bool fStrictAuth = false;
    std::intptr_t fTag = 0;
    std::shared_ptr<IMainThreadDispatcher> fDispatcher;
};

}  // namespace detail

/// One outgoing e-mail and everything needed to send it: sender, recipients, subject,
/// a plain-text and an HTML body, attachments, delivery options and the SMTP server.
/// Properties are UTF-8 text. Every failure leaves through `DoException`: the handler
/// of `OnMailException` may turn it into `EAbort`; otherwise a std::runtime_error
/// with the component's message is raised. Server settings live in the owned SMTP
/// client (`SMTP()`), the To and CC lists in the owned message's header (`MIMEMess()`).
class TMailSender : private detail::TMailSenderAssigned {
public:
    /// Creates the SMTP client and the message; applies the defaults (port "25",
    /// host "127.0.0.1", `Attempts` 3, `MP_normal`, `UTF_8` out of `CP1252` text).
    TMailSender();
    /// The same with an SMTP client of the caller's (over another transport, say).
    explicit TMailSender(std::unique_ptr<smtp::TSMTPSend> Client);
    ~TMailSender();
    TMailSender(const TMailSender&) = delete;
    TMailSender& operator=(const TMailSender&) = delete;

    // Server settings, read and written in the SMTP client.
    [[nodiscard]] const std::string& Host() const;
    void SetHost(const std::string& Value);
    [[nodiscard]] const std::string& Port() const;
    void SetPort(const std::string& Value);
    [[nodiscard]] const std::string& Username() const;
    void SetUsername(const std::string& Value);
    [[nodiscard]] const std::string& Password() const;
    void SetPassword(const std::string& Value);
    /// TLS from the first byte.
    [[nodiscard]] bool SetSSL() const;
    void SetSSL(bool Value);
    /// STARTTLS when the server offers it.
    [[nodiscard]] bool SetTLS() const;
    void SetTLS(bool Value);
    /// Over TLS, checks the server's certificate: its chain against `CertCAFile` (the
    /// system's authorities when empty) and its names against `Host`. Off by default:
    /// any certificate is then accepted. Read and written in the socket's TLS plug-in.
    [[nodiscard]] bool VerifyCert() const;
    void SetVerifyCert(bool Value);
    /// File of the authorities (PEM) the check trusts instead of the system's.
    [[nodiscard]] const std::string& CertCAFile() const;
    void SetCertCAFile(const std::string& Value);
    /// Certificates trusted although they fail the check, each for its host: a send gives
    /// those of `Host` to the TLS plug-in. A send adds the one `OnCertificateQuestion`
    /// trusts; nothing else changes the list (`Clear` neither).
    [[nodiscard]] std::vector<TTrustedCertificate>& TrustedCertificates() { return fTrustedCertificates; }
    [[nodiscard]] const std::vector<TTrustedCertificate>& TrustedCertificates() const {
        return fTrustedCertificates;
    }
    /// With a user name or password set, a send whose login did not authenticate (the
    /// server offers no AUTH, none of the client's mechanisms, or refuses) fails before
    /// MAIL FROM. Off by default: the send goes on and the server decides
    /// (`SMTP().AuthDone()` tells whether the login happened).
    [[nodiscard]] bool StrictAuth() const { return fStrictAuth; }
    void SetStrictAuth(bool Value) { fStrictAuth = Value; }

    /// The message header's priority.
    [[nodiscard]] mime::TMessPriority Priority() const;
    void SetPriority(mime::TMessPriority Value);

    /// Asks for a read receipt (Disposition-Notification-To).
    [[nodiscard]] bool ReadingConfirmation() const { return fReadingConfirmation; }
    void SetReadingConfirmation(bool Value) { fReadingConfirmation = Value; }
    /// Asks for delivery status notifications and a return receipt; the send fails
    /// when the server offers no DSN, before the login authenticates.
    [[nodiscard]] bool DeliveryConfirmation() const { return fDeliveryConfirmation; }
    void SetDeliveryConfirmation(bool Value) { fDeliveryConfirmation = Value; }
    /// `Body` holds HTML and is sent; when false `Body` is never sent.
    [[nodiscard]] bool IsHTML() const { return fIsHTML; }
    void SetIsHTML(bool Value) { fIsHTML = Value; }
    /// What `Send()` without argument does: true sends on a thread of its own.
    [[nodiscard]] bool UseThread() const { return fUseThread; }
    void SetUseThread(bool Value) { fUseThread = Value; }
    /// Milliseconds; above 0 it replaces the client's reply and connection time-outs.
    [[nodiscard]] std::int32_t TimeOut() const { return fTimeOut; }
    void SetTimeOut(std::int32_t Value) { fTimeOut = Value; }
    /// Tries of each send step; storing a value below 2 gives 1.
    [[nodiscard]] std::uint8_t Attempts() const { return fAttempts; }
    void SetAttempts(std::uint8_t Value);

    /// Sender address (text).
    [[nodiscard]] const std::string& From() const { return fFrom; }
    void SetFrom(std::string Value) { fFrom = std::move(Value); }
    /// Sender display name (text); the mail carries it as given, in From and in the
    /// receipt requests.
    [[nodiscard]] const std::string& FromName() const { return fFromName; }
    void SetFromName(std::string Value) { fFromName = std::move(Value); }
    [[nodiscard]] const std::string& Subject() const { return fSubject; }
    void SetSubject(std::string Value) { fSubject = std::move(Value); }
    /// Character set the message's text goes out in.
    [[nodiscard]] mime::TMimeChar DefaultCharset() const { return fDefaultCharsetCode; }
    void SetDefaultCharset(mime::TMimeChar Value) { fDefaultCharsetCode = Value; }
    /// Character set of the 8-bit text the bodies become (the system code page).
    [[nodiscard]] mime::TMimeChar IDECharset() const { return fIDECharsetCode; }
    void SetIDECharset(mime::TMimeChar Value) { fIDECharsetCode = Value; }

    /// Called before a message is built.
    [[nodiscard]] const TNotifyEvent& OnBeforeMailProcess() const { return fOnBeforeMailProcess; }
    void SetOnBeforeMailProcess(TNotifyEvent Value) { fOnBeforeMailProcess = std::move(Value); }
    /// Called at every step of building and sending.
    [[nodiscard]] const TOnMailProcess& OnMailProcess() const { return fOnMailProcess; }
    void SetOnMailProcess(TOnMailProcess Value) { fOnMailProcess = std::move(Value); }
    /// Called when a step is tried again: the login on a new connection, or a command
    /// the server refused for the time being.
    [[nodiscard]] const TOnMailAttempt& OnMailAttempt() const { return fOnMailAttempt; }
    void SetOnMailAttempt(TOnMailAttempt Value) { fOnMailAttempt = std::move(Value); }
    /// Called after a successful send.
    [[nodiscard]] const TNotifyEvent& OnAfterMailProcess() const { return fOnAfterMailProcess; }
    void SetOnAfterMailProcess(TNotifyEvent Value) { fOnAfterMailProcess = std::move(Value); }
    /// Called with every error before it is raised.
    [[nodiscard]] const TOnMailException& OnMailException() const { return fOnMailException; }
    void SetOnMailException(TOnMailException Value) { fOnMailException = std::move(Value); }
    /// Called at most once a send, when the server's certificate fails the check (nothing
    /// has gone to the server after the handshake). Trusted: the certificate joins
    /// `TrustedCertificates` for `Host` and the login tries again at once. Not trusted:
    /// the send fails at the login with no further try. Unset: a failed check fails the
    /// login try as any failed connection does.
    [[nodiscard]] const TOnCertificateQuestion& OnCertificateQuestion() const {
        return fOnCertificateQuestion;
    }
    void SetOnCertificateQuestion(TOnCertificateQuestion Value) { fOnCertificateQuestion = std::move(Value); }

    /// Free for the caller's use; copied by `Assign`.
    [[nodiscard]] std::intptr_t Tag() const { return fTag; }
    void SetTag(std::intptr_t Value) { fTag = Value; }
    /// How a threaded send runs its events on the main thread; without one they run
    /// on the sending thread. Copied by `Assign`.
    [[nodiscard]] const std::shared_ptr<IMainThreadDispatcher>& MainThreadDispatcher() const {
        return fDispatcher;
    }
    void SetMainThreadDispatcher(std::shared_ptr<IMainThreadDispatcher> Value) {
        fDispatcher = std::move(Value);
    }

    /// The owned SMTP client and message.
    [[nodiscard]] smtp::TSMTPSend& SMTP() { return *fSMTP; }
    [[nodiscard]] const smtp::TSMTPSend& SMTP() const { return *fSMTP; }
    [[nodiscard]] mime::TMimeMess& MIMEMess() { return *fMIMEMess; }
    [[nodiscard]] const mime::TMimeMess& MIMEMess() const { return *fMIMEMess; }
    [[nodiscard]] TMailAttachments& Attachments() { return fAttachments; }
    [[nodiscard]] const TMailAttachments& Attachments() const { return fAttachments; }
    /// Blind-copy addresses (text), one a line.
    [[nodiscard]] std::vector<std::string>& BCC() { return fBCC; }
    [[nodiscard]] const std::vector<std::string>& BCC() const { return fBCC; }
    /// Reply-to entries (text), one a line.
    [[nodiscard]] std::vector<std::string>& ReplyTo() { return fReplyTo; }
    [[nodiscard]] const std::vector<std::string>& ReplyTo() const { return fReplyTo; }
    /// Plain-text body lines (text).
    [[nodiscard]] std::vector<std::string>& AltBody() { return fAltBody; }
    [[nodiscard]] const std::vector<std::string>& AltBody() const { return fAltBody; }
    /// HTML body lines (text), sent only when `IsHTML`.
    [[nodiscard]] std::vector<std::string>& Body() { return fBody; }
    [[nodiscard]] const std::vector<std::string>& Body() const { return fBody; }
    /// The message of the last send error, kept until the next one.
    [[nodiscard]] const std::string& GetLastSmtpError() const { return fGetLastSmtpError; }
    /// What ended the last send, as parts (step, the server's reply, the socket's error):
    /// taken when it failed, before the QUIT that follows. `mfsNone` until a send fails;
    /// every send begins by emptying it.
    [[nodiscard]] const TMailFailure& LastFailure() const { return fLastFailure; }
    /// The stored copy of the last built message: bytes, lines ended by CR LF.
    [[nodiscard]] std::string StoredMessage() const { return fArqMIMe.Joined(); }

    /// Empties the content: attachments, header (priority becomes `MP_unknown`), parts,
    /// `ReplyTo`, `BCC`, `Subject`, `Body`, `AltBody`. Settings and events stay.
    void Clear();
    /// Frees every attachment record.
    void ClearAttachments() { fAttachments.Clear(); }

    /// Adds to the To list: `"aName" <aEmail>` when the name is not blank, otherwise
    /// `aEmail` split at its first-found delimiter of ";,|".
    void AddAddress(const std::string& aEmail, const std::string& aName = {});
    /// Adds to `ReplyTo`, as `AddAddress`.
    void AddReplyTo(const std::string& aEmail, const std::string& aName = {});
    /// Adds to the CC list, as `AddAddress`.
    void AddCC(const std::string& aEmail, const std::string& aName = {});
    /// Adds to `BCC`, always splitting like an unnamed `AddAddress`.
    void AddBCC(const std::string& aEmail);

    /// Attaches a copy of the file's bytes; the description defaults to the file's own
    /// name (after the last "/", the only folder separator). A missing file fails with
    /// "Add Attachment: File not Exists.".
    void AddAttachment(const std::string& aFileName, const std::string& aDescription,
                       TMailAttachmentDisposition aDisposition);
    /// Same with an empty description and `adInline`.
    void AddAttachment(const std::string& aFileName);
    /// Attaches a copy of the whole stream (read from its start); a blank description
    /// becomes "file_" + the local time "hhnnsszzz". A null stream fails with
    /// "Add Attachment: Access Violation.".
    void AddAttachment(std::istream* aStream, const std::string& aDescription,
                       TMailAttachmentDisposition aDisposition);
    /// Same with an empty description and `adInline`.
    void AddAttachment(std::istream* aStream);

    /// Copies settings, events, content and attachments of `Source` (attachments are
    /// appended to those already here).
    void Assign(const TMailSender& Source);
    /// Refuses anything that is not a `TMailSender` (null included) with
    /// std::invalid_argument "Source must be TMailSender", leaving this one unchanged.
    template <class T>
    void Assign(const T* Source) {
        if constexpr (std::is_base_of_v<TMailSender, T>) {
            if (Source != nullptr) return Assign(*static_cast<const TMailSender*>(Source));
        }
        throw std::invalid_argument("Source must be TMailSender");
    }

    /// Builds the message, writes the stored copy to `AFileName` (unless empty), then
    /// clears. The file is written beside and renamed into place: it is whole or, when
    /// it cannot be written, the earlier file of that name stays as it was and the
    /// failure goes through `DoException` with the system's reason.
    void SaveToFile(const std::string& AFileName);
    /// Writes the stored copy at the stream's position; false on a null or failing stream.
    [[nodiscard]] bool SaveToStream(std::ostream* AStream) const;

    /// Fills the header, builds the part tree (a "mixed" root, or "alternative" holding the
    /// text and a "related" part when an HTML mail has both bodies; bodies base64 in
    /// `DefaultCharset`, attachments base64 and unconverted, a text/xml one labelled with the
    /// encoding its declaration names), encodes the message and replaces the stored copy.
    /// The header's addresses (To and CC entries included) get their non-ASCII domains as
    /// IDNA A-labels, and a header without a Message-ID gets a new one at the sender's
    /// domain. Reports the first three steps; does not clear. An error of an event handler
    /// passes through unchanged.
    void BuildMimeMess();

    /// Sends now: on a thread of its own with a copy when `UseThreadNow`, else here: builds,
    /// logs in, sends the envelope (domains as A-labels; with SMTPUTF8 when a local part is
    /// not ASCII) and the data, each step tried `Attempts` times, and clears. Success means
    /// the server's 250 to the end of the data was read. A failure raises "SMTP Error: ..."
    /// (or `EAbort`, see `DoException`) after reporting `pmsError`, and clears too;
    /// `GetLastSmtpError` keeps its message, which ends with the server's answers and,
    /// where the connection failed, the socket's error. A connection still in step hears
    /// QUIT first; one that fell out of step (a reply not read in time, say) was closed
    /// without a word, and the step's further tries fail at once (only `Login` tries again,
    /// on a new connection). An address whose domain is no valid international name fails
    /// before connecting, and one that needs SMTPUTF8 from a server that lacks it fails
    /// before MAIL FROM; both messages name the address. Before authenticating, the send
    /// fails when delivery receipts are asked of a server without DSN, or the message is
    /// larger than the server's SIZE (the message names both sizes). With `StrictAuth`, a
    /// login that did not authenticate fails the send before MAIL FROM. `LastFailure`
    /// tells which step failed and why.
    void Send(bool UseThreadNow);
    /// `Send(UseThread())`.
    void Send() { Send(fUseThread); }
    /// Sends a message built elsewhere (bytes, lines ended by CR LF) as it is, here, with
    /// the steps, retries, events and errors of `Send(false)` from `pmsLoginSMTP` on: the
    /// envelope is `From` and the To, CC and BCC lists; nothing is built. Clears at the end.
    void SendBuiltMessage(std::string aMessage);
    /// Starts a threaded send of a copy of `MailToClone` and returns at once; threaded
    /// sends run one at a time and never raise to the caller. A null mail fails with
    /// std::invalid_argument "MailToClone not specified".
    static void SendEmailByThread(const TMailSender* MailToClone);

    /// Reports `aStatus` to `OnMailProcess` when set; a failure after it is ascribed to
    /// that step.
    void MailProcess(TMailStatus aStatus);
    /// Raises `E`, or `EAbort` when the `OnMailException` handler clears `ThrowIt`.
    [[noreturn]] void DoException(const std::runtime_error& E) const;

private:
    friend class TMailSenderThread;

    void SendMail();
    void SendBuilt();
    void ApplyHostToTLS();
    // Ends the send; the failure is ascribed to `Step`, or to the step last reported.
    [[noreturn]] void SmtpError(const std::string& pMsgError,
                                std::optional<TMailFailureStep> Step = std::nullopt);
    [[nodiscard]] TMailFailureStep ReportedStep() const;
    [[nodiscard]] TMailFailureStep LoginFailureStep() const;
    [[nodiscard]] TMailFailure FailureOf(TMailFailureStep Step) const;
    // The operator's answer about a certificate, for one send.
    struct TCertificateAnswer {
        bool Asked = false;
        bool Trusted = false;
    };
    // The login step with the retry rule; then, with `StrictAuth`, the send ends unless
    // the login authenticated.
    void LogIn(std::string& ErrorMsgs);
    // One try of the login step (a certificate trusted when asked is tried again at once).
    [[nodiscard]] bool LoginTry();
    // True when the last handshake failed on a certificate the operator can be asked about.
    [[nodiscard]] bool CertificateFailed() const;
    [[nodiscard]] bool AskAboutCertificate();
    // The SMTP client's hook before it authenticates: false (and the reason kept) when
    // this send cannot go to this server.
    [[nodiscard]] bool CheckBeforeAuth();
    [[nodiscard]] bool RefuseBeforeAuth(std::string Message, TMailFailureStep Step);
    void RequireAuthentication();
    void QuitAfterFailure();
    // Tries a step until it succeeds or has failed `Attempts` times, `Failed` of them
    // already; then the send ends with `FailureText` and the answers gathered.
    template <class TStep>
    void Retry(const TStep& Step, const char* FailureText, std::string& ErrorMsgs, unsigned Failed = 0);
    // The envelope of one send and how far it got (defined with the send flow).
    struct TEnvelope;
    [[nodiscard]] TEnvelope Envelope() const;
    // Reports a step of the envelope once per send.
    void Report(TEnvelope& Envelope, TMailStatus Status);
    // Sender, recipients and data one command at a time, each with the retry rule,
    // from where the envelope stands.
    void SendStepByStep(TEnvelope& Envelope, std::string& ErrorMsgs);
    // Sender, recipients and DATA in one flight; on a refusal on from there step by step.
    void SendPipelined(TEnvelope& Envelope, std::string& ErrorMsgs);
    // Counts the refusals of a flight as failed tries and gathers their answers.
    void JudgeFlight(TEnvelope& Envelope, const std::vector<smtp::TSMTPReply>& Replies,
                     std::string& ErrorMsgs) const;
    // Sender, To, CC, BCC and reply-to addresses, domains as A-labels.
    [[nodiscard]] std::vector<std::string> MailAddresses() const;
    // Ends the send when an address keeps a domain libidn2 refused.
    void CheckDomains(const std::vector<std::string>& Addresses);
    // True when an address needs SMTPUTF8; ends the send when the server lacks it.
    [[nodiscard]] bool NeedsSMTPUTF8(const std::vector<std::string>& Addresses);
    void AddEmailWithDelimitersToList(const std::string& aEmail, std::vector<std::string>& aList);
    void AddNamed(const std::string& aEmail, const std::string& aName, std::vector<std::string>& aList);
    void BuildHeader();
    void BuildParts();

    std::unique_ptr<smtp::TSMTPSend> fSMTP;
    std::unique_ptr<mime::TMimeMess> fMIMEMess;
    // Shares its pieces with the message's parts: the stored copy costs no body.
    mime::TMessageBytes fArqMIMe;
    TMailAttachments fAttachments;
    std::string fGetLastSmtpError;
    TMailFailure fLastFailure;
    TMailStatus fStatus = TMailStatus::pmsStartProcess;
    struct TRefusal {
        std::string Message;
        TMailFailureStep Step;
    };
    std::optional<TRefusal> fRefusedBeforeAuth;
    TCertificateAnswer fCertificateAnswer;  // of the current send
};

}  // namespace tandrel::mail
