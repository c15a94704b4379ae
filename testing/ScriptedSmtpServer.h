#pragma once
// A loopback SMTP peer for what a real server will not do on demand. It works in
// one of two ways:
// - with a script (Steps) it plays canned replies and reads on the first
//   connection, recording every byte it received so that a test can compare the
//   exact transcript; replies can be cut into pieces of a few bytes to exercise
//   the client's line assembly;
// - without one it answers every command of every connection by its verb, from
//   replies a test queued or from defaults, recording the command lines and the
//   message lines of every DATA; it can drop the connection or stay silent. Commands
//   that come together (pipelined) are answered one by one, in order.
// Both can answer late, as a slow server does: a script pauses (Pause), a queued
// reply carries a delay (Queue). Meanwhile everything the client sends or does
// (closing included) is received and recorded, as a real server's socket would.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace tandrel::testing {

/// One step of a script.
struct Step {
    enum class Kind {
        Send,        // send Bytes
        Line,        // read one line (up to LF)
        Data,        // read lines up to and including ".\r\n"
        ReadBytes,   // read at least Count bytes
        Hangup,      // close the connection
        Flood,       // send Bytes again and again until the client goes away
        AwaitClose,  // send nothing; read until the client closes
        Pause,       // send nothing for Count milliseconds, still receiving
        Deaf,        // read nothing for Count milliseconds: the client's writes find no room
    };
    Kind What = Kind::Send;
    std::string Bytes;
    std::size_t Count = 0;
    bool Whole = false;  // Send: one write whatever the piece size
};

inline Step MakeStep(Step::Kind What, std::string Bytes = {}, std::size_t Count = 0, bool Whole = false) {
    Step s;
    s.What = What;
    s.Bytes = std::move(Bytes);
    s.Count = Count;
    s.Whole = Whole;
    return s;
}

/// Sends Text followed by CR LF.
inline Step Reply(std::string Text) { return MakeStep(Step::Kind::Send, std::move(Text) + "\r\n"); }
/// Sends Bytes exactly, in one write whatever the piece size.
inline Step Raw(std::string Bytes) { return MakeStep(Step::Kind::Send, std::move(Bytes), 0, true); }
/// Reads one command line.
inline Step Hear() { return MakeStep(Step::Kind::Line); }
/// Reads the message data up to the final dot.
inline Step HearData() { return MakeStep(Step::Kind::Data); }
/// Reads at least Count bytes.
inline Step HearBytes(std::size_t Count) { return MakeStep(Step::Kind::ReadBytes, {}, Count); }
/// Closes the connection.
inline Step Hangup() { return MakeStep(Step::Kind::Hangup); }
/// Sends Unit again and again until the client goes away.
inline Step Flood(std::string Unit) { return MakeStep(Step::Kind::Flood, std::move(Unit)); }
/// Reads until the client closes.
inline Step AwaitClose() { return MakeStep(Step::Kind::AwaitClose); }
/// Says nothing for a while (a reply after it comes late), still receiving what the
/// client sends; the script ends early when the client closes meanwhile.
inline Step Pause(std::chrono::milliseconds Delay) {
    return MakeStep(Step::Kind::Pause, {}, static_cast<std::size_t>(Delay.count()));
}

/// Reads nothing for a while, as a server that stops taking the message does: once
/// the buffers between are full the client's writes find no room.
inline Step Deaf(std::chrono::milliseconds For) {
    return MakeStep(Step::Kind::Deaf, {}, static_cast<std::size_t>(For.count()));
}

/// A script from the usual pattern: a greeting, then for each reply one command
/// heard and the reply sent.
inline std::vector<Step> Dialog(std::string Greeting, const std::vector<std::string>& Replies) {
    std::vector<Step> script{Reply(std::move(Greeting))};
    for (const auto& r : Replies) {
        script.push_back(Hear());
        script.push_back(Reply(r));
    }
    return script;
}

/// Serves on 127.0.0.1 (an ephemeral port) from a thread of its own until destroyed.
/// Throws std::runtime_error when it cannot listen.
class ScriptedSmtpServer {
public:
    /// Reply that closes the connection instead of answering.
    static constexpr const char* kClose = "<close>";
    /// Greeting or reply that is never sent: the connection stays silent, receiving,
    /// until the client closes it.
    static constexpr const char* kSilent = "<silent>";
    /// The "verb" of a line that answers a 334 challenge (the parts of an AUTH
    /// exchange after its first line); answered by default with 235.
    static constexpr const char* kAuthAnswer = "<auth-answer>";
    /// Reply to DATA: accept with 354, read one message line, then close the connection.
    static constexpr const char* kDropInData = "<drop-in-data>";

