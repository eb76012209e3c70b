// Which operating system this build is for; nothing is probed at run time.
#pragma once

#include <string>

namespace qlcore {

#if defined(_WIN32)
inline constexpr bool WINDOWS = true;
#else
inline constexpr bool WINDOWS = false;
#endif
#if defined(__APPLE__)
inline constexpr bool MACOS = true;
#else
inline constexpr bool MACOS = false;
#endif

// The platform facts that rules (encoders, hardware decoding, photo order,
// the program search) depend on, as a value: the program passes its own
// build's, tests pass any, so every platform's rows are tested everywhere.
struct Platform {
    bool macos = false;
    bool windows = false;
    std::string machine;  // hardware name on macOS ("arm64" on Apple silicon)
};

// This build's platform; the hardware name is asked for on macOS only.
Platform this_platform();

}  // namespace qlcore
