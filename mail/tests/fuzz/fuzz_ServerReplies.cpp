// A whole send of the mail component (login, envelope, data, quit, the retry rule,
// with and without pipelining) against a server whose every word is the fuzz input.
//
// Input: one byte of settings, then the server's chunks separated by NUL bytes. The
// server answers each connection with a chunk (the greeting) and each command line, and
// each end of data, with the next chunk, whatever it holds: replies cut anywhere, extra
// lines, wrong codes, several replies at once. A chunk's bytes reach the client together,
// once the client has written what they answer. Within a chunk, 0x01 closes the
// connection after the bytes before it, 0x02 n stands for n KiB of 'x' (over-long lines)
// and 0x03 n for n hundred "250-x" lines (over-long replies). Settings: bits 0-1 the
// attempts (1 to 3), bit 2 a CC, bit 3 a BCC, bit 4 a user and password.
//
// Oracles, checked on every input:
// - between DATA's 354 and the end of data the client sends exactly the dot-stuffed
//   message, or closes the connection before the end;
// - at most one end of data per connection, and per send;
// - the send succeeds only when a 2xx reply to an end of data was read, every recipient
//   having been accepted once in that transaction;
// - the client never writes while the server has said something it has not read, nor
//   after a reply that cannot answer its command (out of step), nor after a 421;
// - the run ends within a bounded number of reads.

#include "mail/EAbort.h"
#include "mail/MailSender.h"
#include "net/SocketErrors.h"
#include "net/TCPBlockSocket.h"
#include "smtp/SMTPSend.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace tandrel;

[[noreturn]] void Violated(const char* What) {
    std::fprintf(stderr, "oracle violated: %s\n", What);
    std::abort();
}

void Check(bool Holds, const char* What) {
    if (!Holds) Violated(What);
}

constexpr std::size_t kMaxReads = 200000;
constexpr std::size_t kMaxLine = 65536;   // the client's line limit
constexpr std::size_t kMaxLines = 10000;  // and its reply limit

const std::vector<std::string> kRecipients{"cliente@example.com", "copia@example.com", "oculta@example.com"};

// The message as the client must send it between 354 and the end, and the end itself.
const std::string kMessage = "Subject: fuzz\r\n\r\n.\r\n..two\r\nend\r\n";
const std::string kOnTheWire = "Subject: fuzz\r\n\r\n..\r\n...two\r\nend\r\n.\r\n";

// What a reply must be to answer its command; anything else means the client is out
// of step and must say nothing more.
enum class TAsked { Greeting, Hello, Auth, Cancel, Data, DataEnd, Quit, Command };

bool Fits(TAsked Asked, int Code) {
    if (Code == 0) return false;
    if (Code / 100 == 4 || Code / 100 == 5) return true;
    switch (Asked) {
        case TAsked::Greeting: return true;  // a login that fails on it may still say QUIT
        case TAsked::Hello: return Code >= 250 && Code <= 259;
        case TAsked::Auth: return Code == 235 || Code == 334;
        case TAsked::Cancel: return false;  // "*" ends an exchange with a refusal only
        case TAsked::Data: return Code == 354;
        case TAsked::Quit: return true;
        case TAsked::DataEnd:
        case TAsked::Command: return Code / 100 == 2 && Code != 220 && Code != 221 && Code != 235;
    }
    return false;
}

// The server: plays the chunks and pairs the replies in its byte stream with the
// commands in order, as a client in step reads them; checks the client against that.
class TModelServer {
public:
    explicit TModelServer(std::string_view Input) {
        std::size_t at = 0;
        while (at <= Input.size()) {
            const std::size_t end = std::min(Input.find('\0', at), Input.size());
            FChunks.push_back(Expand(Input.substr(at, end - at)));
            at = end + 1;
        }
    }

    // A new connection: false (refused) once the chunks are spent.
    bool Open() {
        if (FNext >= FChunks.size()) return false;
        FConn = TConnection{};
        FConn.Open = true;
        Ask(TAsked::Greeting, "", "");
        return true;
    }

    void ClientClosed() { FConn.Open = false; }

