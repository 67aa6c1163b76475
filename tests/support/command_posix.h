// command_posix.h -- runs the hedgerow command for end-to-end tests: with pipes (no
// terminal, as in a script) or on a pseudo-terminal (as a user at a keyboard).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "support/command_result.h"

namespace hedgerow::testing {

namespace command_detail {

// In the child: the working directory, an environment without the user's passwords, then
// the command itself.
[[noreturn]] inline void ExecCommand(const std::string& cwd, const std::vector<std::string>& args,
                                     const Environment& env) {
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    for (const char* name : kPasswordVariables) {
        ::unsetenv(name);
    }
    ::setenv("TZ", "UTC", 1);
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    std::string program = HEDGEROW_CLI_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
}

inline int DecodeWait(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace command_detail

// Runs the command with standard input empty and both outputs captured. The child gets a
// session of its own, so it has no controlling terminal and never prompts. With a time
// limit (milliseconds), a command still running then is killed (timed_out).
inline CommandResult RunCommand(const std::vector<std::string>& args, const std::string& cwd,
                                const Environment& env = {}, int limit_ms = -1) {
    int out_pipe[2];
    int err_pipe[2];
    CommandResult result;
    if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) return result;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        const int null_in = ::open("/dev/null", O_RDONLY);
        ::dup2(null_in, STDIN_FILENO);
        ::dup2(out_pipe[1], STDOUT_FILENO);
        ::dup2(err_pipe[1], STDERR_FILENO);
        ::close(out_pipe[0]);
        ::close(err_pipe[0]);
        command_detail::ExecCommand(cwd, args, env);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (open_count > 0) {
        int wait_ms = -1;
        if (limit_ms >= 0) {
            wait_ms = static_cast<int>(std::max<int64_t>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                       .count()));
        }
        const int ready = ::poll(fds, 2, wait_ms);
        if (ready < 0) break;
        if (ready == 0) {
            ::kill(pid, SIGKILL);
            result.timed_out = true;
            for (pollfd& fd : fds) {
                if (fd.fd >= 0) ::close(fd.fd);
            }
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exit_code = command_detail::DecodeWait(status);
    return result;
}

// The command on a pseudo-terminal: standard input, output and error are the terminal,
// which is also its controlling terminal.
class TerminalSession {
public:
    TerminalSession(const std::vector<std::string>& args, const std::string& cwd, const Environment& env = {}) {
        winsize size {};
        size.ws_col = 100;
        size.ws_row = 30;
        pid_ = ::forkpty(&master_, nullptr, nullptr, &size);
        if (pid_ == 0) command_detail::ExecCommand(cwd, args, env);
    }
    ~TerminalSession() {
        if (pid_ > 0 && exit_code_ < 0) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        if (master_ >= 0) ::close(master_);
    }
    TerminalSession(const TerminalSession&) = delete;
    TerminalSession& operator=(const TerminalSession&) = delete;

    // Reads until `text` has appeared after what earlier calls consumed; false on timeout
    // or when the command ends first.
    bool Expect(const std::string& text, int timeout_ms = 20000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            const size_t found = transcript_.find(text, consumed_);
            if (found != std::string::npos) {
                consumed_ = found + text.size();
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                   std::chrono::steady_clock::now());
            if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return false;
        }
    }

    void Send(const std::string& text) { (void)!::write(master_, text.data(), text.size()); }
    void Signal(int signal_number) { ::kill(pid_, signal_number); }

    // Waits for the command to end, keeping what it still writes; its exit code.
    int Wait() {
        while (ReadSome(20000)) {
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
        exit_code_ = command_detail::DecodeWait(status);
        return exit_code_;
    }

    const std::string& transcript() const { return transcript_; }

private:
    bool ReadSome(int timeout_ms) {
        pollfd fd {master_, POLLIN, 0};
        if (::poll(&fd, 1, timeout_ms) <= 0) return false;
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) return false;  // EIO once the command has closed the terminal
        transcript_.append(buffer, static_cast<size_t>(n));
        return true;
    }

    int master_ = -1;
    pid_t pid_ = -1;
    int exit_code_ = -1;
    std::string transcript_;
    size_t consumed_ = 0;
};

}  // namespace hedgerow::testing
