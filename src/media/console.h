// Console output: whole lines and the self-overwriting progress line.
#pragma once

#include <string>

namespace qlcore {

// Writes msg and a line break to stdout and flushes at once.
void log(const std::string& msg);

// The progress line text (carriage return first, no line break).
std::string progress_text(const std::string& label, long long i, long long total, double elapsed);

// Rewrites the progress line; t0 is the start in now_seconds() terms.
void progress(const std::string& label, long long i, long long total, double t0);

}  // namespace qlcore
