#pragma once
// A scripted SMTP peer on loopback for what a real server will not do on demand:
// queued replies per command, a dropped connection, a greeting that never comes.
// It records every command line it receives (the message lines after DATA apart).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tandrel::mail::testing {

class ScriptedSmtpServer {
public:
    /// Reply that closes the connection instead of answering.
    static constexpr const char* kClose = "<close>";
    /// Greeting that is never sent: the connection stays silent.
    static constexpr const char* kSilent = "<silent>";
    /// Reply to DATA: accept with 354, read one message line, then close the connection.
    static constexpr const char* kDropInData = "<drop-in-data>";

    ScriptedSmtpServer() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 8) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("scripted server: cannot listen");
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~ScriptedSmtpServer() {
        stop_ = true;
        thread_.join();
        close(listener_);
    }
    ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
    ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

    std::string PortText() const { return std::to_string(port_); }

    /// Sets the greeting of every connection without a queued "GREETING" (kSilent: none).
    void SetGreeting(std::string reply) {
        std::lock_guard<std::mutex> lock(mutex_);
        greeting_ = std::move(reply);
    }
    /// Queues `reply` for the next `verb` ("EHLO", "MAIL", "RCPT", "DATA", "." for the
    /// end of the message, "QUIT"...); without a queued reply the default answers.
    /// A reply may hold several lines separated by CR LF.
    void Queue(const std::string& verb, std::string reply) {
        std::lock_guard<std::mutex> lock(mutex_);
        queued_[verb].push_back(std::move(reply));
    }
    /// Every command line received, in order, over all connections.
    std::vector<std::string> Commands() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return commands_;
    }
    /// The message lines of the last completed DATA.
    std::vector<std::string> Data() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return data_;
    }
    int Connections() const { return connections_; }

private:
    std::string ReplyFor(const std::string& verb) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto& queue = queued_[verb];
        if (!queue.empty()) {
            std::string reply = queue.front();
            queue.pop_front();
            return reply;
        }
        static const std::map<std::string, std::string> defaults{
            {"EHLO", "250-scripted\r\n250-DSN\r\n250 SIZE 10000000"},
            {"HELO", "250 scripted"},
            {"MAIL", "250 2.1.0 Ok"},
            {"RCPT", "250 2.1.5 Ok"},
            {"DATA", "354 End data with <CR><LF>.<CR><LF>"},
            {".", "250 2.0.0 Ok: queued"},
            {"QUIT", "221 2.0.0 Bye"},
        };
        const auto it = defaults.find(verb);
        return it == defaults.end() ? "502 5.5.2 Error: command not recognized" : it->second;
    }

    // Reads one line (without CR LF); false when the peer closed or the server stops.
    bool ReadLine(int fd, std::string& buffer, std::string& line) {
        while (true) {
            if (const auto end = buffer.find("\r\n"); end != std::string::npos) {
                line = buffer.substr(0, end);
                buffer.erase(0, end + 2);
                return true;
            }
            pollfd p{fd, POLLIN, 0};
            const int ready = poll(&p, 1, 50);
            if (stop_) return false;
            if (ready <= 0) continue;
            char chunk[4096];
            const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
            if (got <= 0) return false;
            buffer.append(chunk, static_cast<std::size_t>(got));
        }
    }

    // Sends a reply; false when it asks to close the connection.
    static bool Reply(int fd, const std::string& reply) {
        if (reply == kClose) return false;
        const std::string bytes = reply + "\r\n";
        return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }

    void Serve(int fd) {
        std::string greeting;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto& queue = queued_["GREETING"];
            if (queue.empty()) {
                greeting = greeting_;
            } else {
                greeting = queue.front();
                queue.pop_front();
            }
        }
        std::string buffer;
        std::string line;
        if (greeting == kSilent) {
            while (ReadLine(fd, buffer, line)) {
            }
            return;
        }
        if (!Reply(fd, greeting)) return;
        while (ReadLine(fd, buffer, line)) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                commands_.push_back(line);
            }
            std::string verb = line.substr(0, line.find(' '));
            if (const auto colon = verb.find(':'); colon != std::string::npos) verb.resize(colon);
            for (char& c : verb) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
            const std::string reply = ReplyFor(verb);
            if (reply == kDropInData) {
                (void)Reply(fd, "354 go ahead");
                (void)ReadLine(fd, buffer, line);
                return;
            }
            if (!Reply(fd, reply)) return;
            if (verb == "QUIT") return;
            if (verb == "DATA" && reply.rfind("354", 0) == 0) {
                std::vector<std::string> data;
                while (ReadLine(fd, buffer, line) && line != ".") data.push_back(line);
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    data_ = data;
                }
                if (!Reply(fd, ReplyFor("."))) return;
            }
        }
    }

    void Run() {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0) continue;
            ++connections_;
            Serve(fd);
            close(fd);
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::string greeting_ = "220 scripted ESMTP";
    std::map<std::string, std::deque<std::string>> queued_;
    std::vector<std::string> commands_;
    std::vector<std::string> data_;
};

}  // namespace tandrel::mail::testing
