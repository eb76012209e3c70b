#include <windows.h>

#include <atomic>
#include <csignal>
#include <thread>

#include "platform/failure.h"
#include "platform/interrupt.h"
#include "platform/win32.h"

namespace qlcore {
namespace {

std::atomic<int> g_signal{0};

// Runs on a thread of its own (the console's, or the stop file's watcher).
// Ending the children ends every pipe read, write and wait the main thread
// is blocked in; it then finds the request, throws Interrupted and unwinds
// through every owner of a temporary file.
void _request_stop(int sig) {
    int expected = 0;
    g_signal.compare_exchange_strong(expected, sig);
    end_all_children();
}

BOOL WINAPI _on_console_event(DWORD type) {
    const bool closing =
        type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT;
    _request_stop(closing ? SIGTERM : SIGINT);
    // The system ends the process when this returns from a close event: wait
    // instead, so the main thread can clean up and exit (the system allows
    // a few seconds).
    if (closing) ::Sleep(INFINITE);
    return TRUE;
}

// A program that loads user32 (shell32 does) gets no console event at
// logoff or shutdown, Windows' restart for updates among them: the system
// asks its windows instead. This hidden window answers for the program.
LRESULT CALLBACK _on_window_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_QUERYENDSESSION) {
        _request_stop(SIGTERM);
        return TRUE;
    }
    // The session ends once this returns: wait instead, so the main thread
    // can clean up and exit (the system allows a few seconds).
    if (message == WM_ENDSESSION && wparam) ::Sleep(INFINITE);
    return ::DefWindowProcW(window, message, wparam, lparam);
}

void _end_session_window() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = _on_window_message;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"qlcore end of session";
    if (!::RegisterClassW(&wc)) return;
    // Top-level, not message-only: only those hear the session's end.
    HWND window = ::CreateWindowExW(0, wc.lpszClassName, L"qlcore", 0, 0, 0, 0, 0, nullptr, nullptr,
                                    wc.hInstance, nullptr);
    if (!window) return;
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0)
        ::DispatchMessageW(&msg);
}

}  // namespace

void install_signal_handlers() {
    ::SetConsoleCtrlHandler(_on_console_event, TRUE);
    std::thread(_end_session_window).detach();
}

int interrupt_signal() {
    return g_signal.load();
}

void check_interrupted() {
    if (const int sig = g_signal.load(); sig != 0) throw Interrupted{sig};
}

void watch_stop_file(const std::filesystem::path& path) {
    watch_for_file(path, [] { _request_stop(SIGINT); });
}

}  // namespace qlcore
