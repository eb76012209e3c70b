// Ctrl-C and termination requests.
//
// The handlers only record the signal; blocking reads and writes return with
// EINTR and the frame loops call check_interrupted(), which throws
// Interrupted so the stack unwinds through every RAII owner.
#pragma once

namespace qlcore {

// Installs the SIGINT/SIGTERM handlers (without SA_RESTART) and ignores SIGPIPE.
void install_signal_handlers();

// The signal received so far, or 0.
int interrupt_signal();

// Throws Interrupted when a signal arrived.
void check_interrupted();

}  // namespace qlcore
