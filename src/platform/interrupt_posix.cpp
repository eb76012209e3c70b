#include "platform/interrupt.h"

#include <pthread.h>

#include <csignal>

#include "platform/failure.h"

namespace qlcore {
namespace {

volatile std::sig_atomic_t g_signal = 0;

extern "C" void _on_signal(int sig) {
    // A second Ctrl-C while unwinding changes nothing: the first one already
    // set the course, and destructors end the children either way.
    if (g_signal == 0) g_signal = sig;
}

}  // namespace

void install_signal_handlers() {
    struct sigaction sa {};
    sa.sa_handler = _on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: blocked reads must come back with EINTR
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    struct sigaction ign {};
    ign.sa_handler = SIG_IGN;
    sigemptyset(&ign.sa_mask);
    sigaction(SIGPIPE, &ign, nullptr);
}

int interrupt_signal() {
    return g_signal;
}

void check_interrupted() {
    if (g_signal != 0) throw Interrupted{g_signal};
}

void watch_stop_file(const std::filesystem::path& path) {
    // The request is a SIGINT sent to this (the main) thread, so its
    // blocking calls end with EINTR exactly as at a Ctrl-C. The watcher
    // blocks every signal, so the ones from outside still reach this thread.
    const pthread_t main_thread = ::pthread_self();
    sigset_t all, before;
    sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, &before);
    watch_for_file(path, [main_thread] { ::pthread_kill(main_thread, SIGINT); });
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace qlcore
