#pragma once
// A child process for the TLS tests: the openssl command line tool as a peer.
// Its stdout and stderr come back through one pipe, its stdin is a pipe the
// test writes to. The destructor ends the child, so no peer outlives its test.

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tandrel::net::testing {

/// One running child. Throws std::runtime_error when it cannot be started.
class TlsProcess {
public:
  TlsProcess(const std::vector<std::string>& argv, const std::string& workdir) {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    if (!workdir.empty())
      posix_spawn_file_actions_addchdir_np(&actions, workdir.c_str());
    std::vector<char*> args;
    for (const auto& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = ::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    if (rc != 0) {
      pid_ = -1;
      throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    }
  }
  TlsProcess(const TlsProcess&) = delete;
  TlsProcess& operator=(const TlsProcess&) = delete;
  ~TlsProcess() {
    CloseStdin();
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (stdout_ >= 0)
      ::close(stdout_);
  }

  /// Writes to the child's stdin; false when the pipe is gone.
  bool Write(const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = ::write(stdin_, data.data() + done, data.size() - done);
      if (n <= 0)
        return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  void CloseStdin() {
    if (stdin_ >= 0)
      ::close(stdin_);
    stdin_ = -1;
  }

  /// Reads output until `needle` shows up (true) or `timeoutMs` passes or the
  /// child closes its output (false).
  bool WaitFor(const std::string& needle, int timeoutMs = 10000) {
    while (output_.find(needle) == std::string::npos) {
      if (!ReadSome(timeoutMs))
        return false;
    }
    return true;
  }

  /// Waits for the child to end (closing its stdin first); its exit code, or -1.
  int Wait() {
    CloseStdin();
    while (ReadSome(60000)) {
    }
    int status = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &status, 0) != pid_)
      return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  /// Everything the child printed so far.
  const std::string& Output() const { return output_; }

private:
  bool ReadSome(int timeoutMs) {
    if (stdout_ < 0)
      return false;
    pollfd p{stdout_, POLLIN, 0};
    int r;
    do {
      r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r <= 0)
      return false;
    char buf[4096];
    const ssize_t n = ::read(stdout_, buf, sizeof buf);
    if (n <= 0) {
      ::close(stdout_);
      stdout_ = -1;
      return false;
    }
    output_.append(buf, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  std::string output_;
};

}  // namespace tandrel::net::testing
