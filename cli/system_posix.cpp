// system_posix.cpp -- arguments, terminal, interrupts and scratch directories on POSIX
// systems, where arguments and the terminal are UTF-8 already.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "system.h"

namespace hedgerow::cli {

namespace {

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
    static const char kNote[] = "\nhedgerow: interrupted; stopping at the next safe point\n";
    (void)!write(STDERR_FILENO, kNote, sizeof kNote - 1);
}

// The controlling terminal, opened for one prompt.
struct Tty {
    int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    ~Tty() {
        if (fd >= 0) ::close(fd);
    }
};

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// Reads up to the line end. Nothing at end of input or when a signal breaks the read
// (the interrupt handler is installed without SA_RESTART for this).
std::optional<std::string> ReadLine(int fd) {
    std::string line;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR && !g_interrupted) continue;
        if (n <= 0 || g_interrupted) {
            WipeSecret(line);
            return std::nullopt;
        }
        if (c == '\n') break;
        line += c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::optional<std::string> Prompt(const std::string& prompt, bool hidden) {
    if (!CanPrompt()) return std::nullopt;
    Tty tty;
    if (tty.fd < 0) return std::nullopt;
    termios saved {};
    const bool have_modes = ::tcgetattr(tty.fd, &saved) == 0;
    if (hidden && have_modes) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        (void)::tcsetattr(tty.fd, TCSAFLUSH, &quiet);
    }
    WriteAll(tty.fd, prompt);
    std::optional<std::string> line = ReadLine(tty.fd);
    if (hidden && have_modes) (void)::tcsetattr(tty.fd, TCSAFLUSH, &saved);
    if (!line && g_interrupted) WriteAll(tty.fd, "\n");
    return line;
}

}  // namespace

std::vector<std::string> CommandArguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

std::optional<std::string> EnvironmentText(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void WriteText(std::FILE* stream, std::string_view utf8) { std::fwrite(utf8.data(), 1, utf8.size(), stream); }

bool CanPrompt() {
    if (!::isatty(STDIN_FILENO)) return false;
    Tty tty;
    return tty.fd >= 0;
}

std::optional<std::string> PromptLine(const std::string& prompt) { return Prompt(prompt, false); }

std::optional<std::string> PromptSecret(const std::string& prompt) { return Prompt(prompt, true); }

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

int StderrColumns() {
    winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a prompt waiting for input must wake up
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) (void)::sigaction(signal_number, &action, nullptr);
    // A closed pipe on standard output (`hedgerow a -v ... | head`) must not end the
    // process inside the library; the failed write is simply lost.
    (void)::signal(SIGPIPE, SIG_IGN);
}

bool Interrupted() { return g_interrupted != 0; }

FirstLine ReadFirstLine(const std::string& path, size_t limit, std::string& line) {
    line.clear();
    // The kind is checked before opening, so that a device is never opened at all, and on
    // the opened file again, in case the name was changed in between.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return FirstLine::kUnreadable;
    if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode)) return FirstLine::kNotAFile;
    int fd = -1;
    while ((fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC)) < 0 && errno == EINTR) {
        if (g_interrupted) return FirstLine::kInterrupted;  // a pipe that nobody writes to
    }
    if (fd < 0) return FirstLine::kUnreadable;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer {fd};
    if (::fstat(fd, &info) != 0) return FirstLine::kUnreadable;
    if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode)) return FirstLine::kNotAFile;
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            if (g_interrupted) {
                WipeSecret(line);
                return FirstLine::kInterrupted;
            }
            continue;
        }
        if (n < 0) {
            WipeSecret(line);
            return FirstLine::kUnreadable;
        }
        const std::string_view got(buffer, static_cast<size_t>(n));
        const size_t end = got.find('\n');
        line.append(got.substr(0, end));
        volatile char* scratch = buffer;
        for (size_t i = 0; i < sizeof buffer; ++i) scratch[i] = 0;
        if (line.size() > limit) {
            WipeSecret(line);
            return FirstLine::kTooLong;
        }
        if (end != std::string_view::npos || n == 0) break;
    }
    return CompleteFirstLine(line);
}

std::string MakeScratchDirectory() {
    std::error_code error;
    std::string pattern = (std::filesystem::temp_directory_path(error) / "hedgerow-XXXXXX").string();
    if (error) return {};
    const char* made = ::mkdtemp(pattern.data());
    return made ? std::string(made) : std::string();
}

std::string NativePath(const std::string& library_path) {
    std::string path = library_path;
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

std::string WhyCannotWriteInto(const std::filesystem::path& directory) {
    return ::access(directory.c_str(), W_OK | X_OK) != 0 ? std::strerror(errno) : std::string();
}

void WipeSecret(std::string& secret) {
    volatile char* p = secret.data();
    for (size_t i = 0; i < secret.size(); ++i) p[i] = 0;
    secret.clear();
}

}  // namespace hedgerow::cli
