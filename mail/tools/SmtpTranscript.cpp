#include "mail/tools/SmtpTranscript.h"

#include "mail/tools/TerminalText.h"
#include "mime/AsciiText.h"

namespace tandrel::mail::tool {

namespace {

constexpr std::string_view kHidden = "(hidden)";
// Data ends with a line holding a single dot; the data's first line counts as
// following a line end.
constexpr std::string_view kDataEnd = "\r\n.\r\n";

// A reply line's three-digit code, 0 when it has none.
int ReplyCode(std::string_view line) {
    if (line.size() < 3) return 0;
    int code = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9') return 0;
        code = code * 10 + (line[i] - '0');
    }
    return code;
}

// The last line of a reply has a space (or nothing) after its code.
bool IsFinalLine(std::string_view line) { return line.size() == 3 || (line.size() > 3 && line[3] != '-'); }

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

void TSmtpTranscript::Attach(net::TTCPBlockSocket& Socket) {
    Socket.SetOnMonitor([this, &Socket](net::TBlockSocket&, bool Writing, const void* Buffer, int Len) {
        // Once TLS has ended, what closing the connection still reads are the
        // server's raw records, discarded by the client: not the conversation.
        const bool tls = Socket.SSL().SSLEnabled();
        fTlsSeen = fTlsSeen || tls;
        if (Len <= 0 || (fTlsSeen && !tls)) return;
        Traffic(Writing, std::string_view(static_cast<const char*>(Buffer), static_cast<std::size_t>(Len)));
    });
    Socket.SetOnStatus([this](net::TBlockSocket&, net::THookSocketReason Reason, const std::string&) {
        if (Reason == net::THookSocketReason::HR_SocketClose) Closed();
    });
}

void TSmtpTranscript::Traffic(bool Writing, std::string_view Bytes) {
    if (Writing) ClientBytes(Bytes);
    else ServerBytes(Bytes);
}

void TSmtpTranscript::Closed() {
    if (fInData && fDataBytes > 0) Write("C: ", DataSummary(fDataBytes, ", unfinished)"));
    if (!fClient.empty()) ClientLine(fClient);
    if (!fServer.empty()) ServerLine(fServer);
    fClient.clear();
    fServer.clear();
    fVerb.clear();
    fInAuth = fInData = fTlsSeen = false;
    fDataBytes = 0;
    fDataTail.clear();
}

void TSmtpTranscript::ClientBytes(std::string_view Bytes) {
    while (!Bytes.empty()) {
        if (fInData) {
            Bytes.remove_prefix(DataBytes(Bytes));
        } else if (TakeLine(fClient, Bytes)) {
            ClientLine(fClient);
            fClient.clear();
        }
    }
}

std::size_t TSmtpTranscript::DataBytes(std::string_view Bytes) {
    std::size_t used = 0;
    while (used < Bytes.size()) {
        fDataTail += Bytes[used++];
        if (fDataTail.size() > kDataEnd.size()) fDataTail.erase(0, 1);
        if (fDataTail == kDataEnd) {
            fDataBytes += static_cast<std::int64_t>(used) - 3;  // the ".\r\n" is no data
            Write("C: ", DataSummary(fDataBytes, ")"));
            Write("C: ", ".");
            fInData = false;
            fDataBytes = 0;
            fDataTail.clear();
            return used;
        }
    }
    fDataBytes += static_cast<std::int64_t>(used);
    return used;
}

void TSmtpTranscript::ServerBytes(std::string_view Bytes) {
    while (!Bytes.empty()) {
        if (TakeLine(fServer, Bytes)) {
            ServerLine(fServer);
            fServer.clear();
        }
    }
}

void TSmtpTranscript::ClientLine(std::string_view Line) {
    if (fInAuth) {
        Write("C: ", kHidden);
        return;
    }
    const std::string verb = mime::UpperAscii(Line.substr(0, Line.find(' ')));
    fVerb = verb;
    if (verb == "AUTH") {
        fInAuth = true;
        // "AUTH <mechanism> [initial response]": the response carries the secret.
        const auto mechanismEnd = Line.find(' ', 5);
        if (mechanismEnd != std::string_view::npos) {
            Write("C: ", std::string(Line.substr(0, mechanismEnd + 1)) + std::string(kHidden));
            return;
        }
    }
    Write("C: ", Line);
}

void TSmtpTranscript::ServerLine(std::string_view Line) {
    Write("S: ", Line);
    if (!IsFinalLine(Line)) return;
    const int code = ReplyCode(Line);
    if (fInAuth && code != 334) fInAuth = false;
    if (fVerb == "DATA" && code == 354) {
        fInData = true;
        fDataBytes = 0;
        fDataTail = "\r\n";
    }
}

void TSmtpTranscript::Write(std::string_view Mark, std::string_view Line) {
    fOut << Mark << EscapeControls(Line) << std::endl;
}

}  // namespace tandrel::mail::tool
