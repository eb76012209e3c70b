// Small facts and requests of the operating system that the program makes
// once: the console's encoding, staying awake, the environment.
#pragma once

#include <string>
#include <vector>

namespace qlcore {

// The program's arguments as UTF-8: argv as given on POSIX; on Windows read
// again from the wide command line, as argv holds them in the ANSI code page.
std::vector<std::string> program_arguments(int argc, char** argv);

// Switches the console's output to UTF-8 where it has a code page of its own
// (Windows), and turns off the window's QuickEdit selection, which would
// stall the program's output while it lasts; elsewhere the terminal takes
// the program's bytes unchanged.
void console_utf8();

// Puts back what console_utf8 changed; also done when the program exits.
void restore_console();

// The flags value passed to SetThreadExecutionState on Windows: continuous
// and system-required, so the machine does not sleep while this process runs.
inline constexpr unsigned long KEEP_AWAKE_FLAGS = 0x80000001UL;

// Keeps the system from sleeping for the life of the process where the
// system offers that to a program (Windows); elsewhere nothing. Failures
// are ignored.
void keep_system_awake();

// Sets an environment variable unless it is set already, even to "".
void set_env_default(const char* name, const std::string& value);

// This process's id, for names that must not clash between processes.
unsigned long process_id();

// The machine's hardware name ("arm64", "x86_64"); "" where not known.
std::string machine_name();

}  // namespace qlcore
