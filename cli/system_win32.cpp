// system_win32.cpp -- terminal, arguments, interrupts and scratch directories on Windows.
// The command works in UTF-8 throughout (its manifest makes UTF-8 the process's ANSI
// code page, so the library's API strings and the C run-time's paths are UTF-8 too); the
// console is spoken to in UTF-16, pipes and files get the UTF-8 bytes.
// (rand_s is declared only on request)
#define _CRT_RAND_S
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <filesystem>

#include "system.h"

namespace hedgerow::cli {

namespace {

volatile LONG g_interrupted = 0;

std::string Utf8Of(const wchar_t* text, int units) {
    if (units == 0) return {};
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) ::WideCharToMultiByte(CP_UTF8, 0, text, units, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::wstring WideOf(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(units > 0 ? units : 0), L'\0');
    if (units > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), units);
    return out;
}

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && ::GetConsoleMode(handle, &mode) != 0;
}

HANDLE HandleOf(std::FILE* stream) { return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))); }

void WriteConsoleText(HANDLE console, std::string_view utf8) {
    const std::wstring wide = WideOf(utf8);
    size_t done = 0;
    while (done < wide.size()) {
        DWORD written = 0;
        const auto count = static_cast<DWORD>(wide.size() - done < 8192 ? wide.size() - done : 8192);
        if (!::WriteConsoleW(console, wide.data() + done, count, &written, nullptr) || written == 0) return;
        done += written;
    }
}

BOOL WINAPI OnControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT: {
            ::InterlockedExchange(&g_interrupted, 1);
            static const char kNote[] = "\nhedgerow: interrupted; stopping at the next safe point\n";
            DWORD written = 0;
            ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), kNote, sizeof kNote - 1, &written, nullptr);
            // Windows ends the process as soon as the handler of a closing console
            // returns (or after five seconds): waiting gives the operation that time to
            // reach its safe point, and the process ends there.
            if (event == CTRL_CLOSE_EVENT) ::Sleep(5000);
            return TRUE;
        }
        default: return FALSE;
    }
}

// The console's input and output, opened for one prompt.
struct Console {
    HANDLE in = ::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    HANDLE out = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ~Console() {
        if (in != INVALID_HANDLE_VALUE) ::CloseHandle(in);
        if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
    }
    bool Usable() const { return in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE; }
};

std::optional<std::string> Prompt(const std::string& prompt, bool hidden) {
    if (!CanPrompt()) return std::nullopt;
    Console console;
    if (!console.Usable()) return std::nullopt;
    DWORD saved = 0;
    const bool have_mode = ::GetConsoleMode(console.in, &saved) != 0;
    if (have_mode) {
        DWORD mode = saved | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT;
        if (hidden) mode &= ~static_cast<DWORD>(ENABLE_ECHO_INPUT);
        ::SetConsoleMode(console.in, mode);
    }
    WriteConsoleText(console.out, prompt);
    std::wstring line;
    bool ended = false;
    while (!ended) {
        wchar_t piece[256];
        DWORD got = 0;
        if (!::ReadConsoleW(console.in, piece, 256, &got, nullptr) || got == 0 || g_interrupted) {
            // Ctrl-C ends the read before its handler, which runs on a thread of its own,
            // has set the flag: wait for it briefly, so the caller sees an interrupt and
            // not a missing answer.
            for (int wait = 0; wait < 20 && !g_interrupted; ++wait) ::Sleep(10);
            break;
        }
        for (DWORD i = 0; i < got; ++i) {
            if (piece[i] == L'\n') {
                ended = true;
                break;
            }
            if (piece[i] != L'\r') line += piece[i];
        }
    }
    if (have_mode) ::SetConsoleMode(console.in, saved);
    if (hidden || !ended) WriteConsoleText(console.out, "\n");
    std::string result = Utf8Of(line.data(), static_cast<int>(line.size()));
    ::SecureZeroMemory(line.data(), line.size() * sizeof(wchar_t));
    if (!ended || g_interrupted) {
        WipeSecret(result);
        return std::nullopt;
    }
    return result;
}

}  // namespace

std::vector<std::string> CommandArguments(int argc, char** argv) {
    // (called first: a pipe or a file gets the same bytes as on every other system, lines
    // ending in a line feed alone)
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(Utf8Of(wide[i], static_cast<int>(std::wcslen(wide[i]))));
    ::LocalFree(wide);
    return arguments;
}