    // Bytes sent and not read by the client's socket yet.
    [[nodiscard]] std::string_view Unread() const {
        return std::string_view(FConn.Outbound).substr(FConn.Taken);
    }
    [[nodiscard]] bool ServerClosed() const { return FConn.Closing && Unread().empty(); }

    std::size_t Take(char* Buffer, std::size_t Length) {
        const std::size_t n = std::min(Length, Unread().size());
        FConn.Outbound.copy(Buffer, n, FConn.Taken);
        FConn.Taken += n;
        return n;
    }

    // The client wrote (Pending: what it had been sent and not read); false when the
    // server has gone, so the write fails.
    bool Written(std::string_view Bytes, std::string_view Pending) {
        Check(FConn.Open, "write on a connection the client closed");
        Check(!FConn.OutOfStep, "write after a reply out of step");
        Check(Pending.empty(), "write while the server's bytes wait unread");
        if (FConn.Closing) return false;
        FConn.Inbound.append(Bytes);
        Process();
        return true;
    }

    // Oracles at the end of the send.
    void Finished(bool Succeeded, const std::vector<std::string>& Recipients) const {
        if (!Succeeded) return;
        Check(FEnds == 1 && FEndAccepted, "success without a 2xx reply to an end of data");
        Check(FEndRecipients == std::multiset<std::string>(Recipients.begin(), Recipients.end()),
              "success without every recipient accepted once");
    }

private:
    struct TAwaited {
        TAsked Asked;
        std::string Verb;
        std::string Address;  // of a RCPT
    };

    struct TConnection {
        bool Open = false;
        bool Closing = false;    // the server closes once the client has read what it sent
        bool OutOfStep = false;  // the client must say nothing more
        bool InData = false;
        bool AuthOpen = false;  // the last reply was a challenge of an AUTH exchange
        char LoneEnd = 0;       // the last line ended with this lone CR or LF
        int Ends = 0;
        std::string Outbound;    // all the server sent
        std::size_t Taken = 0;   // of it, what the client read
        std::size_t Paired = 0;  // of it, the replies paired with commands
        std::deque<TAwaited> Awaited;
        std::string Inbound;                  // client bytes not yet handled
        std::string Data;                     // the message so far
        std::multiset<std::string> Accepted;  // recipients of the transaction
    };

    static std::string Expand(std::string_view Chunk) {
        std::string out;
        for (std::size_t i = 0; i < Chunk.size(); ++i) {
            const auto c = static_cast<unsigned char>(Chunk[i]);
            if ((c == 2 || c == 3) && i + 1 < Chunk.size()) {
                const auto n = static_cast<unsigned char>(Chunk[++i]);
                for (unsigned k = 0; k < n * (c == 2 ? 1u : 100u); ++k)
                    out += c == 2 ? std::string(1024, 'x') : "250-x\r\n";
                continue;
            }
            out += static_cast<char>(c);
        }
        return out;
    }

    // The server answers with its next chunk; the reply then is paired in stream order.
    void Ask(TAsked Asked, std::string Verb, std::string Address) {
        FConn.Awaited.push_back({Asked, std::move(Verb), std::move(Address)});
        std::string chunk = FNext < FChunks.size() ? FChunks[FNext++] : std::string();
        const std::size_t close = chunk.find('\x01');
        if (close != std::string::npos) {
            chunk.resize(close);
            FConn.Closing = true;
        }
        FConn.Outbound += chunk;
        Pair();
    }

    // The next whole reply after Paired, as the client splits it (any of CR, LF, CR LF
    // and LF CR ends a line; a line over the limit, or too many, ends the conversation):
    // its code (0 when it is none), or false when it is not whole yet.
    bool NextReply(int& Code) {
        std::string_view rest = std::string_view(FConn.Outbound).substr(FConn.Paired);
        std::size_t used = 0;
        const auto skip = [&](std::size_t N) {
            rest.remove_prefix(N);
            used += N;
        };
        if (FConn.LoneEnd != 0 && !rest.empty() && rest.front() == (FConn.LoneEnd == '\r' ? '\n' : '\r'))
            skip(1);
        for (std::size_t lines = 1;; ++lines) {
            const std::size_t end = rest.find_first_of("\r\n");
            if (end == std::string_view::npos && rest.size() > kMaxLine) {
                Code = 0;  // the client gives up on the line
                return true;
            }
            if (end == std::string_view::npos) return false;
            const std::string_view line = rest.substr(0, end);
            const char first = rest[end];
            const bool pair = end + 1 < rest.size() && rest[end + 1] == (first == '\r' ? '\n' : '\r');
            skip(end + (pair ? 2 : 1));
            FConn.LoneEnd = pair ? 0 : first;
            if (line.size() > kMaxLine || (lines >= kMaxLines && line.find('-') == 3)) {
                Code = 0;
                FConn.Paired += used;
                return true;
            }
            if (line.find('-') == 3) continue;
            Code = 0;
            if (line.size() >= 3 && line[0] >= '0' && line[0] <= '9' && line[1] >= '0' && line[1] <= '9' &&
                line[2] >= '0' && line[2] <= '9')
                Code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
            FConn.Paired += used;
            return true;
        }
    }

