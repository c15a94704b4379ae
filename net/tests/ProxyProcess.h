#pragma once
// Proxy servers from the system's packages, started on loopback by a test
// with a configuration it writes to a temporary folder, stopped afterwards.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "net/tests/LoopbackServer.h"

extern char** environ;

namespace tandrel::net::test {

/// A fresh folder under the system's temporary folder, removed with its
/// contents on destruction.
class TTempDir {
public:
  TTempDir() {
    std::string Pattern = (std::filesystem::temp_directory_path() / "tandrel-net-XXXXXX").string();
    if (::mkdtemp(Pattern.data()) == nullptr)
      throw std::runtime_error("mkdtemp");
    FPath = Pattern;
  }
  ~TTempDir() {
    std::error_code Ignored;
    std::filesystem::remove_all(FPath, Ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  [[nodiscard]] const std::filesystem::path& Path() const { return FPath; }
  /// Writes a file into the folder; returns its full name.
  std::string Write(const std::string& Name, const std::string& Text) const {
    const auto File = FPath / Name;
    std::ofstream(File) << Text;
    return File.string();
  }

private:
  std::filesystem::path FPath;
};

/// A child process, terminated and reaped on destruction.
class TChildProcess {
public:
  TChildProcess(const std::vector<std::string>& Arguments, const std::string& OutputFile) {
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_addopen(&Actions, STDOUT_FILENO, OutputFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&Actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> Argv;
    for (const std::string& Argument : Arguments)
      Argv.push_back(const_cast<char*>(Argument.c_str()));
    Argv.push_back(nullptr);
    if (posix_spawn(&FPid, Argv[0], &Actions, nullptr, Argv.data(), environ) != 0)
      FPid = -1;
    posix_spawn_file_actions_destroy(&Actions);
  }
  ~TChildProcess() {
    if (FPid <= 0)
      return;
    ::kill(FPid, SIGTERM);
    int Status = 0;
    ::waitpid(FPid, &Status, 0);
  }
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  [[nodiscard]] bool Started() const { return FPid > 0; }

private:
  pid_t FPid = -1;
};

/// A loopback port free at the moment of the call.
inline int FreePort() {
  TListener Listener;
  return std::stoi(Listener.Port());
}

/// True once something accepts connections on the loopback port (within
/// about five seconds).
inline bool WaitListening(int Port) {
  for (int Try = 0; Try < 100; ++Try) {
    const int Handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in Sin{};
    Sin.sin_family = AF_INET;
    Sin.sin_port = htons(static_cast<std::uint16_t>(Port));
    Sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool Up = ::connect(Handle, reinterpret_cast<sockaddr*>(&Sin), sizeof Sin) == 0;
    ::close(Handle);
    if (Up)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

/// Full name of the first of Candidates that exists; empty when none does.
inline std::string FindProgram(const std::vector<std::string>& Candidates) {
  for (const std::string& Candidate : Candidates)
    if (::access(Candidate.c_str(), X_OK) == 0)
      return Candidate;
  return {};
}

/// Runs a command line through /bin/sh; true when it exits with 0.
inline bool RunQuietly(const std::string& Command) {
  return std::system((Command + " >/dev/null 2>&1").c_str()) == 0;
}

/// A proxy program from the system's packages, listening on a free loopback
/// port with the configuration it is given; Up() is false when the program
/// is missing or did not start.
class TProxyServer {
public:
  /// Config gets the port and the folder and gives the configuration text;
  /// CommandLine gets the program and the configuration file.
  TProxyServer(const std::vector<std::string>& Programs, const std::string& Name,
               const std::function<std::string(int Port, const TTempDir& Dir)>& Config,
               const std::function<std::vector<std::string>(const std::string& Program,
                                                            const std::string& ConfigFile)>& CommandLine)
      : FPort(FreePort()) {
    const std::string Program = FindProgram(Programs);
    if (Program.empty())
      return;
    const std::string File = FDir.Write(Name + ".conf", Config(FPort, FDir));
    FProcess = std::make_unique<TChildProcess>(CommandLine(Program, File),
                                               (FDir.Path() / (Name + ".out")).string());
    FUp = FProcess->Started() && WaitListening(FPort);
  }
  [[nodiscard]] bool Up() const { return FUp; }
  [[nodiscard]] std::string Port() const { return std::to_string(FPort); }

private:
  TTempDir FDir;
  int FPort;
  std::unique_ptr<TChildProcess> FProcess;
  bool FUp = false;
};

}  // namespace tandrel::net::test
