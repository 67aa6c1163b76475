// command_win32.h -- runs hedgerow.exe for end-to-end tests on Windows: with pipes for
// its output and the null device for its input (no console to prompt on, as in a
// script), its arguments passed in UTF-16 as the command line of the new process.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/command_result.h"

namespace hedgerow::testing {

namespace command_detail {

inline std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

// One argument quoted as CommandLineToArgvW reads it back: backslashes are literal
// except before a quote, where they and the quote are escaped.
inline void AppendQuoted(std::wstring& line, const std::wstring& argument) {
    line += L'"';
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

// The program's path as Windows sees it: the build names it by its path on the build
// machine, whose root Wine shows as drive Z:.
inline std::wstring ProgramPath() {
    std::string path = HEDGEROW_CLI_PATH;
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return Wide(path);
}

// The test's environment without the user's passwords, with TZ=UTC and env on top, as
// a block for CreateProcessW.
inline std::wstring EnvironmentBlock(const Environment& env) {
    std::map<std::wstring, std::wstring> variables;
    if (wchar_t* own = ::GetEnvironmentStringsW()) {
        for (const wchar_t* p = own; *p; p += std::wcslen(p) + 1) {
            const std::wstring entry = p;
            const size_t equals = entry.find(L'=', 1);
            if (equals != std::wstring::npos) variables[entry.substr(0, equals)] = entry.substr(equals + 1);
        }
        ::FreeEnvironmentStringsW(own);
    }
    for (const char* name : kPasswordVariables) variables.erase(Wide(name));
    variables[L"TZ"] = L"UTC";
    for (const auto& [name, value] : env) variables[Wide(name)] = Wide(value);
    std::wstring block;
    for (const auto& [name, value] : variables) block += name + L"=" + value + L'\0';
    block += L'\0';
    return block;
}

inline void Drain(HANDLE pipe, std::string* sink) {
    char buffer[4096];
    DWORD n = 0;
    while (::ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) sink->append(buffer, n);
}

}  // namespace command_detail

// Runs the command with input from the null device and both outputs captured.
inline CommandResult RunCommand(const std::vector<std::string>& args, const std::string& cwd,
                                const Environment& env = {}) {
    using namespace command_detail;
    CommandResult result;
    SECURITY_ATTRIBUTES inherit {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE out_read = nullptr, out_write = nullptr, err_read = nullptr, err_write = nullptr;
    if (!::CreatePipe(&out_read, &out_write, &inherit, 0)) return result;
    if (!::CreatePipe(&err_read, &err_write, &inherit, 0)) {
        ::CloseHandle(out_read);
        ::CloseHandle(out_write);
        return result;
    }
    ::SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
    HANDLE null_in = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                   0, nullptr);
    const std::wstring program = ProgramPath();
    std::wstring line;
    AppendQuoted(line, program);
    for (const std::string& a : args) {
        line += L' ';
        AppendQuoted(line, Wide(a));
    }
    std::wstring block = EnvironmentBlock(env);
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null_in;
    startup.hStdOutput = out_write;
    startup.hStdError = err_write;
    PROCESS_INFORMATION process {};
    const std::wstring directory = Wide(cwd);
    // No console of its own: nothing to prompt on, as for a script.
    const BOOL started = ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                                          CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, block.data(),
                                          directory.empty() ? nullptr : directory.c_str(), &startup, &process);
    ::CloseHandle(out_write);
    ::CloseHandle(err_write);
    if (null_in != INVALID_HANDLE_VALUE) ::CloseHandle(null_in);
    if (started) {
        std::thread errors(Drain, err_read, &result.err);
        Drain(out_read, &result.out);
        errors.join();
        ::WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        ::GetExitCodeProcess(process.hProcess, &code);
        result.exit_code = static_cast<int>(code);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(out_read);
    ::CloseHandle(err_read);
    return result;
}

}  // namespace hedgerow::testing
