// Ctrl-C and termination requests.
//
// The handlers only record the signal; blocking reads and writes return with
// EINTR and the frame loops call check_interrupted(), which throws
// Interrupted so the stack unwinds through every RAII owner.
#pragma once

#include <filesystem>
#include <functional>

namespace qlcore {

// Installs the SIGINT/SIGTERM handlers (without SA_RESTART) and ignores SIGPIPE.
void install_signal_handlers();

// The signal received so far, or 0.
int interrupt_signal();

// Throws Interrupted when a signal arrived.
void check_interrupted();

// Takes a file appearing at `path` as a Ctrl-C (SIGINT): a thread looks for
// it a few times a second. A script that started the program asks it to
// stop so where ending it outright would leave its work in progress behind
// (Windows' TerminateProcess runs no handler at all). Called on the main
// thread; a later call watches its path instead.
void watch_stop_file(const std::filesystem::path& path);

// Calls `found` once, from a thread of its own, when a file appears at
// `path`; a later call replaces both. The thread is joined when the program
// exits. What watch_stop_file of each platform builds on.
void watch_for_file(const std::filesystem::path& path, std::function<void()> found);

}  // namespace qlcore