    /// Answers by verb (see Queue), on every connection.
    ScriptedSmtpServer() {
        Listen([this] { Answer(); });
    }

    /// Plays Script on the first connection; after it keeps recording until the client
    /// closes, so commands the script did not expect still show in the transcript.
    /// Piece: largest write used for replies (0 = a reply in one write).
    explicit ScriptedSmtpServer(std::vector<Step> Script, std::size_t Piece = 0)
        : FScript(std::move(Script)), FPiece(Piece) {
        Listen([this] { Play(); });
    }

    ~ScriptedSmtpServer() {
        FStop = true;
        if (FThread.joinable()) FThread.join();
        if (FListener >= 0) ::close(FListener);
    }

    ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
    ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

    [[nodiscard]] std::string Port() const { return std::to_string(FPort); }

    /// With a script: every byte received, once the client has closed the connection
    /// (or the server gave up waiting for it).
    [[nodiscard]] std::string Transcript() {
        if (FThread.joinable()) FThread.join();
        return FTranscript;
    }

    /// Sets the greeting of every connection without a queued "GREETING" (kSilent: none).
    void SetGreeting(std::string Reply) {
        std::lock_guard<std::mutex> lock(FMutex);
        FGreeting = std::move(Reply);
    }
    /// Queues `Reply` for the next `Verb` ("GREETING", "EHLO", "MAIL", "RCPT", "DATA",
    /// "." for the end of the message, "QUIT", kAuthAnswer...), sent `Delay` after the
    /// command was received; without a queued reply the default answers at once. A reply
    /// may hold several lines separated by CR LF. A late reply goes out even when the
    /// client has given up meanwhile (unless it closed the connection), as a real
    /// server's would.
    void Queue(const std::string& Verb, std::string Reply,
               std::chrono::milliseconds Delay = std::chrono::milliseconds(0)) {
        std::lock_guard<std::mutex> lock(FMutex);
        FQueued[Verb].push_back({std::move(Reply), Delay});
    }
    /// Every command line received while answering by verb, in order, over all connections.
    std::vector<std::string> Commands() const {
        std::lock_guard<std::mutex> lock(FMutex);
        return FCommands;
    }
    /// The message lines of the last completed DATA.
    std::vector<std::string> Data() const {
        std::lock_guard<std::mutex> lock(FMutex);
        return FMessages.empty() ? std::vector<std::string>{} : FMessages.back();
    }
    /// The message lines of every completed DATA (the final "." received), in order:
    /// what a real server would have stored, whether or not its reply reached the client.
    std::vector<std::vector<std::string>> Messages() const {
        std::lock_guard<std::mutex> lock(FMutex);
        return FMessages;
    }
    /// Every byte received on each connection answered by verb, in order of the
    /// connections; waits until each has ended (or the guard runs out).
    std::vector<std::string> Received() {
        std::unique_lock<std::mutex> lock(FMutex);
        FEnded.wait_for(lock, Guard,
                        [this] { return FReceived.size() == static_cast<std::size_t>(FConnections); });
        return FReceived;
    }
    /// Connections accepted so far.
    int Connections() const { return FConnections; }

private:
    using Clock = std::chrono::steady_clock;
    // Nothing in the tests takes this long; it only keeps a broken test from hanging.
    static constexpr auto Guard = std::chrono::seconds(30);

