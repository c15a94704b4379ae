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
        Send,       // send Bytes
        Line,       // read one line (up to LF)
        Data,       // read lines up to and including ".\r\n"
        ReadBytes,  // read at least Count bytes
        Hangup,     // close the connection
        Flood,      // send Bytes again and again until the client goes away
        AwaitClose, // send nothing; read until the client closes
        Pause,      // send nothing for Count milliseconds, still receiving
        Deaf,       // read nothing for Count milliseconds: the client's writes find no room
    };
    Kind What = Kind::Send;
    std::string Bytes;
    std::size_t Count = 0;
    bool Whole = false; // Send: one write whatever the piece size
};

inline Step MakeStep(Step::Kind What, std::string Bytes = {}, std::size_t Count = 0, bool Whole = false)
{
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
inline Step Pause(std::chrono::milliseconds Delay)
{
    return MakeStep(Step::Kind::Pause, {}, static_cast<std::size_t>(Delay.count()));
}

/// Reads nothing for a while, as a server that stops taking the message does: once
/// the buffers between are full the client's writes find no room.
inline Step Deaf(std::chrono::milliseconds For)
{
    return MakeStep(Step::Kind::Deaf, {}, static_cast<std::size_t>(For.count()));
}

/// A script from the usual pattern: a greeting, then for each reply one command
/// heard and the reply sent.
inline std::vector<Step> Dialog(std::string Greeting, const std::vector<std::string>& Replies)
{
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
    ScriptedSmtpServer() { Listen([this] { Answer(); }); }

    /// Plays Script on the first connection; after it keeps recording until the client
    /// closes, so commands the script did not expect still show in the transcript.
    /// Piece: largest write used for replies (0 = a reply in one write).
    explicit ScriptedSmtpServer(std::vector<Step> Script, std::size_t Piece = 0)
        : script_(std::move(Script)), piece_(Piece)
    {
        Listen([this] { Play(); });
    }

    ~ScriptedSmtpServer()
    {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) ::close(listener_);
    }

    ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
    ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

    [[nodiscard]] std::string Port() const { return std::to_string(port_); }

    /// With a script: every byte received, once the client has closed the connection
    /// (or the server gave up waiting for it).
    [[nodiscard]] std::string Transcript()
    {
        if (thread_.joinable()) thread_.join();
        return transcript_;
    }

    /// Sets the greeting of every connection without a queued "GREETING" (kSilent: none).
    void SetGreeting(std::string reply)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        greeting_ = std::move(reply);
    }
    /// Queues `reply` for the next `verb` ("GREETING", "EHLO", "MAIL", "RCPT", "DATA",
    /// "." for the end of the message, "QUIT", kAuthAnswer...), sent `delay` after the
    /// command was received; without a queued reply the default answers at once. A reply
    /// may hold several lines separated by CR LF. A late reply goes out even when the
    /// client has given up meanwhile (unless it closed the connection), as a real
    /// server's would.
    void Queue(const std::string& verb, std::string reply,
               std::chrono::milliseconds delay = std::chrono::milliseconds(0))
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queued_[verb].push_back({std::move(reply), delay});
    }
    /// Every command line received while answering by verb, in order, over all connections.
    std::vector<std::string> Commands() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return commands_;
    }
    /// The message lines of the last completed DATA.
    std::vector<std::string> Data() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_.empty() ? std::vector<std::string>{} : messages_.back();
    }
    /// The message lines of every completed DATA (the final "." received), in order:
    /// what a real server would have stored, whether or not its reply reached the client.
    std::vector<std::vector<std::string>> Messages() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    /// Every byte received on each connection answered by verb, in order of the
    /// connections; waits until each has ended (or the guard runs out).
    std::vector<std::string> Received()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ended_.wait_for(lock, Guard, [this] { return received_.size() == static_cast<std::size_t>(connections_); });
        return received_;
    }
    /// Connections accepted so far.
    int Connections() const { return connections_; }

