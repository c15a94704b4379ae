#pragma once
// Runs smtp_sink.py (aiosmtpd) as a child process on a free loopback port and
// collects what it received. The child stops when its standard input closes.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "mime/Codings.h"

extern char** environ;

namespace tandrel::smtp::testing {

/// One message as the sink recorded it.
struct SinkMessage {
    std::string MailFrom;
    std::string MailOptions;
    std::vector<std::string> Recipients;
    std::string RcptOptions;
    std::string Login; // "-" when no one logged in
    bool Tls = false;
    std::string Data; // bytes after the server removed dot-stuffing
};

class SmtpSinkProcess {
public:
    /// Starts the sink with Args (after the script name). Throws when it does not
    /// come up; the caller turns that into a skip or a failure.
    explicit SmtpSinkProcess(const std::vector<std::string>& Args)
    {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<std::string> argv{TANDREL_PYTHON, std::string(TANDREL_SOURCE_DIR) + "/smtp/tests/smtp_sink.py"};
        argv.insert(argv.end(), Args.begin(), Args.end());
        std::vector<char*> cargv;
        for (auto& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);
        const int rc = ::posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, cargv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        if (rc != 0) {
            pid_ = -1;
            throw std::runtime_error("cannot start " + argv[0]);
        }
        const std::string first = ReadLine(std::chrono::seconds(20));
        if (first.rfind("PORT ", 0) != 0) throw std::runtime_error("sink did not start: " + first);
        port_ = first.substr(5);
    }

    ~SmtpSinkProcess() { Stop(); }
    SmtpSinkProcess(const SmtpSinkProcess&) = delete;
    SmtpSinkProcess& operator=(const SmtpSinkProcess&) = delete;

    [[nodiscard]] const std::string& Port() const { return port_; }

    /// Stops the sink and returns every message it accepted, in order.
    std::vector<SinkMessage> Messages()
    {
        Stop();
        std::vector<SinkMessage> result;
        std::istringstream lines(output_);
        std::string line;
        SinkMessage m;
        while (std::getline(lines, line)) {
            const std::string key = line.substr(0, line.find(' '));
            const std::string value = line.size() > key.size() ? line.substr(key.size() + 1) : std::string{};
            if (key == "MAIL_FROM") m.MailFrom = value;
            else if (key == "MAIL_OPTIONS") m.MailOptions = value;
            else if (key == "RCPT") m.Recipients.push_back(value);
            else if (key == "RCPT_OPTIONS") m.RcptOptions = value;
            else if (key == "LOGIN") m.Login = value;
            else if (key == "TLS") m.Tls = value == "yes";
            else if (key == "DATA") m.Data = mime::DecodeBase64(value);
            else if (key == "END") result.push_back(std::exchange(m, SinkMessage{}));
        }
        return result;
    }

private:
    std::string ReadLine(std::chrono::seconds Limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + Limit;
        std::size_t nl;
        while ((nl = output_.find('\n')) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= deadline || !ReadSome(100)) return output_;
        }
        std::string line = output_.substr(0, nl);
        output_.erase(0, nl + 1);
        return line;
    }

    // False at end of output.
    bool ReadSome(int WaitMs)
    {
        pollfd p{stdout_, POLLIN, 0};
        if (::poll(&p, 1, WaitMs) <= 0) return true;
        char buf[8192];
        const ssize_t n = ::read(stdout_, buf, sizeof buf);
        if (n <= 0) return false;
        output_.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    void Stop()
    {
        if (stdin_ >= 0) {
            ::close(stdin_);
            stdin_ = -1;
        }
        if (stdout_ >= 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (std::chrono::steady_clock::now() < deadline && ReadSome(100)) {
            }
            ::close(stdout_);
            stdout_ = -1;
        }
        if (pid_ > 0) {
            int status = 0;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (::waitpid(pid_, &status, WNOHANG) == 0) {
                if (std::chrono::steady_clock::now() >= deadline) {
                    ::kill(pid_, SIGTERM); // only the child this object started
                    ::waitpid(pid_, &status, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            pid_ = -1;
        }
    }

    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    std::string port_;
    std::string output_;
};

} // namespace tandrel::smtp::testing