std::optional<std::string> EnvironmentText(const char* name) {
    const std::wstring wide_name = WideOf(name);
    const DWORD units = ::GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (units == 0) return std::nullopt;
    std::wstring value(units, L'\0');
    const DWORD got = ::GetEnvironmentVariableW(wide_name.c_str(), value.data(), units);
    if (got == 0 || got >= units) return std::nullopt;
    std::string text = Utf8Of(value.data(), static_cast<int>(got));
    ::SecureZeroMemory(value.data(), value.size() * sizeof(wchar_t));
    return text;
}

void WriteText(std::FILE* stream, std::string_view utf8) {
    const HANDLE handle = HandleOf(stream);
    if (IsConsole(handle)) {
        std::fflush(stream);
        WriteConsoleText(handle, utf8);
    } else {
        std::fwrite(utf8.data(), 1, utf8.size(), stream);
    }
}

bool CanPrompt() { return IsConsole(::GetStdHandle(STD_INPUT_HANDLE)); }

std::optional<std::string> PromptLine(const std::string& prompt) { return Prompt(prompt, false); }

std::optional<std::string> PromptSecret(const std::string& prompt) { return Prompt(prompt, true); }

bool StderrIsTerminal() {
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!IsConsole(error) || !::GetConsoleMode(error, &mode)) return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           ::SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int StderrColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info {};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0) return columns;
    }
    return 80;
}

void CatchInterrupts() { ::SetConsoleCtrlHandler(OnControl, TRUE); }

bool Interrupted() { return g_interrupted != 0; }

FirstLine ReadFirstLine(const std::string& path, size_t limit, std::string& line) {
    line.clear();
    const std::wstring wide = WideOf(path);
    // The kind is checked before opening, so that a device (NUL, CON, COM1) is never
    // opened at all, and on the opened handle again.
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return FirstLine::kNotAFile;
    }
    const bool pipe_name = path.rfind("\\\\.\\pipe\\", 0) == 0;
    if (attributes == INVALID_FILE_ATTRIBUTES && !pipe_name) return FirstLine::kUnreadable;
    const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FirstLine::kUnreadable;
    struct Closer {
        HANDLE handle;
        ~Closer() { ::CloseHandle(handle); }
    } closer {file};
    const DWORD type = ::GetFileType(file);
    if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE) return FirstLine::kNotAFile;
    char buffer[512];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_BROKEN_PIPE && error != ERROR_HANDLE_EOF) {
                WipeSecret(line);
                return g_interrupted ? FirstLine::kInterrupted : FirstLine::kUnreadable;
            }
            n = 0;
        }
        const std::string_view got(buffer, n);
        const size_t end = got.find('\n');
        line.append(got.substr(0, end));
        ::SecureZeroMemory(buffer, sizeof buffer);
        if (line.size() > limit) {
            WipeSecret(line);
            return FirstLine::kTooLong;
        }
        if (end != std::string_view::npos || n == 0) break;
        if (g_interrupted) {
            WipeSecret(line);
            return FirstLine::kInterrupted;
        }
    }
    return CompleteFirstLine(line);
}

std::string MakeScratchDirectory() {
    wchar_t base[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH) return {};
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned int draw = 0;
        if (rand_s(&draw) != 0) draw = ::GetTickCount() ^ (::GetCurrentProcessId() << 16) ^ static_cast<unsigned>(attempt);
        wchar_t name[MAX_PATH + 32];
        std::swprintf(name, sizeof name / sizeof name[0], L"%lshedgerow-%08x", base, draw);
        // Created by this call alone, so that no one else's directory is taken for ours.
        if (::CreateDirectoryW(name, nullptr)) return Utf8Of(name, static_cast<int>(std::wcslen(name)));
        if (::GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
    return {};
}

// The library's separator is the system's own here; a '/' the user typed becomes one too.
std::string NativePath(const std::string& library_path) {
    std::string path = library_path;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

// Who may write into a directory is its access list's business, which only the attempt
// itself tells.
std::string WhyCannotWriteInto(const std::filesystem::path&) { return {}; }

void WipeSecret(std::string& secret) {
    ::SecureZeroMemory(secret.data(), secret.size());
    secret.clear();
}

}  // namespace hedgerow::cli