    void Pair() {
        int code = 0;
        while (!FConn.Awaited.empty() && !FConn.OutOfStep && NextReply(code)) {
            const TAwaited asked = FConn.Awaited.front();
            FConn.Awaited.pop_front();
            const bool fits = Fits(asked.Asked, code);
            if (!fits || code == 421) FConn.OutOfStep = true;
            if (code == 421 || asked.Asked == TAsked::Quit) FConn.Closing = true;
            FConn.AuthOpen = asked.Asked == TAsked::Auth && code == 334;
            if (asked.Verb == "MAIL" || asked.Verb == "RSET") FConn.Accepted.clear();
            if (asked.Verb == "RCPT" && fits && code / 100 == 2) FConn.Accepted.insert(asked.Address);
            if (asked.Asked == TAsked::Data && code == 354) {
                FConn.InData = true;
                FConn.Data.clear();
            }
            if (asked.Asked == TAsked::DataEnd) {
                FEndAccepted = fits && code / 100 == 2;
                FEndRecipients = FConn.Accepted;
                FConn.Accepted.clear();
            }
        }
    }

    void Process() {
        while (!FConn.Closing) {
            if (FConn.InData) {
                if (!Message()) return;
                continue;
            }
            const std::size_t lf = FConn.Inbound.find('\n');
            if (lf == std::string::npos) return;
            std::string line = FConn.Inbound.substr(0, lf);
            FConn.Inbound.erase(0, lf + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            Command(line);
        }
    }

    void Command(const std::string& Line) {
        std::string verb = Line.substr(0, Line.find_first_of(" :"));
        for (char& c : verb) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        TAsked asked = TAsked::Command;
        if (FConn.AuthOpen && Line == "*")
            asked = TAsked::Cancel;
        else if (FConn.AuthOpen || verb == "AUTH")
            asked = TAsked::Auth;
        else if (verb == "EHLO" || verb == "HELO")
            asked = TAsked::Hello;
        else if (verb == "DATA")
            asked = TAsked::Data;
        else if (verb == "QUIT")
            asked = TAsked::Quit;
        std::string address;
        const std::size_t open = Line.find('<');
        const std::size_t shut = Line.find('>');
        if (open != std::string::npos && shut != std::string::npos && shut > open)
            address = Line.substr(open + 1, shut - open - 1);
        Ask(asked, verb, address);
    }

    // The message so far; true when it ended and the rest is commands again.
    bool Message() {
        FConn.Data += FConn.Inbound;
        FConn.Inbound.clear();
        std::size_t end = std::string::npos;
        if (FConn.Data.starts_with(".\r\n"))
            end = 0;
        else if (const std::size_t at = FConn.Data.find("\r\n.\r\n"); at != std::string::npos)
            end = at + 2;
        if (end == std::string::npos) {
            Check(kOnTheWire.starts_with(FConn.Data), "message data differs from the stuffed message");
            return false;
        }
        Check(FConn.Data.substr(0, end + 3) == kOnTheWire, "message data differs from the stuffed message");
        Check(++FConn.Ends == 1, "second end of data on one connection");
        Check(++FEnds == 1, "second end of data in one send");
        FConn.Inbound = FConn.Data.substr(end + 3);
        FConn.InData = false;
        Ask(TAsked::DataEnd, ".", "");
        return true;
    }

    std::vector<std::string> FChunks;
    std::size_t FNext = 0;
    TConnection FConn;
    int FEnds = 0;
    bool FEndAccepted = false;
    std::multiset<std::string> FEndRecipients;
};

// The client's socket, wired to the model server instead of the network.
class TFuzzWire final : public net::TTCPBlockSocket {
public:
    explicit TFuzzWire(TModelServer& Server) : FServer(Server) {}
    ~TFuzzWire() override { FSocket = -1; }

