#include <stdlib.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "platform/system.h"

namespace qlcore {

std::vector<std::string> program_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

// A POSIX terminal takes the program's UTF-8 bytes unchanged.
void console_utf8() {}
void restore_console() {}

// Nothing here asks the system to stay awake on a program's behalf.
void keep_system_awake() {}

void set_env_default(const char* name, const std::string& value) {
    ::setenv(name, value.c_str(), 0);
}

unsigned long process_id() {
    return static_cast<unsigned long>(::getpid());
}

std::string machine_name() {
    struct utsname u;
    return ::uname(&u) == 0 ? std::string(u.machine) : std::string();
}

}  // namespace qlcore