    // One accepted connection and everything received on it.
    class Connection {
    public:
        Connection(int Fd, const std::atomic<bool>& Stop, Clock::time_point Deadline)
            : FFd(Fd), FStop(Stop), FDeadline(Deadline) {
            const int one = 1;
            ::setsockopt(FFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        }
        ~Connection() { ::close(FFd); }
        Connection(const Connection&) = delete;
        Connection& operator=(const Connection&) = delete;

        // Reads until Done() holds; false when the peer closed first, the server
        // stops or the guard runs out.
        template <typename Pred>
        bool ReadUntil(Pred Done) {
            char buf[16384];
            while (!Done()) {
                if (FStop || Clock::now() >= FDeadline) return false;
                pollfd p{FFd, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0) continue;
                const ssize_t n = ::recv(FFd, buf, sizeof buf, 0);
                if (n <= 0) return false;
                received.append(buf, static_cast<std::size_t>(n));
            }
            return true;
        }

        // The next line not yet taken, without its CR LF.
        bool ReadLine(std::string& Line) {
            std::size_t end = 0;
            if (!ReadUntil([&] { return (end = received.find("\r\n", FTaken)) != std::string::npos; }))
                return false;
            Line = received.substr(FTaken, end - FTaken);
            FTaken = end + 2;
            return true;
        }

        // Sends Bytes in writes of at most Piece bytes (0: one write).
        bool Send(std::string_view Bytes, std::size_t Piece) {
            const std::size_t step = Piece == 0 ? Bytes.size() : Piece;
            for (std::size_t at = 0; at < Bytes.size(); at += step) {
                const std::string_view part = Bytes.substr(at, step);
                std::size_t done = 0;
                while (done < part.size()) {
                    const ssize_t n = ::send(FFd, part.data() + done, part.size() - done, MSG_NOSIGNAL);
                    if (n <= 0) return false;
                    done += static_cast<std::size_t>(n);
                }
                // A short pause lets each piece arrive on its own.
                if (Piece != 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            return true;
        }

        [[nodiscard]] bool Expired() const { return FStop || Clock::now() >= FDeadline; }

        // Waits Delay, receiving meanwhile; false when the client closed first.
        bool Linger(std::chrono::milliseconds Delay) {
            const auto until = Clock::now() + Delay;
            return ReadUntil([&] { return Clock::now() >= until; });
        }

        // Reads nothing for Delay (or until the server stops).
        void Ignore(std::chrono::milliseconds Delay) {
            const auto until = std::min(Clock::now() + Delay, FDeadline);
            while (!FStop && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }

        std::string received;

    private:
        int FFd;
        const std::atomic<bool>& FStop;
        Clock::time_point FDeadline;
        std::size_t FTaken = 0;
    };

    template <typename Serve>
    void Listen(Serve Run) {
        FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (FListener < 0) throw std::runtime_error("scripted server: socket failed");
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(FListener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(FListener, 8) != 0 ||
            ::getsockname(FListener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            ::close(FListener);
            FListener = -1;
            throw std::runtime_error("scripted server: cannot listen on loopback");
        }
        FPort = ntohs(addr.sin_port);
        FThread = std::thread(std::move(Run));
    }

    // The next connection, or -1 once the server stops or Deadline passes.
    int Accept(Clock::time_point Deadline) {
        while (!FStop && Clock::now() < Deadline) {
            pollfd p{FListener, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int fd = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                ++FConnections;
                return fd;
            }
        }
        return -1;
    }

    // ---- with a script

    void Play() {
        const auto deadline = Clock::now() + Guard;
        const int fd = Accept(deadline);
        if (fd < 0) return;
        Connection c(fd, FStop, deadline);
        bool open = true;
        for (const Step& step : FScript) {
            if (!open) break;
            open = PlayStep(c, step);
        }
        if (open) c.ReadUntil([] { return false; });
        FTranscript = std::move(c.received);
    }

    bool PlayStep(Connection& C, const Step& Step) {
        const std::string& r = C.received;
        const std::size_t from = r.size();
        switch (Step.What) {
            case Step::Kind::Send: return C.Send(Step.Bytes, Step.Whole ? 0 : FPiece);
            case Step::Kind::Line:
                return C.ReadUntil([&] { return r.find('\n', from) != std::string::npos; });
            case Step::Kind::Data:
                return C.ReadUntil([&] {
                    const std::string_view v(r);
                    return v.size() >= from + 3 && v.ends_with(".\r\n") &&
                           (v.size() == from + 3 || v.substr(0, v.size() - 3).ends_with("\r\n"));
                });
            case Step::Kind::ReadBytes: return C.ReadUntil([&] { return r.size() >= from + Step.Count; });
            case Step::Kind::Hangup: return false;
            case Step::Kind::Flood:
                while (!C.Expired())
                    if (!C.Send(Step.Bytes, 0)) break;
                return false;
            case Step::Kind::AwaitClose: C.ReadUntil([] { return false; }); return false;
            case Step::Kind::Pause: return C.Linger(std::chrono::milliseconds(Step.Count));
            case Step::Kind::Deaf: C.Ignore(std::chrono::milliseconds(Step.Count)); return true;
        }
        return false;
    }

    // ---- by verb

    void Answer() {
        while (!FStop) {
            const int fd = Accept(Clock::time_point::max());
            if (fd < 0) continue;
            Connection c(fd, FStop, Clock::now() + Guard);
            Serve(c);
            std::lock_guard<std::mutex> lock(FMutex);
            FReceived.push_back(std::move(c.received));
            FEnded.notify_all();
        }
    }

    struct Queued {
        std::string Text;
        std::chrono::milliseconds Delay{0};
    };

    std::optional<Queued> Take(const std::string& Verb) {
        std::lock_guard<std::mutex> lock(FMutex);
        auto& queue = FQueued[Verb];
        if (queue.empty()) return std::nullopt;
        Queued reply = std::move(queue.front());
        queue.pop_front();
        return reply;
    }

    Queued ReplyFor(const std::string& Verb) {
        if (auto queued = Take(Verb)) return *std::move(queued);
        static const std::map<std::string, std::string> defaults{
            {"EHLO", "250-scripted\r\n250-DSN\r\n250 SIZE 10000000"},
            {"HELO", "250 scripted"},
            {"MAIL", "250 2.1.0 Ok"},
            {"RCPT", "250 2.1.5 Ok"},
            {"DATA", "354 End data with <CR><LF>.<CR><LF>"},
            {".", "250 2.0.0 Ok: queued"},
            {"QUIT", "221 2.0.0 Bye"},
            {kAuthAnswer, "235 2.7.0 Authentication successful"},
        };
        const auto it = defaults.find(Verb);
        return {it == defaults.end() ? "502 5.5.2 Error: command not recognized" : it->second};
    }

    // Sends a reply after its delay; false when the connection is to end: the reply
    // asks to close it or to say nothing more, or the client closed it meanwhile.
    static bool Say(Connection& C, const Queued& Reply) {
        if (Reply.Text == kSilent) {
            C.ReadUntil([] { return false; });
            return false;
        }
        if (Reply.Delay.count() > 0 && !C.Linger(Reply.Delay)) return false;
        return Reply.Text != kClose && C.Send(Reply.Text + "\r\n", 0);
    }

    static std::string VerbOf(const std::string& Line) {
        std::string verb = Line.substr(0, Line.find(' '));
        if (const auto colon = verb.find(':'); colon != std::string::npos) verb.resize(colon);
        for (char& ch : verb) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        return verb;
    }

    void Serve(Connection& C) {
        Queued greeting;
        if (auto queued = Take("GREETING")) {
            greeting = *std::move(queued);
        } else {
            std::lock_guard<std::mutex> lock(FMutex);
            greeting.Text = FGreeting;
        }
        if (!Say(C, greeting)) return;
        std::string line;
        bool challenged = false;  // the last reply was a 334: the next line answers it
        while (C.ReadLine(line)) {
            {
                std::lock_guard<std::mutex> lock(FMutex);
                FCommands.push_back(line);
            }
            const std::string verb = challenged ? kAuthAnswer : VerbOf(line);
            const Queued reply = ReplyFor(verb);
            challenged = reply.Text.rfind("334", 0) == 0;
            if (reply.Text == kDropInData) {
                (void)Say(C, {"354 go ahead"});
                (void)C.ReadLine(line);
                return;
            }
            if (!Say(C, reply)) return;
            if (verb == "QUIT") return;
            if (verb == "DATA" && reply.Text.rfind("354", 0) == 0) {
                std::vector<std::string> data;
                bool ended = false;
                while (!ended && C.ReadLine(line)) {
                    ended = line == ".";
                    if (!ended) data.push_back(line);
                }
                if (!ended) return;
                {
                    std::lock_guard<std::mutex> lock(FMutex);
                    FMessages.push_back(std::move(data));
                }
                if (!Say(C, ReplyFor("."))) return;
            }
        }
    }

    std::vector<Step> FScript;
    std::size_t FPiece = 0;
    int FListener = -1;
    unsigned short FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<int> FConnections{0};
    std::string FTranscript;
    mutable std::mutex FMutex;
    std::string FGreeting = "220 scripted ESMTP";
    std::map<std::string, std::deque<Queued>> FQueued;
    std::vector<std::string> FCommands;
    std::vector<std::vector<std::string>> FMessages;
    std::vector<std::string> FReceived;
    std::condition_variable FEnded;
    std::thread FThread;
};

}  // namespace tandrel::testing
