#include <windows.h>

#include <atomic>
#include <csignal>

#include "platform/failure.h"
#include "platform/interrupt.h"
#include "platform/win32.h"

namespace qlcore {
namespace {

std::atomic<int> g_signal{0};

// Runs on a thread of its own. Ending the children ends every pipe read,
// write and wait the main thread is blocked in; it then finds the request,
// throws Interrupted and unwinds through every owner of a temporary file.
BOOL WINAPI _on_console_event(DWORD type) {
    const bool closing =
        type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT;
    int expected = 0;
    g_signal.compare_exchange_strong(expected, closing ? SIGTERM : SIGINT);
    end_all_children();
    // The system ends the process when this returns from a close event: wait
    // instead, so the main thread can clean up and exit (the system allows
    // a few seconds).
    if (closing) ::Sleep(INFINITE);
    return TRUE;
}

}  // namespace

void install_signal_handlers() {
    ::SetConsoleCtrlHandler(_on_console_event, TRUE);
}

int interrupt_signal() {
    return g_signal.load();
}

void check_interrupted() {
    if (const int sig = g_signal.load(); sig != 0) throw Interrupted{sig};
}

}  // namespace qlcore
