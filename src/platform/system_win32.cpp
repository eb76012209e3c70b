#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <cstdio>

#include "platform/system.h"
#include "platform/win32.h"

namespace qlcore {

std::wstring widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(std::wstring_view utf16, unsigned code_page) {
    if (utf16.empty()) return {};
    const int n = ::WideCharToMultiByte(code_page, 0, utf16.data(), static_cast<int>(utf16.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(code_page, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n,
                          nullptr, nullptr);
    return out;
}

std::string windows_error_text(unsigned long error) {
    wchar_t* buf = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    std::string text = n ? narrow(std::wstring_view(buf, n)) : std::string();
    if (buf) ::LocalFree(buf);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    if (text.empty()) text = "error " + std::to_string(error);
    return text;
}

std::string windows_exit_description(unsigned long code) {
    // NTSTATUS error values: the process did not exit by itself.
    if ((code & 0xC0000000UL) != 0xC0000000UL) return {};
    char buf[32];
    std::snprintf(buf, sizeof buf, "exception 0x%08lX", code);
    return buf;
}

std::vector<std::string> program_arguments(int argc, char** argv) {
    int n = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &n);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < n; ++i)
        args.push_back(narrow(wide[i]));
    ::LocalFree(wide);
    return args;
}

namespace {

// What the console was like before the program changed it. The console
// outlives the program: a batch file running more commands in it after
// this one needs its own code page back, and its window its selection.
struct ConsoleBefore {
    UINT output_cp = 0;  // 0: left alone
    HANDLE input = nullptr;
    DWORD input_mode = 0;
    bool input_changed = false;
    ~ConsoleBefore() { restore_console(); }
};

ConsoleBefore& _before() {
    static ConsoleBefore before;
    return before;
}

}  // namespace

// The console shows the program's UTF-8 bytes as they are; output to a file
// or pipe is not touched by the code page at all. A click into the window
// would start a selection (QuickEdit) that blocks every write until it ends,
// and with it both ffmpeg pipes: an overnight batch would stall, so the
// selection is off while the program runs.
void console_utf8() {
    ConsoleBefore& before = _before();
    const UINT cp = ::GetConsoleOutputCP();
    if (cp != 0 && cp != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) before.output_cp = cp;
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (in && in != INVALID_HANDLE_VALUE && ::GetConsoleMode(in, &mode) &&
        (mode & ENABLE_QUICK_EDIT_MODE) &&
        ::SetConsoleMode(in, (mode | ENABLE_EXTENDED_FLAGS) & ~ENABLE_QUICK_EDIT_MODE)) {
        before.input = in;
        before.input_mode = mode;
        before.input_changed = true;
    }
}

void restore_console() {
    ConsoleBefore& before = _before();
    if (before.output_cp != 0) ::SetConsoleOutputCP(before.output_cp);
    before.output_cp = 0;
    if (before.input_changed) ::SetConsoleMode(before.input, before.input_mode);
    before.input_changed = false;
}

void keep_system_awake() {
    ::SetThreadExecutionState(static_cast<EXECUTION_STATE>(KEEP_AWAKE_FLAGS));
}

void set_env_default(const char* name, const std::string& value) {
    const std::wstring wname = widen(name);
    if (::GetEnvironmentVariableW(wname.c_str(), nullptr, 0) == 0 &&
        ::GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        // Both copies: the system's, read by children and GetEnvironmentVariable,
        // and the C runtime's, read by getenv inside libraries.
        ::SetEnvironmentVariableW(wname.c_str(), widen(value).c_str());
        ::_wputenv_s(wname.c_str(), widen(value).c_str());
    }
}

unsigned long process_id() {
    return ::GetCurrentProcessId();
}

std::string machine_name() {
    SYSTEM_INFO si;
    ::GetNativeSystemInfo(&si);
    switch (si.wProcessorArchitecture) {
        case PROCESSOR_ARCHITECTURE_AMD64:
            return "x86_64";
        case PROCESSOR_ARCHITECTURE_ARM64:
            return "arm64";
        default:
            return "";
    }
}

}  // namespace qlcore
