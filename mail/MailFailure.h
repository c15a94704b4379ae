#pragma once

#include <string>

namespace tandrel::mail {

/// The step of a send that failed, in the order a send meets them.
enum class TMailFailureStep {
    mfsNone,                  ///< nothing has failed
    mfsServer,                ///< no server was given
    mfsAddress,               ///< an address whose domain is no valid international name
    mfsConnect,               ///< connecting (and TLS from the first byte)
    mfsCertificate,           ///< the server's certificate failed the check and was not trusted
    mfsGreeting,              ///< the server's greeting
    mfsHello,                 ///< EHLO, then HELO
    mfsStartTLS,              ///< STARTTLS, or its absence while the certificate is to be checked
    mfsDeliveryNotification,  ///< delivery receipts asked of a server without DSN
    mfsSize,                  ///< the message is larger than the server's SIZE
    mfsAuthUnavailable,       ///< a login is required and the server offers none the client has
    mfsAuth,                  ///< the server refused the login (or the connection ended in it)
    mfsSMTPUTF8,              ///< an address needs SMTPUTF8 and the server lacks it
    mfsMailFrom,              ///< the sender
    mfsMailTo,                ///< a To recipient
    mfsCC,                    ///< a CC recipient
    mfsBCC,                   ///< a BCC recipient
    mfsData,                  ///< the message itself
};

/// What ended a failed send, taken when it failed (before the QUIT that follows a
/// failure replaces the server's last reply). Fields a step has nothing for stay 0 or
/// empty: the reply for steps before the conversation or decided by the client itself,
/// the socket's error for steps without a connection.
struct TMailFailure {
    TMailFailureStep Step = TMailFailureStep::mfsNone;
    /// The server's last reply: its code (0 when none could be read, or for a refusal of
    /// the client's own) and its last line (text).
    int ResultCode = 0;
    std::string ResultString;
    /// The socket's error number (Windows Sockets numbering, 0 for none) and its text.
    int SocketError = 0;
    std::string SocketErrorDesc;

    bool operator==(const TMailFailure&) const = default;
};

}  // namespace tandrel::mail