    void Connect(const std::string&, const std::string&) override {
        ResetLastError();
        FBuffer.clear();
        FLastCR = FLastLF = false;
        if (FServer.Open())
            FSocket = kFakeHandle;
        else
            SetLastError(net::WSAECONNREFUSED);
        ExceptCheck();
    }
    void CloseSocket() override { AbortSocket(); }
    void AbortSocket() override {
        if (FSocket != -1) FServer.ClientClosed();
        FSocket = -1;
    }
    int SendBuffer(const void* Buffer, int Length) override {
        ResetLastError();
        DoMonitor(true, Buffer, Length);
        if (!FServer.Written(
                std::string_view(static_cast<const char*>(Buffer), static_cast<std::size_t>(Length)),
                Pending())) {
            SetLastError(net::WSAECONNRESET);
            ExceptCheck();
            return 0;
        }
        return Length;
    }
    int RecvBuffer(void* Buffer, int Length) override {
        Count();
        ResetLastError();
        const auto n =
            static_cast<int>(FServer.Take(static_cast<char*>(Buffer), static_cast<std::size_t>(Length)));
        if (n == 0) SetLastError(net::WSAEDISCON);
        return n;
    }
    // What one read takes: a few segments' worth, as a network hands it out.
    int WaitingData() override {
        return static_cast<int>(std::min<std::size_t>(FServer.Unread().size(), 4096));
    }
    int PeekBuffer(void*, int) override { return FServer.Unread().empty() ? 0 : 1; }
    std::string GetLocalSinIP() override { return "192.0.2.10"; }

protected:
    bool InternalCanRead(int) override {
        Count();
        return !FServer.Unread().empty() || FServer.ServerClosed();
    }
    bool InternalCanWrite(int) override { return true; }

private:
    static constexpr int kFakeHandle = 0x3fffffff;  // no descriptor of the process

    void Count() { Check(++FReads <= kMaxReads, "unbounded reads"); }

    // What the client has been sent and not read: its line buffer first (less the
    // second half of a line end whose first half ended the last line).
    std::string Pending() const {
        std::string pending = FBuffer;
        pending.append(FServer.Unread());
        if (!pending.empty() &&
            ((FLastCR && pending.front() == '\n') || (FLastLF && pending.front() == '\r')))
            pending.erase(0, 1);
        return pending;
    }

    TModelServer& FServer;
    std::size_t FReads = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    if (Size < 1) return 0;
    const std::uint8_t settings = Data[0];
    TModelServer server(std::string_view(reinterpret_cast<const char*>(Data) + 1, Size - 1));
    auto client = std::make_unique<smtp::TSMTPSend>(std::make_unique<TFuzzWire>(server));
    client->SetSystemName("client.test");
    mail::TMailSender mail(std::move(client));
    mail.SetHost("mx.example");
    mail.SetTimeOut(1000);
    mail.SetAttempts(static_cast<std::uint8_t>(settings % 4 == 0 ? 1 : settings % 4));
    mail.SetFrom("loja@example.com");
    std::vector<std::string> recipients{kRecipients[0]};
    mail.AddAddress(kRecipients[0]);
    if (settings & 4) {
        mail.AddCC(kRecipients[1]);
        recipients.push_back(kRecipients[1]);
    }
    if (settings & 8) {
        mail.AddBCC(kRecipients[2]);
        recipients.push_back(kRecipients[2]);
    }
    if (settings & 16) {
        mail.SetUsername("loja");
        mail.SetPassword("s3nha");
    }
    bool succeeded = false;
    try {
        mail.SendBuiltMessage(kMessage);
        succeeded = true;
    } catch (const mail::EAbort&) {
    } catch (const std::runtime_error&) {
    }
    server.Finished(succeeded, recipients);
    return 0;
}
