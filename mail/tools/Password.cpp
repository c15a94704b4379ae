#include "mail/tools/Password.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string_view>

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
    // Not part of the password: a mark some editors write at the start of a UTF-8 file.
    static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (line.starts_with(kByteOrderMark)) line.erase(0, kByteOrderMark.size());
    return WithoutLineEnd(std::move(line));
}

bool OthersMayRead(const std::string& File) {
    struct stat status {};
    return ::stat(File.c_str(), &status) == 0 && (status.st_mode & (S_IRGRP | S_IROTH)) != 0;
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
