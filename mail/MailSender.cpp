#include "mail/MailSender.h"

#include "mail/EAbort.h"
#include "mail/MailSenderThread.h"
#include "mail/detail/MailAddress.h"
#include "mail/detail/ReplaceFile.h"
#include "mime/MimePart.h"
#include "net/AddressText.h"
#include "net/SocketErrors.h"
#include "support/AsciiText.h"
#include "support/ScopeGuard.h"
#include "support/SystemCodePage.h"

#include <algorithm>
#include <cstring>
#include <ostream>

namespace tandrel::mail {

using support::TrimBlank;

namespace {

// Milliseconds a failed send waits for the server's answer to its QUIT.
constexpr int kQuitWait = 1000;

}  // namespace

TMailSender::TMailSender() : TMailSender(std::make_unique<smtp::TSMTPSend>()) {}

TMailSender::TMailSender(std::unique_ptr<smtp::TSMTPSend> Client)
    : fSMTP(std::move(Client)), fMIMEMess(std::make_unique<mime::TMimeMess>()) {
    SetPriority(mime::TMessPriority::MP_normal);
    fSMTP->SetOnBeforeAuth([this](const smtp::TSMTPSend&) { return CheckBeforeAuth(); });
}

TMailSender::~TMailSender() = default;

const std::string& TMailSender::Host() const { return fSMTP->TargetHost(); }
void TMailSender::SetHost(const std::string& Value) { fSMTP->SetTargetHost(Value); }
const std::string& TMailSender::Port() const { return fSMTP->TargetPort(); }
void TMailSender::SetPort(const std::string& Value) { fSMTP->SetTargetPort(Value); }
const std::string& TMailSender::Username() const { return fSMTP->UserName(); }
void TMailSender::SetUsername(const std::string& Value) { fSMTP->SetUserName(Value); }
const std::string& TMailSender::Password() const { return fSMTP->Password(); }
void TMailSender::SetPassword(const std::string& Value) { fSMTP->SetPassword(Value); }
bool TMailSender::SetSSL() const { return fSMTP->FullSSL(); }
void TMailSender::SetSSL(bool Value) { fSMTP->SetFullSSL(Value); }
bool TMailSender::SetTLS() const { return fSMTP->AutoTLS(); }
void TMailSender::SetTLS(bool Value) { fSMTP->SetAutoTLS(Value); }
bool TMailSender::VerifyCert() const { return fSMTP->Sock().SSL().VerifyCert(); }
void TMailSender::SetVerifyCert(bool Value) { fSMTP->Sock().SSL().SetVerifyCert(Value); }
const std::string& TMailSender::CertCAFile() const { return fSMTP->Sock().SSL().CertCAFile(); }
void TMailSender::SetCertCAFile(const std::string& Value) { fSMTP->Sock().SSL().SetCertCAFile(Value); }
mime::TMessPriority TMailSender::Priority() const { return fMIMEMess->Header().Priority(); }
void TMailSender::SetPriority(mime::TMessPriority Value) { fMIMEMess->Header().SetPriority(Value); }

void TMailSender::SetAttempts(std::uint8_t Value) {
    if (Value == fAttempts) return;
    fAttempts = Value < 2 ? 1 : Value;
}

void TMailSender::Clear() {
    ClearAttachments();
    fMIMEMess->Header().Clear();
    fMIMEMess->Clear();
    fReplyTo.clear();
    fBCC.clear();
    fSubject.clear();
    fBody.clear();
    fAltBody.clear();
}

void TMailSender::Assign(const TMailSender& Source) {
    if (&Source == this) return;
    SetHost(Source.Host());
    SetPort(Source.Port());
    SetUsername(Source.Username());
    SetPassword(Source.Password());
    SetSSL(Source.SetSSL());
    SetTLS(Source.SetTLS());
    SetVerifyCert(Source.VerifyCert());
    SetCertCAFile(Source.CertCAFile());
    SetPriority(Source.Priority());
    // A copy that dropped a setting would send differently from its source (a threaded
    // send would lose the notification request and the time-out): they go together.
    static_cast<detail::TMailSenderAssigned&>(*this) = Source;
    for (std::size_t i = 0; i < Source.fAttachments.Count(); ++i) {
        fAttachments.New().Assign(Source.fAttachments.Objects(i));
    }
    const auto& from = Source.fMIMEMess->Header();
    auto& to = fMIMEMess->Header();
    to.ToList() = from.ToList();
    to.CCList() = from.CCList();
    to.SetOrganization(from.Organization());
    to.CustomHeaders() = from.CustomHeaders();
    to.SetDate(from.Date());
    to.SetXMailer(from.XMailer());
    // A copy sent on a thread must go out under the identifier its caller chose.
    to.SetMessageID(from.MessageID());
}

void TMailSender::SaveToFile(const std::string& AFileName) {
    BuildMimeMess();
    if (!AFileName.empty()) {
        try {
            // Written beside and renamed: a full disk must not leave half a message
            // where a whole one (or an earlier one) was.
            ReplaceFile(AFileName, fArqMIMe.Pieces());
        } catch (const std::system_error& e) {
            DoException(
                std::runtime_error("Unable to write \"" + AFileName + "\": " + e.code().message() + "."));
        }
    }
    Clear();
}

bool TMailSender::SaveToStream(std::ostream* AStream) const {
    if (AStream == nullptr) return false;
    try {
        for (const std::string_view piece : fArqMIMe.Pieces())
            AStream->write(piece.data(), static_cast<std::streamsize>(piece.size()));
        return static_cast<bool>(*AStream);
    } catch (...) {
        return false;
    }
}

void TMailSender::MailProcess(TMailStatus aStatus) {
    fStatus = aStatus;
    if (fOnMailProcess) fOnMailProcess(*this, aStatus);
}

void TMailSender::DoException(const std::runtime_error& E) const {
    bool throwIt = true;
    if (fOnMailException) fOnMailException(*this, E, throwIt);
    if (!throwIt) throw EAbort{};
    throw E;
}

// ----- message assembly -----------------------------------------------------

void TMailSender::Send(bool UseThreadNow) {
    if (UseThreadNow) {
        SendEmailByThread(this);
        return;
    }
    SendMail();
}

void TMailSender::SendEmailByThread(const TMailSender* MailToClone) {
    if (MailToClone == nullptr) throw std::invalid_argument("MailToClone not specified");
    auto copy = std::make_unique<TMailSender>();
    copy->Assign(*MailToClone);
    TMailSenderThread::Start(std::move(copy));
}

void TMailSender::SmtpError(const std::string& pMsgError, std::optional<TMailFailureStep> Step) {
    support::TScopeGuard clearOnLeaving([this] { Clear(); });
    // Before the QUIT, whose reply would replace the one that tells why.
    fLastFailure = FailureOf(Step.value_or(ReportedStep()));
    QuitAfterFailure();
    fGetLastSmtpError = pMsgError;
    MailProcess(TMailStatus::pmsError);
    DoException(std::runtime_error(pMsgError));
}

namespace {

// Gathers one server answer into the send's error collection, once.
void AddErrorMsg(std::string& ErrorMsgs, const std::string& AError) {
    if (TrimBlank(AError).empty() || ErrorMsgs.find(AError) != std::string::npos) return;
    if (!ErrorMsgs.empty()) ErrorMsgs += "\r\n";
    ErrorMsgs += AError;
}

// When the connection failed, the server had no say: the socket's error tells why.
void AddSocketError(std::string& ErrorMsgs, const net::TTCPBlockSocket& Sock) {
    if (Sock.LastError() != 0)
        AddErrorMsg(ErrorMsgs, net::SocketErrorMessage(Sock.LastError(), Sock.LastErrorDesc()));
}

bool Accepted(const smtp::TSMTPReply& Reply) { return Reply.Code >= 200 && Reply.Code <= 299; }

// True when the message holds a byte above 127, which only 8BITMIME lets through as it is.
// Eight bytes at a time: a composed message is mostly a large base64 body.
bool HasEightBitBytes(const mime::TMessageBytes& Message) {
    constexpr std::uint64_t kHighBits = 0x8080808080808080u;
    for (const std::string_view piece : Message.Pieces()) {
        std::size_t at = 0;
        for (; at + 8 <= piece.size(); at += 8) {
            std::uint64_t word;
            std::memcpy(&word, piece.data() + at, sizeof word);
            if ((word & kHighBits) != 0) return true;
        }
        for (; at < piece.size(); ++at)
            if ((static_cast<unsigned char>(piece[at]) & 0x80) != 0) return true;
    }
    return false;
}

}  // namespace

TMailFailureStep TMailSender::ReportedStep() const {
    using enum TMailFailureStep;
    switch (fStatus) {
        case TMailStatus::pmsLoginSMTP: return LoginFailureStep();
        case TMailStatus::pmsStartSends: return mfsMailFrom;
        case TMailStatus::pmsSendTo: return mfsMailTo;
        case TMailStatus::pmsSendCC: return mfsCC;
        case TMailStatus::pmsSendBCC: return mfsBCC;
        case TMailStatus::pmsSendData: return mfsData;
        default: return mfsNone;
    }
}

TMailFailureStep TMailSender::LoginFailureStep() const {
    using enum TMailFailureStep;
    const bool certificate = CertificateFailed();
    switch (fSMTP->LoginStep()) {
        case smtp::TLoginStep::lsConnect: return certificate ? mfsCertificate : mfsConnect;
        case smtp::TLoginStep::lsGreeting: return mfsGreeting;
        case smtp::TLoginStep::lsHello: return mfsHello;
        case smtp::TLoginStep::lsStartTLS: return certificate ? mfsCertificate : mfsStartTLS;
        case smtp::TLoginStep::lsAuth:
        case smtp::TLoginStep::lsDone: return mfsAuth;
    }
    return mfsNone;
}

TMailFailure TMailSender::FailureOf(TMailFailureStep Step) const {
    using enum TMailFailureStep;
    TMailFailure failure;
    failure.Step = Step;
    // Only a step of the conversation has a reply of its own: before it the client's last
    // reply may be an earlier conversation's, and its own checks ask the server nothing.
    const bool replied =
        (Step >= mfsGreeting && Step <= mfsStartTLS) || Step == mfsAuth || Step >= mfsMailFrom;
    const bool connected = Step == mfsConnect || Step == mfsCertificate || replied;
    if (replied) {
        failure.ResultCode = fSMTP->ResultCode();
        failure.ResultString = fSMTP->ResultString();
    }
    const auto& sock = fSMTP->Sock();
    if (connected && sock.LastError() != 0) {
        failure.SocketError = sock.LastError();
        failure.SocketErrorDesc = sock.LastErrorDesc();
    }
    return failure;
}

void TMailSender::QuitAfterFailure() {
    // A connection the client has not dropped is still in step: say goodbye as a client
    // should, but wait only briefly for the answer. Whatever comes of it is no error:
    // the send has failed for its own reason already.
    if (!fSMTP->Connected()) return;
    const int timeout = fSMTP->Timeout();
    fSMTP->SetTimeout(timeout > 0 ? std::min(timeout, kQuitWait) : kQuitWait);
    (void)fSMTP->Logout();
    fSMTP->SetTimeout(timeout);
    fSMTP->Sock().ResetLastError();
}

template <class TStep>
void TMailSender::Retry(const TStep& Step, const char* FailureText, std::string& ErrorMsgs, unsigned Failed) {
    if (Failed >= fAttempts) SmtpError(FailureText + ErrorMsgs);
    for (unsigned attempt = Failed + 1;; ++attempt) {
        if (attempt > 1 && fOnMailAttempt) fOnMailAttempt(*this, attempt);
        if (Step()) return;
        AddErrorMsg(ErrorMsgs, fSMTP->ResultString());
        AddSocketError(ErrorMsgs, fSMTP->Sock());
        if (attempt >= fAttempts) SmtpError(FailureText + ErrorMsgs);
    }
}

std::vector<std::string> TMailSender::MailAddresses() const {
    std::vector<std::string> addresses{ExtractAddress(EntryWithAsciiDomain(fFrom))};
    const auto& header = fMIMEMess->Header();
    for (const auto* list : {&header.ToList(), &header.CCList(), &fBCC, &fReplyTo})
        for (const auto& entry : *list) addresses.push_back(WithAsciiDomain(ExtractAddress(entry)));
    return addresses;
}

void TMailSender::CheckDomains(const std::vector<std::string>& Addresses) {
    for (const auto& address : Addresses)
        if (!support::IsAscii(AddressDomain(address)))
            SmtpError("SMTP Error: Invalid international domain name in the address \"" + address + "\"",
                      TMailFailureStep::mfsAddress);
}

bool TMailSender::NeedsSMTPUTF8(const std::vector<std::string>& Addresses) {
    for (const auto& address : Addresses) {
        if (support::IsAscii(address)) continue;
        if (fSMTP->FindCap("SMTPUTF8").empty())
            SmtpError("SMTP Error: The SMTP Server does not support SMTPUTF8, needed for the address \"" +
                          address + "\"",
                      TMailFailureStep::mfsSMTPUTF8);
        return true;
    }
    return false;
}

// Where the envelope of one send stands. Each step counts its failed tries across
// connections; what the server accepted counts only within its transaction.
struct TMailSender::TEnvelope {
    struct Recipient {
        std::string Address;
        const char* FailureText;
        TMailStatus Status;
        bool Accepted = false;
        unsigned Failed = 0;
    };
    std::string Sender;
    std::int64_t Size = 0;
    bool SMTPUTF8 = false;
    bool Body8Bit = false;
    std::vector<Recipient> Recipients;
    bool SenderAccepted = false;
    unsigned SenderFailed = 0;
    unsigned DataFailed = 0;
    std::vector<TMailStatus> Reported;