private:
    using Clock = std::chrono::steady_clock;
    // Nothing in the tests takes this long; it only keeps a broken test from hanging.
    static constexpr auto Guard = std::chrono::seconds(30);

    // One accepted connection and everything received on it.
    class Connection {
    public:
        Connection(int Fd, const std::atomic<bool>& Stop, Clock::time_point Deadline)
            : fd_(Fd), stop_(Stop), deadline_(Deadline)
        {
            const int one = 1;
            ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        }
        ~Connection() { ::close(fd_); }
        Connection(const Connection&) = delete;
        Connection& operator=(const Connection&) = delete;

        // Reads until Done() holds; false when the peer closed first, the server
        // stops or the guard runs out.
        template <typename Pred>
        bool ReadUntil(Pred Done)
        {
            char buf[16384];
            while (!Done()) {
                if (stop_ || Clock::now() >= deadline_) return false;
                pollfd p{fd_, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0) continue;
                const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
                if (n <= 0) return false;
                received.append(buf, static_cast<std::size_t>(n));
            }
            return true;
        }

        // The next line not yet taken, without its CR LF.
        bool ReadLine(std::string& Line)
        {
            std::size_t end = 0;
            if (!ReadUntil([&] { return (end = received.find("\r\n", taken_)) != std::string::npos; }))
                return false;
            Line = received.substr(taken_, end - taken_);
            taken_ = end + 2;
            return true;
        }

        // Sends Bytes in writes of at most Piece bytes (0: one write).
        bool Send(std::string_view Bytes, std::size_t Piece)
        {
            const std::size_t step = Piece == 0 ? Bytes.size() : Piece;
            for (std::size_t at = 0; at < Bytes.size(); at += step) {
                const std::string_view part = Bytes.substr(at, step);
                std::size_t done = 0;
                while (done < part.size()) {
                    const ssize_t n = ::send(fd_, part.data() + done, part.size() - done, MSG_NOSIGNAL);
                    if (n <= 0) return false;
                    done += static_cast<std::size_t>(n);
                }
                // A short pause lets each piece arrive on its own.
                if (Piece != 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            return true;
        }

        [[nodiscard]] bool Expired() const { return stop_ || Clock::now() >= deadline_; }

        // Waits Delay, receiving meanwhile; false when the client closed first.
        bool Linger(std::chrono::milliseconds Delay)
        {
            const auto until = Clock::now() + Delay;
            return ReadUntil([&] { return Clock::now() >= until; });
        }

        // Reads nothing for Delay (or until the server stops).
        void Ignore(std::chrono::milliseconds Delay)
        {
            const auto until = std::min(Clock::now() + Delay, deadline_);
            while (!stop_ && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }

        std::string received;

    private:
        int fd_;
        const std::atomic<bool>& stop_;
        Clock::time_point deadline_;
        std::size_t taken_ = 0;
    };

    template <typename Serve>
    void Listen(Serve Run)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0) throw std::runtime_error("scripted server: socket failed");
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener_, 8) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            ::close(listener_);
            listener_ = -1;
            throw std::runtime_error("scripted server: cannot listen on loopback");
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread(std::move(Run));
    }

    // The next connection, or -1 once the server stops or Deadline passes.
    int Accept(Clock::time_point Deadline)
    {
        while (!stop_ && Clock::now() < Deadline) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                ++connections_;
                return fd;
            }
        }
        return -1;
    }

    // ---- with a script

    void Play()
    {
        const auto deadline = Clock::now() + Guard;
        const int fd = Accept(deadline);
        if (fd < 0) return;
        Connection c(fd, stop_, deadline);
        bool open = true;
        for (const Step& step : script_) {
            if (!open) break;
            open = PlayStep(c, step);
        }
        if (open) c.ReadUntil([] { return false; });
        transcript_ = std::move(c.received);
    }

    bool PlayStep(Connection& c, const Step& step)
    {
        const std::string& r = c.received;
        const std::size_t from = r.size();
        switch (step.What) {
        case Step::Kind::Send:
            return c.Send(step.Bytes, step.Whole ? 0 : piece_);
        case Step::Kind::Line:
            return c.ReadUntil([&] { return r.find('\n', from) != std::string::npos; });
        case Step::Kind::Data:
            return c.ReadUntil([&] {
                const std::string_view v(r);
                return v.size() >= from + 3 && v.ends_with(".\r\n") &&
                       (v.size() == from + 3 || v.substr(0, v.size() - 3).ends_with("\r\n"));
            });
        case Step::Kind::ReadBytes:
            return c.ReadUntil([&] { return r.size() >= from + step.Count; });
        case Step::Kind::Hangup:
            return false;
        case Step::Kind::Flood:
            while (!c.Expired())
                if (!c.Send(step.Bytes, 0)) break;
            return false;
        case Step::Kind::AwaitClose:
            c.ReadUntil([] { return false; });
            return false;
        case Step::Kind::Pause:
            return c.Linger(std::chrono::milliseconds(step.Count));
        case Step::Kind::Deaf:
            c.Ignore(std::chrono::milliseconds(step.Count));
            return true;
        }
        return false;
    }

    // ---- by verb

    void Answer()
    {
        while (!stop_) {
            const int fd = Accept(Clock::time_point::max());
            if (fd < 0) continue;
            Connection c(fd, stop_, Clock::now() + Guard);
            Serve(c);
            std::lock_guard<std::mutex> lock(mutex_);
            received_.push_back(std::move(c.received));
            ended_.notify_all();
        }
    }

    struct Queued {
        std::string Text;
        std::chrono::milliseconds Delay{0};
    };

    std::optional<Queued> Take(const std::string& verb)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto& queue = queued_[verb];
        if (queue.empty()) return std::nullopt;
        Queued reply = std::move(queue.front());
        queue.pop_front();
        return reply;
    }

    Queued ReplyFor(const std::string& verb)
    {
        if (auto queued = Take(verb)) return *std::move(queued);
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
        const auto it = defaults.find(verb);
        return {it == defaults.end() ? "502 5.5.2 Error: command not recognized" : it->second};
    }

    // Sends a reply after its delay; false when the connection is to end: the reply
    // asks to close it or to say nothing more, or the client closed it meanwhile.
    static bool Say(Connection& c, const Queued& reply)
    {
        if (reply.Text == kSilent) {
            c.ReadUntil([] { return false; });
            return false;
        }
        if (reply.Delay.count() > 0 && !c.Linger(reply.Delay)) return false;
        return reply.Text != kClose && c.Send(reply.Text + "\r\n", 0);
    }

    static std::string VerbOf(const std::string& line)
    {
        std::string verb = line.substr(0, line.find(' '));
        if (const auto colon = verb.find(':'); colon != std::string::npos) verb.resize(colon);
        for (char& ch : verb) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        return verb;
    }

    void Serve(Connection& c)
    {
        Queued greeting;
        if (auto queued = Take("GREETING")) {
            greeting = *std::move(queued);
        } else {
            std::lock_guard<std::mutex> lock(mutex_);
            greeting.Text = greeting_;
        }
        if (!Say(c, greeting)) return;
        std::string line;
        bool challenged = false; // the last reply was a 334: the next line answers it
        while (c.ReadLine(line)) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                commands_.push_back(line);
            }
            const std::string verb = challenged ? kAuthAnswer : VerbOf(line);
            const Queued reply = ReplyFor(verb);
            challenged = reply.Text.rfind("334", 0) == 0;
            if (reply.Text == kDropInData) {
                (void)Say(c, {"354 go ahead"});
                (void)c.ReadLine(line);
                return;
            }
            if (!Say(c, reply)) return;
            if (verb == "QUIT") return;
            if (verb == "DATA" && reply.Text.rfind("354", 0) == 0) {
                std::vector<std::string> data;
                bool ended = false;
                while (!ended && c.ReadLine(line)) {
                    ended = line == ".";
                    if (!ended) data.push_back(line);
                }
                if (!ended) return;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    messages_.push_back(std::move(data));
                }
                if (!Say(c, ReplyFor("."))) return;
            }
        }
    }

    std::vector<Step> script_;
    std::size_t piece_ = 0;
    int listener_ = -1;
    unsigned short port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::string transcript_;
    mutable std::mutex mutex_;
    std::string greeting_ = "220 scripted ESMTP";
    std::map<std::string, std::deque<Queued>> queued_;
    std::vector<std::string> commands_;
    std::vector<std::vector<std::string>> messages_;
    std::vector<std::string> received_;
    std::condition_variable ended_;
    std::thread thread_;
};

} // namespace tandrel::testing
