#pragma once
// An aiosmtpd server on loopback for one test: started in the constructor, stopped in
// the destructor. It summarises every accepted message in a file (see smtp_server.py).

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace tandrel::mail::testing {

/// A temporary folder removed with everything in it when the object goes.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tandrel-mail-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

/// One received message as the server's email package saw it.
struct ReceivedMail {
    std::multimap<std::string, std::string> fields;
    std::string Get(const std::string& key) const {
        const auto it = fields.find(key);
        return it == fields.end() ? std::string{} : it->second;
    }
    std::vector<std::string> All(const std::string& key) const {
        std::vector<std::string> values;
        for (auto [it, end] = fields.equal_range(key); it != end; ++it) values.push_back(it->second);
        return values;
    }
};

inline std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

class PythonSmtpServer {
public:
    /// `args`: extra options of smtp_server.py (--mode, --user, --password, --size...).
    explicit PythonSmtpServer(std::vector<std::string> args = {}) {
        int in[2];
        int out[2];
        if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe failed");
        std::vector<std::string> argv{TANDREL_PYTHON, std::string(TANDREL_SOURCE_DIR) + "/testing/smtp_server.py",
                                      "--out", dir_.Path().string()};
        argv.insert(argv.end(), args.begin(), args.end());
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[1]);
            close(out[0]);
            std::vector<char*> raw;
            for (auto& a : argv) raw.push_back(a.data());
            raw.push_back(nullptr);
            execv(raw[0], raw.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        stdin_ = in[1];
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        if (line.rfind("PORT ", 0) == 0) port_ = std::stoi(line.substr(5));
    }
    ~PythonSmtpServer() {
        if (stdin_ >= 0) close(stdin_);
        if (pid_ > 0) {
            int status = 0;
            for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (waitpid(pid_, &status, WNOHANG) == 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
            }
        }
    }
    PythonSmtpServer(const PythonSmtpServer&) = delete;
    PythonSmtpServer& operator=(const PythonSmtpServer&) = delete;

    /// 0 when the server did not start.
    int Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }

    /// The messages received so far, in order.
    std::vector<ReceivedMail> Messages() const {
        std::vector<ReceivedMail> mails;
        for (int n = 1;; ++n) {
            std::ifstream file(dir_.Path() / ("msg-" + std::to_string(n) + ".txt"));
            if (!file) break;
            ReceivedMail mail;
            std::string line;
            while (std::getline(file, line)) {
                const auto tab = line.find('\t');
                if (tab != std::string::npos) mail.fields.emplace(line.substr(0, tab), line.substr(tab + 1));
            }
            mails.push_back(std::move(mail));
        }
        return mails;
    }

private:
    TempDir dir_;
    pid_t pid_ = -1;
    int stdin_ = -1;
    int port_ = 0;
};

}  // namespace tandrel::mail::testing
