#pragma once
// testing/smtp_server.py (aiosmtpd) on loopback for one test: started in the
// constructor, stopped in the destructor. It summarises every accepted message in
// a file of its folder, which Messages() reads back.

#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

#include <cstddef>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace tandrel::testing {

/// One received message as the server saw it (keys: see smtp_server.py).
struct ReceivedMail {
    std::multimap<std::string, std::string> fields;
    /// The first value of Key; empty when there is none.
    std::string Get(const std::string& Key) const {
        const auto it = fields.find(Key);
        return it == fields.end() ? std::string{} : it->second;
    }
    /// Every value of Key, in order.
    std::vector<std::string> All(const std::string& Key) const {
        std::vector<std::string> values;
        for (auto [it, end] = fields.equal_range(Key); it != end; ++it) values.push_back(it->second);
        return values;
    }
};

/// Bytes from pairs of hexadecimal digits.
inline std::string FromHex(const std::string& Hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < Hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(Hex.substr(i, 2), nullptr, 16));
    return bytes;
}

class PythonSmtpServer {
public:
    /// `Args`: options of smtp_server.py after --out (--mode, --user, --password, --size...).
    /// Throws std::runtime_error when the server does not come up.
    explicit PythonSmtpServer(const std::vector<std::string>& Args = {})
        : FProcess(Argv(FDir, Args), Options()) {
        const auto first = FProcess.ReadLine(60000);
        if (!first || first->rfind("PORT ", 0) != 0)
            throw std::runtime_error("smtp_server.py did not start: " + FProcess.Output());
        FPort = std::stoi(first->substr(5));
    }
    PythonSmtpServer(const PythonSmtpServer&) = delete;
    PythonSmtpServer& operator=(const PythonSmtpServer&) = delete;

    int Port() const { return FPort; }
    std::string PortText() const { return std::to_string(FPort); }

    /// The messages accepted so far, in order.
    std::vector<ReceivedMail> Messages() const {
        std::vector<ReceivedMail> mails;
        for (int n = 1;; ++n) {
            std::ifstream file(FDir.Path() / ("msg-" + std::to_string(n) + ".txt"));
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

    /// Every byte clients sent so far (commands and data), when started with --record.
    std::string Received() const {
        std::ifstream file(FDir.Path() / "received.bin", std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

private:
    static std::vector<std::string> Argv(const TempDir& Dir, const std::vector<std::string>& Args) {
        std::vector<std::string> argv{TANDREL_PYTHON,
                                      std::string(TANDREL_SOURCE_DIR) + "/testing/smtp_server.py", "--out",
                                      Dir.Path().string()};
        argv.insert(argv.end(), Args.begin(), Args.end());
        return argv;
    }
    static ChildOptions Options() {
        ChildOptions options;
        options.EndsOnInputClose = true;
        return options;
    }

    TempDir FDir;  // outlives the process, which writes into it
    ChildProcess FProcess;
    int FPort = 0;
};

}  // namespace tandrel::testing
