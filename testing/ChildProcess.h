#pragma once
// A child process that a test runs as its peer (an SMTP server, openssl, a proxy).
// The test writes to its standard input and reads what it prints; the destructor
// ends and reaps it, so no peer outlives the test that started it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tandrel::testing {

/// How a child is started and stopped.
struct ChildOptions {
    /// Folder the child starts in; empty: the test's own.
    std::string WorkDir{};
    /// Standard error goes into the same pipe as standard output.
    bool MergeStderr = false;
    /// Non-empty: standard output and error go to this file instead of a pipe.
    std::string OutputFile{};
    /// The child ends by itself once its standard input closes; stopping gives it
    /// time to do so (and to finish its output) before it is signalled.
    bool EndsOnInputClose = false;
};

/// One running child. Throws std::runtime_error when it cannot be started.
class ChildProcess {
public:
    /// Argv[0] is looked up on PATH unless it holds a slash.
    explicit ChildProcess(const std::vector<std::string>& Argv, ChildOptions Options = {})
        : FOptions(std::move(Options)) {
        if (Argv.empty()) throw std::runtime_error("no program to start");
        int in[2];
        int out[2] = {-1, -1};
        const bool piped = FOptions.OutputFile.empty();
        if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        if (piped && ::pipe2(out, O_CLOEXEC) != 0) {
            ::close(in[0]);
            ::close(in[1]);
            throw std::runtime_error("pipe failed");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        if (piped) {
            posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
            if (FOptions.MergeStderr) posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, FOptions.OutputFile.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
            posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        }
        if (!FOptions.WorkDir.empty())
            posix_spawn_file_actions_addchdir_np(&actions, FOptions.WorkDir.c_str());
        std::vector<char*> args;
        for (const auto& a : Argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const int rc = ::posix_spawnp(&FPid, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        if (piped) ::close(out[1]);
        FStdin = in[1];
        FStdout = out[0];
        if (rc != 0) {
            FPid = -1;
            Stop();
            throw std::runtime_error("cannot start " + Argv[0] + ": " + std::strerror(rc));
        }
    }
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// Writes to the child's standard input; false when the pipe is gone.
    bool Write(const std::string& Data) {
        std::size_t done = 0;
        while (done < Data.size()) {
            if (FStdin < 0) return false;
            const ssize_t n = ::write(FStdin, Data.data() + done, Data.size() - done);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    void CloseStdin() {
        if (FStdin >= 0) ::close(FStdin);
        FStdin = -1;
    }

    /// Reads output until Needle shows up anywhere in it (true), or no output comes
    /// for TimeoutMs or the child closes its output (false).
    bool WaitFor(const std::string& Needle, int TimeoutMs = 10000) {
        while (FOutput.find(Needle) == std::string::npos)
            if (!ReadSome(TimeoutMs)) return false;
        return true;
    }

    /// The next whole output line not yet taken by ReadLine, without its LF; nothing
    /// when no line is complete within TimeoutMs or the output ends first.
    std::optional<std::string> ReadLine(int TimeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
        std::size_t nl;
        while ((nl = FOutput.find('\n', FLineAt)) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return std::nullopt;
        }
        std::string line = FOutput.substr(FLineAt, nl - FLineAt);
        FLineAt = nl + 1;
        return line;
    }

    /// Closes the child's standard input and waits for it to end; its exit code,
    /// or -1 when it did not exit normally.
    int Wait() {
        CloseStdin();
        while (ReadSome(60000)) {
        }
        int status = 0;
        if (FPid <= 0 || ::waitpid(FPid, &status, 0) != FPid) return -1;
        FPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    /// Ends the child (see ChildOptions::EndsOnInputClose), collecting what it still
    /// prints, and reaps it. Safe to call more than once.
    void Stop() {
        CloseStdin();
        if (FPid > 0) {
            if (!(FOptions.EndsOnInputClose && ExitsWithin(std::chrono::seconds(10)))) {
                ::kill(FPid, SIGTERM);  // only the child this object started
                if (!ExitsWithin(std::chrono::seconds(5))) {
                    ::kill(FPid, SIGKILL);
                    int status = 0;
                    ::waitpid(FPid, &status, 0);
                }
            }
            FPid = -1;
        }
        while (ReadSome(0)) {
        }
        if (FStdout >= 0) ::close(FStdout);
        FStdout = -1;
    }

    /// Everything the child printed so far (with ChildOptions::OutputFile: nothing).
    [[nodiscard]] const std::string& Output() const { return FOutput; }

private:
    // True once the child has ended and been reaped; reads its output meanwhile so
    // that a full pipe does not hold it up.
    bool ExitsWithin(std::chrono::seconds Limit) {
        const auto deadline = std::chrono::steady_clock::now() + Limit;
        while (true) {
            int status = 0;
            if (::waitpid(FPid, &status, WNOHANG) != 0) return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            if (!ReadSome(20)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // Appends what arrives within TimeoutMs; false on timeout or at the end of output.
    bool ReadSome(int TimeoutMs) {
        if (FStdout < 0) return false;
        pollfd p{FStdout, POLLIN, 0};
        int r;
        do {
            r = ::poll(&p, 1, TimeoutMs);
        } while (r < 0 && errno == EINTR);
        if (r <= 0) return false;
        char buf[8192];
        const ssize_t n = ::read(FStdout, buf, sizeof buf);
        if (n <= 0) {
            ::close(FStdout);
            FStdout = -1;
            return false;
        }
        FOutput.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    ChildOptions FOptions;
    pid_t FPid = -1;
    int FStdin = -1;
    int FStdout = -1;
    std::string FOutput;
    std::size_t FLineAt = 0;
};

}  // namespace tandrel::testing
