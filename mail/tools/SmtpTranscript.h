#pragma once
// The SMTP conversation on a socket, written for the operator as it happens.

#include "smtp/SMTPSend.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace tandrel::mail::tool {

/// Writes one line per command ("C: ") and per reply line ("S: ") to a stream: every
/// line the client writes during an authentication exchange hidden ("AUTH PLAIN
/// (hidden)", "(hidden)"), the message as its byte count, control characters escaped.
/// What a write carries is the client's word, never guessed from the server's replies.
/// Lines are written as soon as they are whole.
class TSmtpTranscript {
public:
    /// What one write of the client carries.
    enum class TWriting { Commands, Secrets, Message };

    explicit TSmtpTranscript(std::ostream& Out) : FOut(Out) {}
    TSmtpTranscript(const TSmtpTranscript&) = delete;
    TSmtpTranscript& operator=(const TSmtpTranscript&) = delete;

    /// Follows `Client`'s traffic from now on (its socket's monitor and status hooks),
    /// asking the client what each write carries; the transcript must outlive that use.
    void Attach(smtp::TSMTPSend& Client);
    /// Bytes the client wrote on the connection, unencrypted.
    void Written(std::string_view Bytes, TWriting What);
    /// Bytes the client read on the connection, unencrypted.
    void Read(std::string_view Bytes);
    /// The connection ended: writes the rest of an unfinished line, starts afresh.
    void Closed();

private:
    void ServerBytes(std::string_view Bytes);
    void ClientLine(std::string_view Line, bool Secret);
    void ServerLine(std::string_view Line);
    // Consumes message data from Bytes; returns how many bytes it took.
    std::size_t DataBytes(std::string_view Bytes);
    void Write(std::string_view Mark, std::string_view Line);

    std::ostream& FOut;
    std::string FClient;         // unfinished line written
    bool FClientSecret = false;  // some of it was written during an authentication
    std::string FServer;         // unfinished line read
    bool FInData = false;        // between the message's first byte and its final "."
    bool FTlsSeen = false;       // the connection has carried TLS
    std::int64_t FDataBytes = 0;
    std::string FDataTail;  // the last bytes of the data, to find its end
};

}  // namespace tandrel::mail::tool
