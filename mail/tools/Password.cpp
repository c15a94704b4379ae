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

std::string WithoutLineEnd(std::string Line) {
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    return Line;
}

// Turns the terminal's echo off for its lifetime.
class EchoOff {
public:
    explicit EchoOff(int Fd) : FFd(Fd) {
        FOn = tcgetattr(FFd, &FSaved) == 0;
        if (!FOn) return;
        termios quiet = FSaved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        FOn = tcsetattr(FFd, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (FOn) tcsetattr(FFd, TCSAFLUSH, &FSaved);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    int FFd;
    termios FSaved{};
    bool FOn = false;
};

}  // namespace

std::string ReadPasswordFile(const std::string& File) {
    std::ifstream file(File, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot read the password file \"" + File + "\": " + std::strerror(errno));
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
