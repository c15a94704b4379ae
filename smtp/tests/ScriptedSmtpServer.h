#pragma once
// A loopback SMTP peer that plays a fixed script: it sends canned replies,
// reads the client's commands, and records every byte it received so that a
// test can compare the exact transcript. Replies can be cut into pieces of a
// few bytes to exercise the client's line assembly.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tandrel::smtp::testing {

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

/// Serves one connection on 127.0.0.1 (an ephemeral port) with a script. After the
/// script it keeps recording until the client closes, so commands the script did
/// not expect still show in the transcript.
class ScriptedSmtpServer {
public:
    /// Piece: largest write used for replies (0 = a reply in one write).
    explicit ScriptedSmtpServer(std::vector<Step> Script, std::size_t Piece = 0)
        : script_(std::move(Script)), piece_(Piece)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0) throw std::runtime_error("socket failed");
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener_, 4) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            ::close(listener_);
            throw std::runtime_error("listen on loopback failed");
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Run(); });
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

    /// Every byte received, once the client has closed the connection (or the
    /// server gave up waiting for it).
    [[nodiscard]] std::string Transcript()
    {
        if (thread_.joinable()) thread_.join();
        return received_;
    }

private:
    // Nothing in these tests takes this long; it only keeps a broken test from hanging.
    static constexpr auto Guard = std::chrono::seconds(30);

    void Run()
    {
        const auto deadline = std::chrono::steady_clock::now() + Guard;
        int fd = Accept(deadline);
        if (fd < 0) return;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        bool open = true;
        for (const Step& step : script_) {
            if (!open) break;
            open = Play(fd, step, deadline);
        }
        if (open) ReadUntil(fd, deadline, [] { return false; });
        ::close(fd);
    }

    int Accept(std::chrono::steady_clock::time_point deadline)
    {
        while (!stop_ && std::chrono::steady_clock::now() < deadline) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) return ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        }
        return -1;
    }

    bool Play(int fd, const Step& step, std::chrono::steady_clock::time_point deadline)
    {
        switch (step.What) {
        case Step::Kind::Send:
            return SendAll(fd, step.Bytes, step.Whole ? 0 : piece_);
        case Step::Kind::Line: {
            const std::size_t from = received_.size();
            return ReadUntil(fd, deadline, [&] { return received_.find('\n', from) != std::string::npos; });
        }
        case Step::Kind::Data: {
            const std::size_t from = received_.size();
            return ReadUntil(fd, deadline, [&] {
                const std::string_view r(received_);
                return r.size() >= from + 3 && r.ends_with(".\r\n") &&
                       (r.size() == from + 3 || r.substr(0, r.size() - 3).ends_with("\r\n"));
            });
        }
        case Step::Kind::ReadBytes: {
            const std::size_t from = received_.size();
            return ReadUntil(fd, deadline, [&] { return received_.size() >= from + step.Count; });
        }
        case Step::Kind::Hangup:
            return false;
        case Step::Kind::Flood:
            while (!stop_ && std::chrono::steady_clock::now() < deadline)
                if (!SendAll(fd, step.Bytes, 0)) break;
            return false;
        case Step::Kind::AwaitClose:
            ReadUntil(fd, deadline, [] { return false; });
            return false;
        }
        return false;
    }

    // Reads into the transcript until Done() holds; false when the peer closed first.
    template <typename Pred>
    bool ReadUntil(int fd, std::chrono::steady_clock::time_point deadline, Pred Done)
    {
        char buf[16384];
        while (!Done()) {
            if (stop_ || std::chrono::steady_clock::now() >= deadline) return false;
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return false;
            received_.append(buf, static_cast<std::size_t>(n));
        }
        return true;
    }

    bool SendAll(int fd, std::string_view bytes, std::size_t piece)
    {
        const std::size_t step = piece == 0 ? bytes.size() : piece;
        for (std::size_t at = 0; at < bytes.size(); at += step) {
            const std::string_view part = bytes.substr(at, step);
            std::size_t done = 0;
            while (done < part.size()) {
                const ssize_t n = ::send(fd, part.data() + done, part.size() - done, MSG_NOSIGNAL);
                if (n <= 0) return false;
                done += static_cast<std::size_t>(n);
            }
            // A short pause lets each piece arrive on its own.
            if (piece != 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return true;
    }

    std::vector<Step> script_;
    std::size_t piece_;
    int listener_ = -1;
    unsigned short port_ = 0;
    std::atomic<bool> stop_{false};
    std::string received_;
    std::thread thread_;
};

} // namespace tandrel::smtp::testing