    [[nodiscard]] std::vector<std::string> Addresses() const {
        std::vector<std::string> addresses;
        for (const auto& r : Recipients) addresses.push_back(r.Address);
        return addresses;
    }
    // A new transaction: nothing the server accepted before stands.
    void Restart() {
        SenderAccepted = false;
        for (auto& r : Recipients) r.Accepted = false;
    }
};

TMailSender::TEnvelope TMailSender::Envelope() const {
    TEnvelope envelope;
    envelope.Sender = EntryWithAsciiDomain(fFrom);
    envelope.Size = static_cast<std::int64_t>(fArqMIMe.Size());
    envelope.Body8Bit = HasEightBitBytes(fArqMIMe);
    const auto add = [&](const std::vector<std::string>& List, const char* FailureText, TMailStatus Status) {
        for (const auto& entry : List)
            envelope.Recipients.push_back({WithAsciiDomain(ExtractAddress(entry)), FailureText, Status});
    };
    add(fMIMEMess->Header().ToList(), "SMTP Error: Unable to send MailTo.\r\n", TMailStatus::pmsSendTo);
    add(fMIMEMess->Header().CCList(), "SMTP Error: Unable to send CC list.\r\n", TMailStatus::pmsSendCC);
    add(fBCC, "SMTP Error: Unable to send BCC list.\r\n", TMailStatus::pmsSendBCC);
    return envelope;
}

void TMailSender::Report(TEnvelope& Envelope, TMailStatus Status) {
    if (std::find(Envelope.Reported.begin(), Envelope.Reported.end(), Status) != Envelope.Reported.end())
        return;
    Envelope.Reported.push_back(Status);
    MailProcess(Status);
}

void TMailSender::SendStepByStep(TEnvelope& Envelope, std::string& ErrorMsgs) {
    Report(Envelope, TMailStatus::pmsStartSends);
    if (!Envelope.SenderAccepted) {
        Envelope.Restart();
        Retry(
            [&] {
                return fSMTP->MailFrom(Envelope.Sender, Envelope.Size, Envelope.SMTPUTF8, Envelope.Body8Bit);
            },
            "SMTP Error: Unable to send MailFrom.\r\n", ErrorMsgs, Envelope.SenderFailed);
        Envelope.SenderAccepted = true;
    }
    Report(Envelope, TMailStatus::pmsSendTo);  // also with an empty To list
    for (auto& recipient : Envelope.Recipients) {
        Report(Envelope, recipient.Status);
        if (recipient.Accepted) continue;
        Retry([&] { return fSMTP->MailTo(recipient.Address); }, recipient.FailureText, ErrorMsgs,
              recipient.Failed);
        recipient.Accepted = true;
    }
    Report(Envelope, TMailStatus::pmsSendData);
    // Once its end has gone out the server may hold the message, whatever it answered:
    // a second end of data could store a second copy.
    Retry([&] { return !fSMTP->DataEnded() && fSMTP->MailData(fArqMIMe); },
          "SMTP Error: Unable to send Mail data.\r\n", ErrorMsgs, Envelope.DataFailed);
}

// The pipelined transaction (RFC 2920), for a server that offers PIPELINING:
// - MAIL FROM, every RCPT TO and DATA go out in one write; their replies are read in
//   order, each within the time-out, one per command (a reply out of step ends the
//   connection, as any reply does).
// - Everything accepted and DATA answered 354: the message, its end and QUIT go out in
//   one write. The reply to the end of data decides the send; QUIT's 221 is read after
//   it by Logout and changes nothing. A refused message is not tried again: the server
//   has ended that transaction, and a second end of data could store a second copy.
// - A refusal in the flight counts as a failed try of the first step in the design's
//   order that it refused (the sender, then each recipient in turn; DATA only when the
//   whole envelope was accepted), and its line joins the error collection. Then:
//   - DATA answered 354 anyway (the server takes data for the recipients it accepted):
//     the client has closed the connection without ending the data, so the server drops
//     the transaction and nobody gets a copy; the send logs in afresh (Login's retry
//     rule) and goes on step by step on the new connection, the refused step with the
//     tries it has left;
//   - otherwise the connection is still in step: the send goes on step by step on it,
//     from the refused step with the tries it has left, leaving out the recipients the
//     server accepted in the flight (a recipient named twice would get two copies).
//   Either way the send succeeds only once every recipient was accepted.
void TMailSender::SendPipelined(TEnvelope& Envelope, std::string& ErrorMsgs) {
    Report(Envelope, TMailStatus::pmsStartSends);
    Report(Envelope, TMailStatus::pmsSendTo);
    for (const auto& recipient : Envelope.Recipients) Report(Envelope, recipient.Status);
    std::vector<smtp::TSMTPReply> replies;
    if (fSMTP->MailTransaction(Envelope.Sender, Envelope.Size, Envelope.SMTPUTF8, Envelope.Body8Bit,
                               Envelope.Addresses(), replies)) {
        Report(Envelope, TMailStatus::pmsSendData);
        if (fSMTP->SendMessage(fArqMIMe, /*ThenQuit=*/true)) return;
        AddErrorMsg(ErrorMsgs, fSMTP->ResultString());
        AddSocketError(ErrorMsgs, fSMTP->Sock());
        SmtpError("SMTP Error: Unable to send Mail data.\r\n" + ErrorMsgs);
    }
    JudgeFlight(Envelope, replies, ErrorMsgs);
    if (!fSMTP->Connected() && replies.back().Code == 354) {
        Envelope.Restart();
        LogIn(ErrorMsgs);
    }
    SendStepByStep(Envelope, ErrorMsgs);
}

void TMailSender::JudgeFlight(TEnvelope& Envelope, const std::vector<smtp::TSMTPReply>& Replies,
                              std::string& ErrorMsgs) const {
    const auto refused = [&](const smtp::TSMTPReply& Reply, unsigned& Failed) {
        ++Failed;
        AddErrorMsg(ErrorMsgs, Reply.Last());
        if (Reply.Code == 0) AddSocketError(ErrorMsgs, fSMTP->Sock());
    };
    // A reply without lines was never read (or its command never sent): it tells nothing.
    const smtp::TSMTPReply& sender = Replies.front();
    if (sender.Lines.empty()) return;
    if (!Accepted(sender)) {
        refused(sender, Envelope.SenderFailed);
        return;  // what follows answers a transaction that never began
    }
    Envelope.SenderAccepted = true;
    bool every = true;
    for (std::size_t i = 0; i < Envelope.Recipients.size(); ++i) {
        const smtp::TSMTPReply& reply = Replies[i + 1];
        if (reply.Lines.empty()) return;
        if (Accepted(reply)) {
            Envelope.Recipients[i].Accepted = true;
        } else {
            refused(reply, Envelope.Recipients[i].Failed);
            every = false;
        }
    }
    // DATA refused after a refused recipient says only that one was refused.
    const smtp::TSMTPReply& data = Replies.back();
    if (every && !data.Lines.empty() && data.Code != 354) refused(data, Envelope.DataFailed);
}

void TMailSender::SendMail() {
    BuildMimeMess();
    SendBuilt();
}

void TMailSender::SendBuiltMessage(std::string aMessage) {
    // Held as it came, in one piece: its lines are what lies between CR LF pairs.
    fMIMEMess->SetBytes(mime::TMessageBytes::FromText(std::move(aMessage)));
    fArqMIMe = fMIMEMess->Bytes();
    SendBuilt();
}

void TMailSender::ApplyHostToTLS() {
    // Servers that host several names choose their certificate by the name in the
    // handshake (never an address), and the check holds the certificate to that host.
    auto& ssl = fSMTP->Sock().SSL();
    const std::string& host = Host();
    ssl.SetSNIHost(net::IsIP(host) || net::IsIP6(host) ? std::string() : host);
    ssl.SetCertHost(host);
    std::vector<std::string> trusted;
    for (const auto& certificate : fTrustedCertificates)
        if (IsForHost(certificate, host)) trusted.push_back(certificate.Digest);
    ssl.SetTrustedFingerprints(std::move(trusted));
}

bool TMailSender::CertificateFailed() const {
    // The plug-in keeps its check's verdict until its next handshake: it tells only when
    // a handshake is what just failed.
    const auto& sock = fSMTP->Sock();
    return sock.LastError() == net::WSASYSNOTREADY && !sock.SSL().CertCheckError().empty() &&
           !sock.SSL().CertCheckFingerprint().empty();
}

bool TMailSender::AskAboutCertificate() {
    TCertificateAnswer& answer = fCertificateAnswer;
    if (answer.Asked || !fOnCertificateQuestion || !CertificateFailed()) return false;
    answer.Asked = true;
    const auto& ssl = fSMTP->Sock().SSL();
    const std::string digest = ssl.CertCheckFingerprint();
    fOnCertificateQuestion(*this, TCertificateQuestion{Host(), ssl.CertCheckError(), FingerprintText(digest)},
                           answer.Trusted);
    if (!answer.Trusted) return false;
    fTrustedCertificates.push_back({Host(), digest});
    ApplyHostToTLS();
    return true;
}

bool TMailSender::LoginTry() {
    // A certificate the operator refused is not met again: no further try connects.
    if (fCertificateAnswer.Asked && !fCertificateAnswer.Trusted) return false;
    for (;;) {
        fRefusedBeforeAuth.reset();
        if (fSMTP->Login()) return true;
        if (fRefusedBeforeAuth) SmtpError(fRefusedBeforeAuth->Message, fRefusedBeforeAuth->Step);
        if (!AskAboutCertificate()) return false;
    }
}

void TMailSender::LogIn(std::string& ErrorMsgs) {
    Retry([&] { return LoginTry(); }, "SMTP Error: Unable to Login.\r\n", ErrorMsgs);
    RequireAuthentication();
}

bool TMailSender::RefuseBeforeAuth(std::string Message, TMailFailureStep Step) {
    fRefusedBeforeAuth = TRefusal{std::move(Message), Step};
    return false;
}

bool TMailSender::CheckBeforeAuth() {
    // Known from the hello: a send this server will refuse gets no password first.
    if (fDeliveryConfirmation && fSMTP->FindCap("DSN").empty())
        return RefuseBeforeAuth("SMTP Error: The SMTP Server does not support Delivery Status Notification",
                                TMailFailureStep::mfsDeliveryNotification);
    const auto size = static_cast<std::int64_t>(fArqMIMe.Size());
    const std::int64_t most = fSMTP->MaxSize();
    if (most > 0 && size > most)
        return RefuseBeforeAuth(
            "SMTP Error: The message is larger than the SMTP Server accepts: " + std::to_string(size) +
                " bytes, at most " + std::to_string(most) + " bytes",
            TMailFailureStep::mfsSize);
    return true;
}

void TMailSender::RequireAuthentication() {
    if (!fStrictAuth || fSMTP->AuthDone() || (Username().empty() && Password().empty())) return;
    if (fSMTP->AuthMechanism().empty())
        SmtpError("SMTP Error: The SMTP Server offers no authentication we can use",
                  TMailFailureStep::mfsAuthUnavailable);
    SmtpError("SMTP Error: Authentication failed.\r\n" + fSMTP->ResultString(), TMailFailureStep::mfsAuth);
}

void TMailSender::SendBuilt() {
    if (fTimeOut > 0) {
        fSMTP->SetTimeout(fTimeOut);
        fSMTP->Sock().SetConnectionTimeout(fTimeOut);
    }
    fLastFailure = {};
    ApplyHostToTLS();
    MailProcess(TMailStatus::pmsLoginSMTP);
    if (Host().empty()) SmtpError("SMTP Error: Server not informed", TMailFailureStep::mfsServer);
    const std::vector<std::string> addresses = MailAddresses();
    CheckDomains(addresses);

    std::string errorMsgs;
    fCertificateAnswer = {};
    LogIn(errorMsgs);
    smtp::TDeliveryStatusNotification notifications;
    if (fDeliveryConfirmation) {  // DSN offered: CheckBeforeAuth refused the server otherwise
        notifications = {smtp::TDeliveryStatusNotificationEvents::dsnSucecess,
                         smtp::TDeliveryStatusNotificationEvents::dsnFailure};
    }
    // Set every time: the client keeps it between sends, and a later mail without
    // confirmation must not ask for one.
    fSMTP->SetDeliveryStatusNotification(notifications);
    // A non-ASCII local part reaches its mailbox only in UTF-8, which only SMTPUTF8 allows.
    const bool smtputf8 = NeedsSMTPUTF8(addresses);

    TEnvelope envelope = Envelope();
    envelope.SMTPUTF8 = smtputf8;
    if (fSMTP->Pipelining())
        SendPipelined(envelope, errorMsgs);
    else
        SendStepByStep(envelope, errorMsgs);

    // The server has accepted the message: a QUIT that goes unanswered (or a dropped
    // connection) must not turn that into a failure, or the mail would be sent twice.
    MailProcess(TMailStatus::pmsLogoutSMTP);
    (void)fSMTP->Logout();

    support::TScopeGuard clearOnLeaving([this] { Clear(); });
    MailProcess(TMailStatus::pmsDone);
    if (fOnAfterMailProcess) fOnAfterMailProcess(*this);
}

}  // namespace tandrel::mail
