// Wall clock.
#pragma once

#include <string>

namespace qlcore {

// Seconds since the epoch, with sub-second resolution.
double now_seconds();

// The local date and time as "%Y-%m-%d %H:%M:%S".
std::string local_time_text();

}  // namespace qlcore
