// Frame rates as ffmpeg writes them ("30000/1001", "29.97"), and snapping a
// clip's rate to the standard one it is meant to be.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace qlcore {

inline constexpr std::array<const char*, 13> STANDARD_RATES = {
    "24000/1001", "24/1", "25/1",  "30000/1001",  "30/1",  "48/1", "50/1",
    "60000/1001", "60/1", "100/1", "120000/1001", "120/1", "240/1"};

// A rate text as a double; 0.0 when unreadable, zero or infinite.
double rate_value(const std::optional<std::string>& r);

// The standard rate within 0.6 % of the average rate, else of the raw rate;
// else the first readable of the two as it stands; else nothing.
std::optional<std::string> snap_rate(const std::optional<std::string>& avg,
                                     const std::optional<std::string>& raw);

}  // namespace qlcore
