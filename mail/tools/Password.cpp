#include "mail/tools/Password.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <stdexcept>

namespace tandrel::mail::tool {

namespace {

std::string WithoutLineEnd(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// Turns the terminal's echo off for its lifetime.
class EchoOff {
public:
    explicit EchoOff(int Fd) : fFd(Fd) {
        fOn = tcgetattr(fFd, &fSaved) == 0;
        if (!fOn) return;
        termios quiet = fSaved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        fOn = tcsetattr(fFd, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (fOn) tcsetattr(fFd, TCSAFLUSH, &fSaved);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    int fFd;
    termios fSaved{};
    bool fOn = false;
};

}  // namespace

std::string ReadPasswordFile(const std::string& File) {
    std::ifstream file(File, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read the password file \"" + File + "\": " + std::strerror(errno));
    std::string line;
    std::getline(file, line);
    if (file.bad()) throw std::runtime_error("cannot read the password file \"" + File + "\"");
    return WithoutLineEnd(std::move(line));
}

std::optional<std::string> AskPassword(const std::string& Prompt) {
    if (isatty(STDIN_FILENO) == 0) return std::nullopt;
    std::string line;
    {
        // Echo goes off before the prompt shows, so nothing typed after it is seen.
        const EchoOff quiet(STDIN_FILENO);
        std::cerr << Prompt << std::flush;
        if (!std::getline(std::cin, line)) return std::nullopt;
    }
    return WithoutLineEnd(std::move(line));
}

}  // namespace tandrel::mail::tool
