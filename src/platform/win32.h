// Helpers shared by the Windows implementation files; nothing outside
// src/platform includes this.
#pragma once

#include <string>
#include <string_view>

namespace qlcore {

// UTF-8 to UTF-16 and back (or to another code page: 0 is the ANSI one);
// invalid sequences become U+FFFD.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16, unsigned code_page = 65001);

// The system's text for an error code, without its closing line break.
std::string windows_error_text(unsigned long error);

// What ended a process with this exit code when the system ended it (an
// exception such as 0xC0000005, or a console close): "" for ordinary codes.
std::string windows_exit_description(unsigned long code);

// Ends every child this process started (they share one job object).
void end_all_children();

}  // namespace qlcore
