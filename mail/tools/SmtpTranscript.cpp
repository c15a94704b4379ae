#include "mail/tools/SmtpTranscript.h"

#include "mail/tools/TerminalText.h"
#include "support/AsciiText.h"

namespace tandrel::mail::tool {

namespace {

constexpr std::string_view kHidden = "(hidden)";
// Data ends with a line holding a single dot; the data's first line counts as
// following a line end.
constexpr std::string_view kDataEnd = "\r\n.\r\n";

// Moves Bytes up to and including the next LF into Partial (without the LF); true when
// Partial now holds a whole line, its CR dropped.
bool TakeLine(std::string& Partial, std::string_view& Bytes) {
    const auto lf = Bytes.find('\n');
    Partial.append(Bytes.substr(0, lf));
    if (lf == std::string_view::npos) {
        Bytes = {};
        return false;
    }
    Bytes.remove_prefix(lf + 1);
    if (!Partial.empty() && Partial.back() == '\r') Partial.pop_back();
    return true;
}

// "(N bytes of message data" + Tail; appended piece by piece, as GCC 12 at -O3 takes
// "literal" + std::string&& for an overlapping copy (-Wrestrict).
std::string DataSummary(std::int64_t Bytes, std::string_view Tail) {
    std::string text = "(";
    text += std::to_string(Bytes);
    text += " bytes of message data";
    text += Tail;
    return text;
}

}  // namespace

void TSmtpTranscript::Attach(smtp::TSMTPSend& Client) {
    net::TTCPBlockSocket& socket = Client.Sock();
    socket.SetOnMonitor(
        [this, &Client, &socket](net::TBlockSocket&, bool Writing, const void* Buffer, int Len) {
            // Once TLS has ended, what closing the connection still reads are the
            // server's raw records, discarded by the client: not the conversation.
            const bool tls = socket.SSL().SSLEnabled();
            FTlsSeen = FTlsSeen || tls;
            if (Len <= 0 || (FTlsSeen && !tls)) return;
            const std::string_view bytes(static_cast<const char*>(Buffer), static_cast<std::size_t>(Len));
            if (!Writing) return Read(bytes);
            Written(bytes, Client.SendingData()      ? TWriting::Message
                           : Client.Authenticating() ? TWriting::Secrets
                                                     : TWriting::Commands);
        });
    socket.SetOnStatus([this](net::TBlockSocket&, net::THookSocketReason Reason, const std::string&) {
        if (Reason == net::THookSocketReason::HR_SocketClose) Closed();
    });
}

void TSmtpTranscript::Read(std::string_view Bytes) { ServerBytes(Bytes); }

void TSmtpTranscript::Closed() {
    if (FInData && FDataBytes > 0) Write("C: ", DataSummary(FDataBytes, ", unfinished)"));
    if (!FClient.empty()) ClientLine(FClient, FClientSecret);
    if (!FServer.empty()) ServerLine(FServer);
    FClient.clear();
    FServer.clear();
    FClientSecret = FInData = FTlsSeen = false;
    FDataBytes = 0;
    FDataTail.clear();
}

void TSmtpTranscript::Written(std::string_view Bytes, TWriting What) {
    // The message begins with the client's first write of it; a command that travels
    // after its final "." (QUIT) is a line again.
    if (What == TWriting::Message && !FInData) {
        FInData = true;
        FDataBytes = 0;
        FDataTail = "\r\n";
    }
    while (!Bytes.empty()) {
        if (FInData) {
            Bytes.remove_prefix(DataBytes(Bytes));
            continue;
        }
        FClientSecret = FClientSecret || What == TWriting::Secrets;
        if (TakeLine(FClient, Bytes)) {
            ClientLine(FClient, FClientSecret);
            FClient.clear();
            FClientSecret = false;
        }
    }
}

std::size_t TSmtpTranscript::DataBytes(std::string_view Bytes) {
    std::size_t used = 0;
    while (used < Bytes.size()) {
        FDataTail += Bytes[used++];
        if (FDataTail.size() > kDataEnd.size()) FDataTail.erase(0, 1);
        if (FDataTail == kDataEnd) {
            FDataBytes += static_cast<std::int64_t>(used) - 3;  // the ".\r\n" is no data
            Write("C: ", DataSummary(FDataBytes, ")"));
            Write("C: ", ".");
            FInData = false;
            FDataBytes = 0;
            FDataTail.clear();
            return used;
        }
    }
    FDataBytes += static_cast<std::int64_t>(used);
    return used;
}

void TSmtpTranscript::ServerBytes(std::string_view Bytes) {
    while (!Bytes.empty()) {
        if (TakeLine(FServer, Bytes)) {
            ServerLine(FServer);
            FServer.clear();
        }
    }
}

void TSmtpTranscript::ClientLine(std::string_view Line, bool Secret) {
    if (!Secret) {
        Write("C: ", Line);
        return;
    }
    // Within the exchange only "AUTH <mechanism>" is shown: its initial response and
    // every answer to a challenge carry the secret.
    if (support::UpperAscii(Line.substr(0, 5)) != "AUTH ") {
        Write("C: ", kHidden);
        return;
    }
    const auto mechanismEnd = Line.find(' ', 5);
    if (mechanismEnd == std::string_view::npos)
        Write("C: ", Line);
    else
        Write("C: ", std::string(Line.substr(0, mechanismEnd + 1)) + std::string(kHidden));
}

void TSmtpTranscript::ServerLine(std::string_view Line) { Write("S: ", Line); }

void TSmtpTranscript::Write(std::string_view Mark, std::string_view Line) {
    FOut << Mark << EscapeControls(Line) << std::endl;
}

}  // namespace tandrel::mail::tool
