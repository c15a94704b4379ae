#pragma once
// The SMTP conversation on a socket, written for the operator as it happens.

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "net/TCPBlockSocket.h"

namespace tandrel::mail::tool {

/// Writes one line per command ("C: ") and per reply line ("S: ") to a stream: what
/// follows an AUTH command from the client (its initial response and every answer to
/// the server's challenges) as "(hidden)", the message data as its byte count, control
/// characters escaped. Lines are written as soon as they are whole.
class TSmtpTranscript {
public:
    explicit TSmtpTranscript(std::ostream& Out) : fOut(Out) {}
    TSmtpTranscript(const TSmtpTranscript&) = delete;
    TSmtpTranscript& operator=(const TSmtpTranscript&) = delete;

    /// Follows `Socket`'s traffic from now on (its monitor and status hooks); the
    /// transcript must outlive the socket's use.
    void Attach(net::TTCPBlockSocket& Socket);
    /// Bytes the client wrote (`Writing`) or read on the connection, unencrypted.
    void Traffic(bool Writing, std::string_view Bytes);
    /// The connection ended: writes the rest of an unfinished line, starts afresh.
    void Closed();

private:
    void ClientBytes(std::string_view Bytes);
    void ServerBytes(std::string_view Bytes);
    void ClientLine(std::string_view Line);
    void ServerLine(std::string_view Line);
    // Consumes message data from Bytes; returns how many bytes it took.
    std::size_t DataBytes(std::string_view Bytes);
    void Write(std::string_view Mark, std::string_view Line);

    std::ostream& fOut;
    std::string fClient;   // unfinished line written
    std::string fServer;   // unfinished line read
    std::string fVerb;     // upper-case verb of the last command
    bool fInAuth = false;  // between AUTH and the server's final answer to it
    bool fInData = false;  // between DATA's 354 and the final "."
    bool fTlsSeen = false;  // the connection has carried TLS
    std::int64_t fDataBytes = 0;
    std::string fDataTail;  // the last bytes of the data, to find its end
};

}  // namespace tandrel::mail::tool
